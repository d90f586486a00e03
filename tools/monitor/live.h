// The live view: one self-contained page (no network at run time) and a stream of frames and device
// events as Server-Sent Events, for any number of browsers. The page draws the devices seen from
// above (orbitable), their trails, the event log and the pacing figures, and reconnects by itself.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "options.h"

namespace monitor {

class LiveServer {
public:
    // One frame of the stream, as a JSON object; called about 60 times a second per client.
    using Snapshot = std::function<std::string()>;

    LiveServer();
    ~LiveServer();
    LiveServer(const LiveServer&) = delete;
    LiveServer& operator=(const LiveServer&) = delete;

    // Listens on `where` in a thread of its own; false with a reason (also in a build without a
    // live view).
    bool start(const std::string& where, Snapshot snapshot, std::string& error);
    // The address it listens on, as a URL.
    std::string url() const;
    // A device event for every client (and for clients that connect within the next events), as a
    // JSON object. Thread-safe.
    void publishEvent(const std::string& json);
    // Ends every stream and the server.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The page, embedded when the monitor is built.
extern const char* const kLivePage;

} // namespace monitor
