#include "files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace monitor::files {

namespace {
// The recording format's longest line.
constexpr size_t kMaxLine = 65536;
// The most of anything else read whole.
constexpr size_t kMaxOther = size_t{64} << 20;
} // namespace

Kind kindOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return Kind::Missing;
    if (S_ISREG(st.st_mode))
        return Kind::Regular;
    if (S_ISDIR(st.st_mode))
        return Kind::Directory;
    return Kind::Other;
}

std::string resolveLinks(const std::string& path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = readlink(current.c_str(), target.data(), target.size() - 1);
        if (n <= 0)
            return current;
        std::string next(target.data(), static_cast<size_t>(n));
        if (next[0] != '/') {
            const size_t slash = current.find_last_of('/');
            if (slash != std::string::npos)
                next = current.substr(0, slash + 1) + next;
        }
        current = next;
    }
    return current;
}

bool replace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

// Writes all of `data` to `fd`; false on a failed write.
bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd(fd) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    const int fd;
};

} // namespace

// Opened without waiting for a writer; then polled a tenth of a second at a time, so that Ctrl-C
// is seen while no writer has come yet (a FIFO reports neither data nor a hang-up until one does).
Copied copyToTemporary(const std::string& path, std::string& copy, const std::atomic<bool>& interrupted,
                       std::string& error, bool recording)
{
    Fd in(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return Copied::Failed;
    }
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && dir[0] ? dir : "/tmp") + "/tavrin-replay-XXXXXX";
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    Fd out(mkstemp(pattern.data()));
    if (out.fd < 0) {
        error = "cannot make a temporary copy of " + path + ": " + std::strerror(errno);
        return Copied::Failed;
    }
    copy = pattern.data();
    char buffer[65536];
    size_t lineLength = 0, copied = 0;
    error.clear();
    for (;;) {
        if (interrupted.load()) {
            unlink(copy.c_str());
            return Copied::Interrupted;
        }
        pollfd p{in.fd, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n == 0)
            return Copied::Done; // the writer is done
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        // A recording is text in lines of at most 65536 characters: anything else (a device such as
        // /dev/zero, which never ends) is refused as it comes, before it fills the disk.
        copied += static_cast<size_t>(n);
        if (!recording && copied > kMaxOther) {
            error = "cannot read " + path + ": it is longer than " + std::to_string(kMaxOther >> 20) + " MiB";
            break;
        }
        for (ssize_t i = 0; recording && i < n; ++i) {
            if (buffer[i] == '\0') {
                error = "cannot replay " + path + ": it holds a NUL byte: not a recording";
                break;
            }
            lineLength = buffer[i] == '\n' ? 0 : lineLength + 1;
            if (lineLength > kMaxLine) {
                error = "cannot replay " + path + ": a line is longer than " + std::to_string(kMaxLine) +
                        " characters: not a recording";
                break;
            }
        }
        if (!error.empty())
            break;
        if (!writeAll(out.fd, buffer, static_cast<size_t>(n))) {
            error = "cannot write a temporary copy of " + path + ": " + std::strerror(errno);
            break;
        }
    }
    unlink(copy.c_str());
    return Copied::Failed;
}

void removeCopy(const std::string& path, const std::string& copy)
{
    if (copy != path)
        unlink(copy.c_str());
}

} // namespace monitor::files
