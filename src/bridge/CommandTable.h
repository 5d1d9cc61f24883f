#pragma once

#include "common/Json.h"

#include <span>
#include <string_view>

namespace quillpost {

class Bridge;
class CommandReply;

using CommandFunction = void (*)(Bridge&, const Json& args, const CommandReply&);

struct Command {
    enum class Availability { Always, SelfTestOnly };

    std::string_view name;
    Availability availability { Availability::Always };
    CommandFunction run { nullptr };
};

std::span<const Command> commandTable();

}
