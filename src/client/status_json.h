#pragma once

#include <string>
#include <string_view>

#include "quorva/client.h"

// status.json's text and a Status, both ways.
namespace quorva::detail {

// Fills the six members of `status` from `text`; empty when they are all
// there with their types, else the one cause. Other members are ignored.
// Never throws, whatever the text.
std::string parseStatus(std::string_view text, Status& status);

// Why readStatus gave no status: a runtime folder that cannot be looked at
// (not trusted, not reachable, or whether its host runs cannot be told now),
// where nothing may be started or stopped on a guess; or a file that is not a
// host's status (malformed, too large, unreadable), which a host started there
// replaces.
enum class Unread { None, CannotLook, NotAStatus };

Status readStatus(const std::string& home, Unread& why);

}  // namespace quorva::detail
