#include "contract/status.h"

#include <climits>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace contract {
namespace {

using nlohmann::json;

// Nested values are checked but not kept, so a hostile file builds no deep tree.
bool topLevelOnly(int depth, json::parse_event_t, json&) {
    return depth <= 1;
}

bool take(const json& object, const char* key, bool& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

bool take(const json& object, const char* key, std::string& out) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

// A plain positive integer only: to kill(), 0 and negatives name process groups.
bool takePid(const json& object, int& out) {
    const auto it = object.find("host_pid");
    if (it == object.end() || !it->is_number_unsigned()) return false;
    const auto pid = it->get<std::uint64_t>();
    if (pid == 0 || pid > INT_MAX) return false;
    out = static_cast<int>(pid);
    return true;
}

std::string missing(const char* key) {
    return std::string("\"") + key + "\" is missing or invalid";
}

}  // namespace

std::string parseStatus(std::string_view text, StatusFields& s) {
    json object;
    try {
        object = json::parse(text, topLevelOnly);
    } catch (const json::parse_error& e) {
        return "not one JSON object (stops making sense at byte " + std::to_string(e.byte) + ")";
    } catch (const json::out_of_range&) {
        // A number too large for a double (1e999), anywhere in the file.
        return "not a host's status (it holds a number out of range)";
    } catch (const json::exception& e) {
        return std::string("not one JSON object (") + e.what() + ")";
    }
    if (!object.is_object()) return "not one JSON object";
    if (!take(object, "accessibility", s.accessibility)) return missing("accessibility");
    if (!take(object, "screen_recording", s.screenRecording)) return missing("screen_recording");
    if (!take(object, "status", s.status) ||
        (s.status != kReady && s.status != kPermissionRequired))
        return missing("status");
    if (!take(object, "owner", s.owner)) return missing("owner");
    if (!take(object, "bundle_id", s.bundleId)) return missing("bundle_id");
    if (!takePid(object, s.hostPid)) return missing("host_pid");
    return {};
}

}  // namespace contract
