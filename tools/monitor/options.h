// tavrin-monitor's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace monitor {

struct Options {
    unsigned rate = 120;                // reads per second
    std::optional<double> seconds;      // run time; none: until Ctrl-C
    std::string csvPath;                // empty: no CSV
    std::string plotPath;               // empty: no plot
    std::string recordPath;             // empty: no recording (the CSV plus the events)
    std::string replayPath;             // empty: no replay; else the simulated runtime replays it
    std::string serve;                  // empty: no live view; else [HOST:]PORT to serve it on
    struct Receiver {
        std::string host;
        int port;
    };
    std::vector<Receiver> osc;          // VMC receivers to send poses to over OSC
    double oscRate = 60;                // bundles per second at most (and at most the read rate)
    bool demo = true;                   // start the simulated runtime's demo rig when present
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error; // non-empty: a message for the user; the exit status is 2
};

ParseResult parseOptions(int argc, const char* const* argv);

// --osc's value: as --serve's, but a port from 1 to 65535 (a receiver's).
bool parseReceiver(const std::string& text, std::string& host, int& port);

// --serve's value: "PORT" or "HOST:PORT" (a host may be a name, an IPv4 address or [IPv6]); a
// port from 0 (any free one) to 65535. Without a host, 127.0.0.1: the stream is not offered to
// the network unless asked for. False on anything else.
bool parseHostPort(const std::string& text, std::string& host, int& port);

const char* usage();

} // namespace monitor
