// What the monitor's output files need from the operating system; one implementation file per
// system.
#pragma once

#include <atomic>
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

// A file to read whole that is not a regular one (a FIFO, a pipe such as bash's <(...)): read to
// its end, however long its writer takes to come (`interrupted` ends the wait), into a temporary
// regular file whose path goes to `copy`. Where such files need no copy, `copy` is `path`.
enum class Copied { Done, Failed, Interrupted };
// A recording (`recording` true) is refused as it comes when it holds a NUL byte or a line longer
// than the format's 65536 characters, so that a device that never ends fills no disk; anything
// else is refused beyond 64 MiB.
Copied copyToTemporary(const std::string& path, std::string& copy, const std::atomic<bool>& interrupted,
                       std::string& error, bool recording = true);
// Removes a copy made by copyToTemporary (nothing when it is the original).
void removeCopy(const std::string& path, const std::string& copy);

} // namespace monitor::files
