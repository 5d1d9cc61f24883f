#include "platform/linux/FprintdFingerprint.h"

#include "platform/MainQueue.h"

#include <gio/gio.h>

#include <algorithm>
#include <deque>
#include <vector>

namespace quillpost {

namespace {

constexpr const char* busName = "net.reactivated.Fprint";
constexpr const char* managerPath = "/net/reactivated/Fprint/Manager";
constexpr const char* managerInterface = "net.reactivated.Fprint.Manager";
constexpr const char* deviceInterface = "net.reactivated.Fprint.Device";
constexpr int callTimeout = 3000;
// fprintd ends each attempt on a wrong finger; after this many the prompt gives up, as a lockout.
constexpr int attemptsBeforeLockout = 5;

std::string errorName(GError* error)
{
    gchar* remote = g_dbus_error_get_remote_error(error);
    std::string name = remote ? remote : "";
    g_free(remote);
    return name;
}

class FprintdFingerprint;

// One check: Claim, VerifyStart, the VerifyStatus signals, then VerifyStop and Release. It keeps
// itself alive until the device is released, whatever happens to the handle given out.
class Session final : public Fingerprint::Verification, public std::enable_shared_from_this<Session> {
public:
    Session(FprintdFingerprint& owner, std::weak_ptr<void> ownerLife, std::function<void(Fingerprint::Result)> completion)
        : m_owner(owner)
        , m_ownerLife(std::move(ownerLife))
        , m_completion(std::move(completion))
    {
    }

    void start(GDBusConnection*, const std::string& device);
    void cancel() override { finish(Fingerprint::Outcome::Cancelled); }
    void finish(Fingerprint::Outcome);

private:
    void call(const char* method, GVariant* parameters, void (*done)(GObject*, GAsyncResult*, gpointer));
    void verifyStart();
    static void claimed(GObject*, GAsyncResult*, gpointer);
    static void verifyStarted(GObject*, GAsyncResult*, gpointer);
    static void stoppedForRetry(GObject*, GAsyncResult*, gpointer);
    static void released(GObject*, GAsyncResult*, gpointer);
    static void status(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer);

    // The reader's owner, while it lives: a release may come back after it is gone.
    FprintdFingerprint* owner() const { return m_ownerLife.expired() ? nullptr : &m_owner; }

    FprintdFingerprint& m_owner;
    std::weak_ptr<void> m_ownerLife;
    std::function<void(Fingerprint::Result)> m_completion;
    GDBusConnection* m_bus { nullptr };
    std::string m_device;
    guint m_subscription { 0 };
    bool m_claimed { false };
    bool m_verifying { false };
    bool m_finished { false };
    int m_failures { 0 };
};

class FprintdFingerprint final : public Fingerprint {
public:
    // An empty address is the system bus.
    explicit FprintdFingerprint(std::string busAddress = {})
        : m_address(std::move(busAddress))
    {
    }

    ~FprintdFingerprint() override
    {
        if (m_bus)
            g_object_unref(m_bus);
    }

    Availability availability() override
    {
        std::string reason;
        auto* bus = systemBus(reason);
        if (!bus)
            return { false, reason };
        auto device = defaultDevice(bus, reason);
        if (!device)
            return { false, reason };
        auto fingers = enrolledFingers(bus, *device, reason);
        if (!fingers)
            return { false, reason };
        if (fingers->empty())
            return { false, "No fingerprints are enrolled. Add one in the system settings (Users → Fingerprint Login)." };
        return { true, {} };
    }

    std::optional<std::string> domainState() override
    {
        std::string reason;
        auto* bus = systemBus(reason);
        auto device = bus ? defaultDevice(bus, reason) : std::nullopt;
        auto fingers = device ? enrolledFingers(bus, *device, reason) : std::nullopt;
        if (!fingers || fingers->empty())
            return std::nullopt;
        std::sort(fingers->begin(), fingers->end());
        std::string list;
        for (auto& finger : *fingers)
            list.append(finger).push_back('\n');
        gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, list.c_str(), static_cast<gssize>(list.size()));
        std::string state = std::string("fprintd:") + digest;
        g_free(digest);
        return state;
    }

