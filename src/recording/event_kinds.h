// The names of the frame source's event kinds: the one table, behind tavrin_event_kind_name, the
// recordings' event lines, the monitor and the simulated runtime's replay.
#pragma once

#include <cstdint>
#include <string>

namespace recording {

// "session_opened", "session_closed", "device_arrived", "device_left", "device_switched_on",
// "device_switched_off", "index_changed"; null for any other value.
const char* eventKindName(int32_t kind);
// The kind of a name; 0 for none.
int32_t eventKindFromName(const std::string& name);

} // namespace recording
