#include "platform/ProcessRunner.h"

#include <gio/gio.h>

#include <memory>

namespace quillpost {

namespace {

// GSubprocess: the program is started without a shell and waited for on the main loop, which is
// where the completion runs.
class GioProcessRunner final : public ProcessRunner {
public:
    void run(const std::vector<std::string>& arguments, std::function<void(Result)> completion) override
    {
        std::vector<const char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);

        g_autoptr(GError) error = nullptr;
        GSubprocess* process = arguments.empty() ? nullptr
                                                 : g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_INHERIT | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE), &error);
        if (!process) {
            Result result;
            result.output = error ? error->message : "nothing to run";
            completion(std::move(result));
            return;
        }
        auto* pending = new std::function<void(Result)>(std::move(completion));
        g_subprocess_communicate_async(process, nullptr, nullptr, [](GObject* source, GAsyncResult* asyncResult, gpointer data) {
            std::unique_ptr<std::function<void(Result)>> done(static_cast<std::function<void(Result)>*>(data));
            auto* child = G_SUBPROCESS(source);
            Result result;
            result.started = true;
            g_autoptr(GBytes) output = nullptr;
            g_autoptr(GError) communicateError = nullptr;
            if (g_subprocess_communicate_finish(child, asyncResult, &output, nullptr, &communicateError) && output) {
                gsize size = 0;
                const auto* bytes = static_cast<const char*>(g_bytes_get_data(output, &size));
                result.output.assign(bytes ? bytes : "", size);
            }
            if (g_subprocess_get_if_exited(child))
                result.exitStatus = g_subprocess_get_exit_status(child);
            g_object_unref(child);
            (*done)(std::move(result));
        },
            pending);
    }
};

}

ProcessRunner& ProcessRunner::shared()
{
    static GioProcessRunner runner;
    return runner;
}

}