    std::shared_ptr<Verification> verify(const std::string&, std::function<void(Result)> completion) override
    {
        auto session = std::make_shared<Session>(*this, m_life, std::move(completion));
        // fprintd lets one client claim the reader at a time: a new check waits for the last release.
        m_waiting.push_back(session);
        startNext();
        return session;
    }

    void sessionEnded(const std::shared_ptr<Session>& session)
    {
        if (m_current == session)
            m_current = nullptr;
        startNext();
    }

    void cancelWaiting(Session* session)
    {
        std::erase_if(m_waiting, [&](auto& waiting) { return waiting.get() == session; });
    }

private:
    std::shared_ptr<void> m_life { std::make_shared<int>(0) };

    void startNext()
    {
        if (m_current || m_waiting.empty())
            return;
        m_current = m_waiting.front();
        m_waiting.pop_front();
        std::string reason;
        auto* bus = systemBus(reason);
        auto device = bus ? defaultDevice(bus, reason) : std::nullopt;
        if (!device) {
            auto session = m_current;
            session->finish(Outcome::Failed);
            return;
        }
        m_current->start(bus, *device);
    }

    GDBusConnection* systemBus(std::string& reason)
    {
        if (m_bus)
            return m_bus;
        GError* error = nullptr;
        if (m_address.empty())
            m_bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
        else
            m_bus = g_dbus_connection_new_for_address_sync(m_address.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
        if (!m_bus) {
            reason = "There is no system message bus, so the fingerprint service (fprintd) can't be reached.";
            g_error_free(error);
        }
        return m_bus;
    }

    std::optional<std::string> defaultDevice(GDBusConnection* bus, std::string& reason)
    {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus, busName, managerPath, managerInterface, "GetDefaultDevice", nullptr,
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, callTimeout, nullptr, &error);
        if (!reply) {
            auto name = errorName(error);
            if (name == "net.reactivated.Fprint.Error.NoSuchDevice")
                reason = "There is no fingerprint reader on this computer.";
            else if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
                reason = "The fingerprint service (fprintd) isn't installed or isn't running.";
            else
                reason = std::string("The fingerprint service didn't answer: ") + error->message;
            g_error_free(error);
            return std::nullopt;
        }
        const gchar* path = nullptr;
        g_variant_get(reply, "(&o)", &path);
        std::string device = path;
        g_variant_unref(reply);
        return device;
    }

    std::optional<std::vector<std::string>> enrolledFingers(GDBusConnection* bus, const std::string& device, std::string& reason)
    {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus, busName, device.c_str(), deviceInterface, "ListEnrolledFingers",
            g_variant_new("(s)", ""), G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, callTimeout, nullptr, &error);
        if (!reply) {
            bool none = errorName(error) == "net.reactivated.Fprint.Error.NoEnrolledPrints";
            if (!none)
                reason = std::string("The fingerprint service didn't list the enrolled fingers: ") + error->message;
            g_error_free(error);
            if (none)
                return std::vector<std::string> {};
            return std::nullopt;
        }
        std::vector<std::string> fingers;
        GVariantIter* iterator = nullptr;
        const gchar* finger = nullptr;
        g_variant_get(reply, "(as)", &iterator);
        while (g_variant_iter_loop(iterator, "&s", &finger))
            fingers.emplace_back(finger);
        g_variant_iter_free(iterator);
        g_variant_unref(reply);
        return fingers;
    }

    std::string m_address;
    GDBusConnection* m_bus { nullptr };
    std::shared_ptr<Session> m_current;
    std::deque<std::shared_ptr<Session>> m_waiting;
};

void Session::start(GDBusConnection* bus, const std::string& device)
{
    m_bus = bus;
    m_device = device;
    m_subscription = g_dbus_connection_signal_subscribe(bus, busName, deviceInterface, "VerifyStatus", device.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, status, this, nullptr);
    call("Claim", g_variant_new("(s)", ""), claimed);
}

void Session::call(const char* method, GVariant* parameters, void (*done)(GObject*, GAsyncResult*, gpointer))
{
    auto* self = new std::shared_ptr<Session>(shared_from_this());
    g_dbus_connection_call(m_bus, busName, m_device.c_str(), deviceInterface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, method == std::string_view("VerifyStart") ? -1 : callTimeout, nullptr, done, self);
}

