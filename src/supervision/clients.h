#pragma once

#include <string>

namespace supervision {

// One pass over the registrations in `clientsFolder`: entries whose name is
// not a registration number, or whose process cannot be signalled, are
// removed (folders with their contents, links never followed). Returns
// whether any live registration was seen. An unreadable folder, or a link in
// the folder's place, counts as empty; failed removals are left for the next
// pass.
bool scanClients(const std::string& clientsFolder);

}  // namespace supervision
