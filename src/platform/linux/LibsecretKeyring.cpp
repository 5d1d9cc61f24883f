#include "platform/Keyring.h"

#include "platform/Log.h"

#include <libsecret/secret.h>

namespace quillpost {

namespace {

using Lookup = Keyring::Lookup;
using Status = Keyring::Lookup::Status;

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

Lookup answer(Status status, std::string detail = {})
{
    return { status, {}, std::move(detail) };
}

// Takes the error: a dismissed prompt means the store stays locked; anything else means no answer.
Lookup failure(GError* error, const char* what)
{
    std::string message = error->message ? error->message : "";
    bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_error_free(error);
    Log::error(std::string(what) + ": " + message);
    if (cancelled)
        return answer(Status::Locked, "the unlock prompt was dismissed");
    return answer(Status::Unavailable, message);
}

struct ObjectRef {
    gpointer object { nullptr };
    ~ObjectRef()
    {
        if (object)
            g_object_unref(object);
    }
};

// The Secret Service through libsecret. Calls block the main thread for the length of one D-Bus
// round trip (or of the store's own unlock prompt, when one may be shown), as keychain calls do
// elsewhere.
class LibsecretKeyring final : public Keyring {
public:
    Lookup lookup(const std::string& service, const std::string& account, Interaction interaction) override
    {
        GError* error = nullptr;
        ObjectRef secretService { secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error) };
        if (!secretService.object)
            return failure(error, "The password store couldn't be reached");
        auto* store = SECRET_SERVICE(secretService.object);
        auto found = search(store, service, account, interaction);
        if (found.status != Status::NotFound)
            return found;
        return confirmNotFound(store, service, account, interaction);
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

private:
    static Lookup search(SecretService* store, const std::string& service, const std::string& account, Interaction interaction)
    {
        GHashTable* attributes = secret_attributes_build(schema(), "service", service.c_str(), "account", account.c_str(), nullptr);
        int flags = SECRET_SEARCH_LOAD_SECRETS;
        if (interaction == Interaction::MayAsk)
            flags |= SECRET_SEARCH_UNLOCK;
        GError* error = nullptr;
        GList* items = secret_service_search_sync(store, schema(), attributes, static_cast<SecretSearchFlags>(flags), nullptr, &error);
        g_hash_table_unref(attributes);
        if (error)
            return failure(error, "The password store couldn't be searched");
        if (!items)
            return answer(Status::NotFound);

        auto* item = SECRET_ITEM(items->data);
        Lookup result = answer(Status::Unavailable, "the item has no text");
        if (secret_item_get_locked(item)) {
            result = answer(Status::Locked, "the item is locked");
        } else if (SecretValue* secret = secret_item_get_secret(item)) {
            if (const gchar* text = secret_value_get_text(secret))
                result = { Status::Found, text, {} };
            secret_value_unref(secret);
        }
        g_list_free_full(items, g_object_unref);
        return result;
    }

    // Nothing matched, but a locked collection may keep its items out of a search (some stores
    // hide a locked database whole): only an unlocked or absent default collection, the one items
    // are written to, makes "not found" certain.
    static Lookup confirmNotFound(SecretService* store, const std::string& service, const std::string& account, Interaction interaction)
    {
        GError* error = nullptr;
        ObjectRef collection { secret_collection_for_alias_sync(store, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error) };
        if (error)
            return failure(error, "The password store's collections couldn't be read");
        if (!collection.object || !secret_collection_get_locked(SECRET_COLLECTION(collection.object)))
            return answer(Status::NotFound);
        if (interaction == Interaction::Never)
            return answer(Status::Locked, "the default keyring is locked");
        GList* objects = g_list_append(nullptr, collection.object);
        GList* unlocked = nullptr;
        secret_service_unlock_sync(store, objects, nullptr, &unlocked, &error);
        g_list_free(objects);
        bool opened = unlocked != nullptr;
        g_list_free_full(unlocked, g_object_unref);
        if (error)
            return failure(error, "The password store couldn't be unlocked");
        if (!opened)
            return answer(Status::Locked, "the unlock prompt was dismissed");
        return search(store, service, account, Interaction::Never);
    }
};

}

Keyring& Keyring::shared()
{
    static Keyring* const keyring = new LibsecretKeyring;
    return *keyring;
}

}
