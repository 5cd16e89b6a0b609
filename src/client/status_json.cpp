#include "client/status_json.h"

#include "contract/status.h"

namespace quorva {
namespace {

contract::StatusFields fieldsOf(const Status& s) {
    return {.accessibility = s.accessibility,
            .screenRecording = s.screenRecording,
            .status = s.status,
            .owner = s.owner,
            .bundleId = s.bundleId,
            .hostPid = s.hostPid};
}

}  // namespace

std::string detail::parseStatus(std::string_view text, Status& s) {
    contract::StatusFields fields;
    std::string cause = contract::parseStatus(text, fields);
    if (!cause.empty()) return cause;
    s.accessibility = fields.accessibility;
    s.screenRecording = fields.screenRecording;
    s.status = std::move(fields.status);
    s.owner = std::move(fields.owner);
    s.bundleId = std::move(fields.bundleId);
    s.hostPid = fields.hostPid;
    return {};
}

std::string statusJson(const Status& s) try {
    if (!s.present) return R"({"running":false})";
    // The file's members as a host writes them, then what the reader found out.
    std::string text = contract::serialise(fieldsOf(s));
    text.pop_back();  // the closing brace
    const auto flag = [](bool b) { return b ? "true" : "false"; };
    return text + ",\"running\":" + flag(s.running) + ",\"stale\":" + flag(s.stale) + "}";
} catch (const std::exception&) {
    return {};  // out of memory
}

}  // namespace quorva
