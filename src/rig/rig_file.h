// The rig file: a frame source's roles, offsets and space as JSON, so that a rig set up once is
// set up for good.
//   {"format": "tavrin-rig", "version": 1,
//    "space": {"position": [0,0,0], "orientation": [1,0,0,0], "axes": "openvr", "units_per_metre": 1},
//    "devices": {"LHR-1A2B3C4D": {"role": "left_foot",
//                                 "offset": {"position": [0,0,0], "orientation": [1,0,0,0]}}}}
// axes by name: "openvr", "z_up", "unity", "unreal". "space", "devices" and a device's "role" and
// "offset" may be left out (the defaults).
#pragma once

#include "rig_settings.h"

#include <cstddef>
#include <string>

namespace ViveSystem {

// The largest rig file read: a larger one is refused with this size in the reason.
constexpr size_t kMaxRigFile = size_t{64} << 20;

// Writes a new file beside `path` and renames it over the old one, so that a crash leaves the old
// file whole; false, leaving no file behind, with a sentence naming the file in `error`.
bool saveRigFile(const RigSettings& rig, const std::string& path, std::string& error);
// Reads a rig file whole; false, with `out` unchanged and a sentence naming the file (and, for a
// bad file, the line and what is wrong) in `error`.
bool loadRigFile(const std::string& path, RigSettings& out, std::string& error);

} // namespace ViveSystem
