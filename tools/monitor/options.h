// tavrin-monitor's command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace monitor {

struct Options {
    unsigned rate = 120;                // reads per second
    int spinUs = 0;                     // how the source's wait ends: 0 sleep only, -1 adaptive, N us
    std::optional<double> seconds;      // run time; none: until Ctrl-C
    std::string csvPath;                // empty: no CSV
    std::string plotPath;               // empty: no plot
    std::string recordPath;             // empty: no recording (the CSV plus the events)
    std::string bvhPath;                // empty: no BVH animation of the take
    std::string gltfPath;               // empty: no glTF animation (.gltf or .glb)
    std::string convertPath;            // empty: a live run; else the recording to write the outputs from
    std::string replayPath;             // empty: no replay; else the simulated runtime replays it
    std::string serve;                  // empty: no live view; else [HOST:]PORT to serve it on
    struct Receiver {
        std::string host;
        int port;
    };
    std::vector<Receiver> osc;          // receivers to send poses to over OSC
    double oscRate = 60;                // bundles per second at most (and at most the read rate)
    bool oscVrchat = false;             // VRChat's OSC trackers instead of VMC
    std::string rigPath;                // empty: no rig file; else loaded (when it exists) and saved at the end
    std::vector<std::pair<std::string, int>> roles; // --role SERIAL=ROLE, in order
    std::string originSerial;           // empty: none; else the space's origin is set from this device
    bool autoRoles = false;             // --auto-roles: body roles from the first frame with a head
    std::optional<int> axes;            // --axes: the space's axes (a tavrin_axes); none: the rig's
    std::optional<double> unitsPerMetre; // --units: the space's units per metre; none: the rig's
    std::optional<std::vector<float>> filter; // --filter: min_cutoff_hz, beta, derivative_cutoff_hz (0s: off)
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

// --role's value: SERIAL=ROLE, the role by name ("left_foot") or number (0..15); false for a
// serial of no characters or more than 63, or an unknown role.
bool parseRole(const std::string& text, std::string& serial, int& role);

// --serve's value: "PORT" or "HOST:PORT" (a host may be a name, an IPv4 address or [IPv6]); a
// port from 0 (any free one) to 65535. Without a host, 127.0.0.1: the stream is not offered to
// the network unless asked for. False on anything else.
bool parseHostPort(const std::string& text, std::string& host, int& port);

// Whether `text` ends with `tail` (lower case), in any case, after at least one character.
bool endsWith(std::string text, const char* tail);

const char* usage();

} // namespace monitor
