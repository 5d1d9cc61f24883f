#include "app/AppDelegate.h"
#include "app/InstanceIdentity.h"
#include "platform/Application.h"
#include "platform/InstallLayout.h"
#include "store/Store.h"
#include "updates/UpdateInstaller.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <glib.h>
#include <unistd.h>

namespace {

// Whether this copy can start: what an update runs on a newly installed version before it
// keeps it.
int selfCheck()
{
    std::error_code error;
    auto resources = quillpost::InstallLayout::sharedFiles();
    bool whole = std::filesystem::is_regular_file(resources / "app" / "index.html", error)
        && std::filesystem::is_regular_file(resources / "pdfcraft" / "index.html", error);
    std::printf("Quillpost %s: %s\n", QUILLPOST_VERSION, whole ? "ready" : "its files are incomplete");
    return whole ? 0 : 1;
}

quillpost::InstanceRun runFromEnvironment()
{
    quillpost::InstanceRun run;
    run.dataFolder = quillpost::Store::locationFromEnvironment().directory;
    run.defaultDataFolder = std::filesystem::path(g_get_user_data_dir()) / "Quillpost";
    run.selfTest = std::getenv("QUILLPOST_SELFTEST") && !std::getenv("QUILLPOST_TEST_SCRIPT");
    return run;
}

}

int main(int argc, char** argv)
{
    if (argc == 2 && !std::strcmp(argv[1], "--self-check"))
        return selfCheck();
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("Quillpost %s\n", QUILLPOST_VERSION);
        return 0;
    }

    // A new version that twice failed to show its page gives way to the previous one.
    quillpost::UpdateInstaller installer(quillpost::InstallLayout::prefix());
    if (installer.atStart() == quillpost::UpdateInstaller::StartOutcome::RolledBack) {
        auto executable = installer.executable();
        ::execv(executable.c_str(), argv);
    }

    auto identity = quillpost::instanceIdentity(runFromEnvironment());
    auto application = quillpost::Application::create(identity.applicationId, identity.unique);
    quillpost::AppDelegate delegate(*application);
    int status = application->run(argc, argv, [&delegate] { delegate.applicationDidFinishLaunching(); });
    delegate.applicationWillTerminate();
    return status;
}
