#include "platform/ProcessRunner.h"

#include "common/Utf8.h"

#include <gio/gio.h>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillpost {

namespace {

std::vector<const char*> argumentVector(const std::vector<std::string>& arguments)
{
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    return argv;
}

std::string text(GBytes* bytes)
{
    if (!bytes)
        return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    return validUtf8(std::string_view(data ? data : "", size));
}

class GioChild final : public ProcessRunner::Child {
public:
    explicit GioChild(GSubprocess* process)
        : m_process(process)
        , m_pid(std::stoi(g_subprocess_get_identifier(process)))
    {
        // Reaps the child when it ends; get_identifier turns null then.
        g_subprocess_wait_async(m_process, nullptr, nullptr, nullptr);
    }

    ~GioChild() override { g_object_unref(m_process); }

    int pid() const override { return m_pid; }
    bool running() const override { return g_subprocess_get_identifier(m_process) != nullptr; }
    void terminate() override { g_subprocess_send_signal(m_process, SIGTERM); }

private:
    GSubprocess* m_process;
    int m_pid;
};

// GSubprocess: started without a shell and waited for on the main loop, where the completion runs.
class GioProcessRunner final : public ProcessRunner {
public:
    void run(const std::vector<std::string>& arguments, std::function<void(Result)> completion) override
    {
        if (arguments.empty()) {
            completion(Result { false, -1, {}, "nothing to run" });
            return;
        }
        auto argv = argumentVector(arguments);
        g_autoptr(GError) error = nullptr;
        g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
        // Without a terminal a tool that wants a password (lpadmin for a user who may not
        // administer printers) fails and says so, rather than waiting on a prompt nobody sees.
        g_subprocess_launcher_set_child_setup(launcher, [](gpointer) { setsid(); }, nullptr, nullptr);
        GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
        if (!process) {
            completion(Result { false, -1, {}, error ? error->message : "it could not be started" });
            return;
        }
        auto* pending = new std::function<void(Result)>(std::move(completion));
        // Nothing to read: the tool finds its input closed at once.
        g_autoptr(GBytes) noInput = g_bytes_new(nullptr, 0);
        g_subprocess_communicate_async(process, noInput, nullptr, [](GObject* source, GAsyncResult* asyncResult, gpointer data) {
            std::unique_ptr<std::function<void(Result)>> done(static_cast<std::function<void(Result)>*>(data));
            auto* child = G_SUBPROCESS(source);
            Result result;
            result.started = true;
            g_autoptr(GBytes) output = nullptr;
            g_autoptr(GBytes) errorOutput = nullptr;
            g_autoptr(GError) communicateError = nullptr;
            if (g_subprocess_communicate_finish(child, asyncResult, &output, &errorOutput, &communicateError)) {
                result.output = text(output);
                result.errorOutput = text(errorOutput);
            } else if (communicateError) {
                result.errorOutput = communicateError->message;
            }
            if (g_subprocess_get_if_exited(child))
                result.exitStatus = g_subprocess_get_exit_status(child);
            g_object_unref(child);
            (*done)(std::move(result));
        },
            pending);
    }

    std::unique_ptr<Child> start(const std::vector<std::string>& arguments, std::string& error) override
    {
        if (arguments.empty()) {
            error = "nothing to run";
            return nullptr;
        }
        auto argv = argumentVector(arguments);
        g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(
            static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE));
        // A server we started must not outlive us when we are killed: the next start would find
        // its port taken.
        g_subprocess_launcher_set_child_setup(launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, nullptr);
        g_autoptr(GError) startError = nullptr;
        GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), &startError);
        if (!process) {
            error = startError ? startError->message : "it could not be started";
            return nullptr;
        }
        return std::make_unique<GioChild>(process);
    }

    bool launch(const std::vector<std::string>& arguments, std::string& error) override
    {
        if (arguments.empty()) {
            error = "nothing to run";
            return false;
        }
        auto argv = argumentVector(arguments);
        g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
        g_subprocess_launcher_set_child_setup(launcher, [](gpointer) { setsid(); }, nullptr, nullptr);
        g_autoptr(GError) startError = nullptr;
        g_autoptr(GSubprocess) process = g_subprocess_launcher_spawnv(launcher, argv.data(), &startError);
        if (!process) {
            error = startError ? startError->message : "it could not be started";
            return false;
        }
        // Reaped when it ends, should that be before we do.
        g_subprocess_wait_async(process, nullptr, nullptr, nullptr);
        return true;
    }

    bool alive(int pid) override { return pid > 0 && ::kill(pid, 0) == 0; }

    void terminate(int pid) override
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
};

}

ProcessRunner& ProcessRunner::shared()
{
    static GioProcessRunner runner;
    return runner;
}

}
