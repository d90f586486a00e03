#include "files.h"

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>

namespace monitor::files {

Kind kindOf(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Kind::Directory;
    // Devices (NUL, CON, COM1 ...) answer as files; their handle type tells them apart.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Kind::Regular;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    return type == FILE_TYPE_DISK ? Kind::Regular : Kind::Other;
}

// Writes through a link reach its target already; the rename below replaces the name given.
std::string resolveLinks(const std::string& path)
{
    return path;
}

bool replace(const std::string& from, const std::string& to)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = EACCES;
    return false;
}

// Windows has no FIFOs to wait on: whatever the path names is read by the replay itself.
Copied copyToTemporary(const std::string& path, std::string& copy, const std::atomic<bool>&, std::string&, bool)
{
    copy = path;
    return Copied::Done;
}

void removeCopy(const std::string&, const std::string&) {}

} // namespace monitor::files