void Session::verifyStart()
{
    m_verifying = true;
    call("VerifyStart", g_variant_new("(s)", "any"), verifyStarted);
}

static std::shared_ptr<Session> takeSession(gpointer data)
{
    std::unique_ptr<std::shared_ptr<Session>> holder(static_cast<std::shared_ptr<Session>*>(data));
    return *holder;
}

static bool succeeded(GObject* source, GAsyncResult* result)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply)
        g_variant_unref(reply);
    if (error)
        g_error_free(error);
    return reply != nullptr;
}

void Session::claimed(GObject* source, GAsyncResult* result, gpointer data)
{
    auto session = takeSession(data);
    bool ok = succeeded(source, result);
    if (session->m_finished) {
        // Cancelled while claiming: give the reader back.
        if (ok)
            session->call("Release", nullptr, released);
        else if (auto* owner = session->owner())
            owner->sessionEnded(session);
        return;
    }
    if (!ok) {
        session->finish(Fingerprint::Outcome::Failed);
        return;
    }
    session->m_claimed = true;
    session->verifyStart();
}

void Session::verifyStarted(GObject* source, GAsyncResult* result, gpointer data)
{
    auto session = takeSession(data);
    if (!succeeded(source, result) && !session->m_finished)
        session->finish(Fingerprint::Outcome::Failed);
}

void Session::stoppedForRetry(GObject* source, GAsyncResult* result, gpointer data)
{
    auto session = takeSession(data);
    succeeded(source, result);
    if (!session->m_finished)
        session->verifyStart();
}

void Session::status(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters, gpointer data)
{
    auto* session = static_cast<Session*>(data);
    if (session->m_finished || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sb)")))
        return;
    const gchar* result = nullptr;
    gboolean done = FALSE;
    g_variant_get(parameters, "(&sb)", &result, &done);
    std::string_view outcome(result);
    if (outcome == "verify-match") {
        session->finish(Fingerprint::Outcome::Verified);
        return;
    }
    if (outcome == "verify-no-match") {
        if (++session->m_failures >= attemptsBeforeLockout) {
            session->finish(Fingerprint::Outcome::Lockout);
            return;
        }
        if (done) {
            session->m_verifying = false;
            session->call("VerifyStop", nullptr, stoppedForRetry);
        }
        return;
    }
    // Retry-scan, a swipe too short, a finger off centre: the reader asks again by itself.
    if (!done)
        return;
    session->finish(Fingerprint::Outcome::Failed);
}

void Session::released(GObject* source, GAsyncResult* result, gpointer data)
{
    auto session = takeSession(data);
    succeeded(source, result);
    if (auto* owner = session->owner())
        owner->sessionEnded(session);
}

void Session::finish(Fingerprint::Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    auto self = shared_from_this();
    if (m_subscription)
        g_dbus_connection_signal_unsubscribe(m_bus, m_subscription);
    m_subscription = 0;

    Fingerprint::Result result { outcome, std::nullopt };
    if (outcome == Fingerprint::Outcome::Verified && owner())
        result.domainState = owner()->domainState();
    auto completion = std::move(m_completion);
    MainQueue::shared().post([completion = std::move(completion), result] { completion(result); });

    if (!m_bus) {
        if (auto* reader = owner()) {
            reader->cancelWaiting(this);
            reader->sessionEnded(self);
        }
        return;
    }
    if (m_verifying)
        call("VerifyStop", nullptr, [](GObject* source, GAsyncResult* answer, gpointer data) {
            auto session = takeSession(data);
            succeeded(source, answer);
            session->call("Release", nullptr, released);
        });
    else if (m_claimed)
        call("Release", nullptr, released);
    // Otherwise the claim is still under way, and its answer releases the reader.
}

}

Fingerprint& Fingerprint::shared()
{
    static Fingerprint* const fingerprint = new FprintdFingerprint;
    return *fingerprint;
}

std::unique_ptr<Fingerprint> makeFprintdFingerprint(const std::string& busAddress)
{
    return std::make_unique<FprintdFingerprint>(busAddress);
}

}
