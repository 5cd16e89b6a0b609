#include <nlohmann/json.hpp>

#include "contract/status.h"

// Apart from the reader, so that the host, which only writes, links no JSON
// parser.
namespace contract {

std::string serialise(const StatusFields& s) {
    using nlohmann::json;
    // nlohmann::json keeps members sorted by key, the order hosts have always
    // written (readers go by key anyway); dumped compact with UTF-8 as it is.
    const json object = {
        {"accessibility", s.accessibility},
        {"bundle_id", s.bundleId},
        {"host_pid", s.hostPid},
        {"owner", s.owner},
        {"screen_recording", s.screenRecording},
        {"status", s.status},
    };
    // Bytes that are not UTF-8 (never in a host's values) become U+FFFD rather than throw.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace contract
