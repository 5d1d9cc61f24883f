#include "bridge/TouchCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "common/SecretBytes.h"
#include "secrets/Secrets.h"

namespace quillpost::TouchCommands {

namespace {

const std::string dataAccount = "passphrase";
const std::string vaultAccount = "vault";

const char* const noSecretsReason = "Fingerprint unlock isn't set up in this copy of Quillpost.";

void save(Bridge& bridge, const Json& args, const CommandReply& reply, const std::string& base)
{
    auto passphrase = str(args, 0);
    bool saved = bridge.secrets() && bridge.secrets()->touchId().touchSave(passphrase, base);
    wipeString(passphrase);
    reply.reply(saved);
}

void clear(Bridge& bridge, const CommandReply& reply, const std::string& base)
{
    if (bridge.secrets())
        bridge.secrets()->touchId().touchClear(base);
    reply.reply(true);
}

void unlock(Bridge& bridge, const CommandReply& reply, const std::string& base, const char* reason)
{
    if (!bridge.secrets()) {
        reply.replyNull();
        return;
    }
    bridge.secrets()->touchId().touchUnlock(base, reason, [reply](Json answer) { reply.reply(answer); });
}

}

void touchIdAvailable(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(bridge.secrets() && bridge.secrets()->touchId().availability().available);
}

void touchIdStatus(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.reply(Json { { "available", false }, { "reason", noSecretsReason } });
        return;
    }
    auto availability = bridge.secrets()->touchId().availability();
    reply.reply(Json { { "available", availability.available }, { "reason", availability.reason } });
}

void touchIdEnabled(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(bridge.secrets() && bridge.secrets()->touchId().touchEnabled(dataAccount));
}

void touchIdSave(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    save(bridge, args, reply, dataAccount);
}

void touchIdClear(Bridge& bridge, const Json&, const CommandReply& reply)
{
    clear(bridge, reply, dataAccount);
}

void touchIdUnlock(Bridge& bridge, const Json&, const CommandReply& reply)
{
    unlock(bridge, reply, dataAccount, "unlock your client data");
}

void touchIdInline(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (!bridge.secrets()) {
        reply.reply(Json { { "unsupported", true } });
        return;
    }
    bridge.secrets()->touchId().touchInline(dataAccount, dictionaryArgument(args), [reply](Json answer) { reply.reply(answer); });
}

void touchIdInlineMove(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    if (bridge.secrets())
        bridge.secrets()->touchId().inlineMove(dictionaryArgument(args));
    reply.reply(true);
}

void touchIdInlineCancel(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (bridge.secrets())
        bridge.secrets()->touchId().inlineCancel();
    reply.reply(true);
}

void vaultTouchEnabled(Bridge& bridge, const Json&, const CommandReply& reply)
{
    reply.reply(bridge.secrets() && bridge.secrets()->touchId().touchEnabled(vaultAccount));
}

void vaultTouchSave(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    save(bridge, args, reply, vaultAccount);
}

void vaultTouchClear(Bridge& bridge, const Json&, const CommandReply& reply)
{
    clear(bridge, reply, vaultAccount);
}

void vaultTouchUnlock(Bridge& bridge, const Json&, const CommandReply& reply)
{
    unlock(bridge, reply, vaultAccount, "open the client account vault");
}

}
