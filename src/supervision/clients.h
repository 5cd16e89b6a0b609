#pragma once

#include <chrono>

#include "platform/deadline.h"
#include "platform/files.h"

namespace supervision {

// The removal work of one tick stops after this long, so that a status write
// comes every second and a quit is acted on at once whatever "clients" holds
// (tens of thousands of junk entries, a process filling it as fast as it
// can); what is left goes on at the next tick.
inline constexpr std::chrono::milliseconds kTickWorkBudget{200};

struct ClientScan {
    bool live = false;     // a live registration was seen
    bool finished = true;  // every entry was looked at
    // An unfinished pass cannot tell that no client is live: what it did not
    // see must not end the host.
    bool attended() const { return live || !finished; }
};

// One pass over the registrations in `clients`: entries whose name is not a
// registration number, or whose process cannot be signalled, are removed
// (folders with their contents, links never followed), until `deadline`
// passes. An unreadable folder counts as empty; failed removals are left for
// the next pass.
ClientScan scanClients(const platform::Folder& clients, const platform::Deadline& deadline);

}  // namespace supervision
