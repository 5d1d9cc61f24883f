#include "updates/Updater.h"

#include "net/Deployment.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/InstallLayout.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/ProcessRunner.h"
#include "store/Store.h"

#include <cstdlib>

namespace quillpost {

Updater::Settings Updater::Settings::fromEnvironment()
{
    Settings settings;
    settings.ownDataFolder = std::getenv("QUILLPOST_DATA_DIR") != nullptr;
    settings.feedURL = Deployment::updateFeedURL;
    settings.publicKey = Deployment::updatePublicKey;
    settings.runningVersion = QUILLPOST_VERSION;
    settings.prefix = InstallLayout::prefix();
    // The test mode installs without asking, so it exists only in test runs.
    if (std::getenv("QUILLPOST_SELFTEST")) {
        if (const char* log = std::getenv("QUILLPOST_UPDATE_TEST"); log && *log) {
            settings.testLog = std::filesystem::path(log);
            if (const char* feed = std::getenv("QUILLPOST_FEED_URL"))
                settings.feedURL = feed;
            if (const char* key = std::getenv("QUILLPOST_TEST_UPDATE_KEY"); key && *key)
                settings.publicKey = key;
        }
    }
    return settings;
}

Updater& Updater::shared()
{
    static Updater updater({ Store::shared(), MainQueue::shared(), Clock::system(), HttpClient::shared(), ProcessRunner::shared(),
                               [](const std::string& message) { Log::error(message); } },
        Settings::fromEnvironment());
    return updater;
}

}
