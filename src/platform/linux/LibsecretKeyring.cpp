#include "platform/Keyring.h"

#include "platform/Log.h"

#include <libsecret/secret.h>

namespace quillpost {

namespace {

// One schema for every item the program keeps: found by service and account.
const SecretSchema* schema()
{
    static const SecretSchema itemSchema = {
        "org.quillpost.Item",
        SECRET_SCHEMA_NONE,
        {
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr
    };
    return &itemSchema;
}

// The Secret Service through libsecret. Calls block the main thread for the length of one D-Bus
// round trip, as keychain calls do elsewhere.
class LibsecretKeyring final : public Keyring {
public:
    bool available() override
    {
        GError* error = nullptr;
        gchar* found = secret_password_lookup_sync(schema(), nullptr, &error, "service", "Quillpost", "account", "availability probe", nullptr);
        if (found)
            secret_password_free(found);
        if (!error)
            return true;
        g_error_free(error);
        return false;
    }

    std::optional<std::string> read(const std::string& service, const std::string& account) override
    {
        GError* error = nullptr;
        gchar* found = secret_password_lookup_sync(schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
        if (error) {
            Log::error("The password store couldn't be read: " + std::string(error->message));
            g_error_free(error);
        }
        if (!found)
            return std::nullopt;
        std::string value(found);
        secret_password_free(found);
        return value;
    }

    bool write(const std::string& service, const std::string& account, const std::string& value) override
    {
        GError* error = nullptr;
        std::string label = service;
        label.append(" (").append(account).append(")");
        gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value.c_str(), nullptr, &error,
            "service", service.c_str(), "account", account.c_str(), nullptr);
        if (error) {
            Log::error("The password store refused an item: " + std::string(error->message));
            g_error_free(error);
        }
        return stored;
    }

    void remove(const std::string& service, const std::string& account) override
    {
        GError* error = nullptr;
        secret_password_clear_sync(schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
        if (error)
            g_error_free(error);
    }
};

}

Keyring& Keyring::shared()
{
    static Keyring* const keyring = new LibsecretKeyring;
    return *keyring;
}

}
