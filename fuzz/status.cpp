// The status reader: whatever status.json holds, a cause in one line or a
// status the host could have written, which reads back the same once written
// out again. Never an exception, never an abort (a number out of range once
// ended every client that read it).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/status_json.h"
#include "quorva/client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quorva::Status s;
    const std::string cause = quorva::detail::parseStatus(text, s);
    if (!cause.empty()) {
        if (cause.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    // A pid that kill() would take for a process group is never one.
    if (s.hostPid <= 0 || (s.status != "ready" && s.status != "permission_required"))
        __builtin_trap();
    s.present = true;
    quorva::Status again;
    if (!quorva::detail::parseStatus(quorva::statusJson(s), again).empty() ||
        again.hostPid != s.hostPid || again.status != s.status || again.owner != s.owner ||
        again.bundleId != s.bundleId || again.accessibility != s.accessibility ||
        again.screenRecording != s.screenRecording)
        __builtin_trap();
    return 0;
}
