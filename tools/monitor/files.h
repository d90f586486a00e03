// What the monitor's output files need from the operating system; one implementation file per
// system.
#pragma once

#include <string>

namespace monitor::files {

enum class Kind { Missing, Regular, Directory, Other };

// What `path` names, following symbolic links. Other: a device, a FIFO, a socket.
Kind kindOf(const std::string& path);

// The path a write to `path` reaches: symbolic links followed to their final target (which may
// not exist yet). Elsewhere the path itself.
std::string resolveLinks(const std::string& path);

// Puts `from` in place of `to` in one step; false with errno set on failure.
bool replace(const std::string& from, const std::string& to);

} // namespace monitor::files
