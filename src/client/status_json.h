#pragma once

#include <string>
#include <string_view>

#include "quorva/client.h"

// status.json's text and a Status, both ways.
namespace quorva::detail {

// Fills the six members of `status` from `text`; empty when they are all
// there with their types, else the one cause. Other members are ignored.
std::string parseStatus(std::string_view text, Status& status);

}  // namespace quorva::detail
