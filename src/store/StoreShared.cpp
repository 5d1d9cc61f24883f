#include "store/Store.h"

#include "platform/BackgroundQueue.h"

#include <cstdlib>
#include <glib.h>

namespace quillpost {

namespace fs = std::filesystem;

Store& Store::shared()
{
    // Never destroyed, so that tearing down statics at exit cannot race a backup job still running.
    static Store* const store = new Store(locationFromEnvironment(), { Clock::system(), MainQueue::shared(), BackgroundQueue::shared() });
    return *store;
}

Store::Location Store::locationFromEnvironment()
{
    Location location;
    location.home = fs::path(g_get_home_dir());

    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    location.documents = documents ? fs::path(documents) : location.home / "Documents";

    location.runtime = fs::path(g_get_user_runtime_dir());
    location.betaDataFile = fs::path(g_get_user_data_dir()) / "Quillpost Beta" / "data.json";

    const char* overridden = std::getenv("QUILLPOST_DATA_DIR");
    if (overridden && *overridden) {
        location.directory = fs::path(overridden);
        location.directoryOverridden = true;
        return location;
    }
    location.directory = fs::path(g_get_user_data_dir()) / "Quillpost";
    return location;
}

}
