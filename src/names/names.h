// The names the library gives its values: the frame source's event kinds, the body roles and a
// space's axes. The
// one table of each, below everything that names them: tavrin_event_kind_name and
// tavrin_role_name, the rig file, the recordings, the monitor and the simulated runtime's replay.
#pragma once

#include <cstdint>
#include <string>

namespace names {

// "session_opened", "session_closed", "device_arrived", "device_left", "device_switched_on",
// "device_switched_off", "index_changed"; null for any other value.
const char* eventKindName(int32_t kind);
// The kind of a name; 0 for none.
int32_t eventKindFromName(const std::string& name);

// "none", "head", "left_hand", "right_hand", "waist", "chest", "left_foot", "right_foot",
// "left_knee", "right_knee", "left_elbow", "right_elbow", "left_shoulder", "right_shoulder",
// "camera", "prop" for the roles 0..15; null outside.
const char* roleName(int32_t role);
// The role of a name; -1 for an unknown name or null.
int32_t roleFromName(const char* name);

// "openvr", "z_up", "unity", "unreal" for the tavrin_axes 0..3; "openvr" for any other value.
const char* axesName(int32_t axes);
// The axes of a name; -1 for an unknown name.
int32_t axesFromName(const std::string& name);

} // namespace names
