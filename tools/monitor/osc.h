// Poses streamed to OSC receivers over UDP, on a thread of its own: VMC bundles, or VRChat's
// tracker messages. The reader only hands over the frames that are due, so a receiver that is
// missing, slow or unreachable never stops or slows the reads. Failed sends are counted.
#pragma once

#include "vmc.h"

#include <tavrin.h>

#include <memory>
#include <string>
#include <vector>

namespace monitor {

class OscSender {
public:
    OscSender();
    ~OscSender();
    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    // Whether this build can send OSC (it needs liblo); `why` says why not.
    static bool available(std::string& why);

    // A receiver at HOST:PORT; false with a reason.
    bool addReceiver(const std::string& host, int port, std::string& error);
    enum class Format { Vmc, Vrchat };
    // Sends at most `rate` frames a second from now on (no thread when there is no receiver), in
    // this format, from frames in these units.
    void start(double rate, Format format = Format::Vmc, const tavrin_space& space = kOpenvrSpace);
    // The reader's frame, at its time in seconds since the monitor started. Never waits: a frame
    // that is due replaces one the sender has not taken yet.
    void offer(const tavrin_frame& frame, double seconds);
    void stop();

    struct Figures {
        unsigned long long bundles = 0;   // frames sent to every receiver (as bundles, or messages)
        unsigned long long datagrams = 0; // datagrams sent: a bundle, or a message, to a receiver
        unsigned long long failed = 0;  // sends that failed (counted per receiver)
        unsigned long long skipped = 0; // due frames the sender was still too busy to take
        std::string lastFailure;        // the system's reason for the latest failed send
    };
    Figures figures() const;
    std::vector<std::string> receivers() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace monitor
