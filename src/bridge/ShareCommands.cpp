#include "bridge/ShareCommands.h"

#include "bridge/Arguments.h"
#include "bridge/Bridge.h"
#include "share/PracticeShare.h"

namespace quillpost::ShareCommands {

namespace {

constexpr const char* unavailable = "Sharing with other desks isn't available in this copy of Quillpost.";

// The server's address from { host, port, database, user }; a sentence when one is missing or wrong.
std::optional<ServerAddress> address(const Json& settings, const CommandReply& reply)
{
    ServerAddress server;
    server.host = stringField(settings, "host");
    server.database = stringField(settings, "database");
    server.user = stringField(settings, "user");
    const Json port = settings.contains("port") ? settings["port"] : Json(5432);
    std::int64_t number = 0;
    if (port.is_number_integer())
        number = port.get<std::int64_t>();
    else if (port.is_string() && !port.get_ref<const std::string&>().empty() && port.get_ref<const std::string&>().size() <= 5
        && port.get_ref<const std::string&>().find_first_not_of("0123456789") == std::string::npos)
        number = std::stoll(port.get<std::string>());
    if (server.host.empty() || server.database.empty() || server.user.empty()) {
        reply.fail("Enter the server's host, database and user.");
        return std::nullopt;
    }
    if (number < 1 || number > 65535) {
        reply.fail("The port is a number from 1 to 65535.");
        return std::nullopt;
    }
    server.port = static_cast<int>(number);
    return server;
}

std::function<void(std::optional<std::string>)> answer(const CommandReply& reply)
{
    return [reply](std::optional<std::string> error) {
        if (error)
            reply.fail(*error);
        else
            reply.reply(true);
    };
}

}

void shareStatus(Bridge& bridge, const Json&, const CommandReply& reply)
{
    auto* share = bridge.share();
    if (!share) {
        reply.reply(Json { { "enabled", false }, { "state", "off" }, { "since", nullptr }, { "lastError", "" }, { "desk", "" }, { "pending", 0 } });
        return;
    }
    reply.reply(share->status());
}

void shareTest(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* share = bridge.share();
    if (!share)
        return reply.fail(unavailable);
    const Json settings = dictionaryArgument(args);
    if (auto server = address(settings, reply))
        share->test(*server, stringField(settings, "password"), answer(reply));
}

void shareStart(Bridge& bridge, const Json& args, const CommandReply& reply)
{
    auto* share = bridge.share();
    if (!share)
        return reply.fail(unavailable);
    const Json settings = dictionaryArgument(args);
    const std::string mode = stringField(settings, "mode");
    if (mode != "upload" && mode != "join")
        return reply.fail("Choose whether this desk uploads its practice or uses the shared one.");
    if (auto server = address(settings, reply))
        share->start(*server, stringField(settings, "password"), mode == "upload" ? PracticeShare::Mode::Upload : PracticeShare::Mode::Join, answer(reply));
}

void shareStop(Bridge& bridge, const Json&, const CommandReply& reply)
{
    if (auto* share = bridge.share())
        share->stop();
    reply.reply(true);
}

}
