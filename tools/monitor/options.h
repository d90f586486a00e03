// tavrin-monitor's command line.
#pragma once

#include <optional>
#include <string>

namespace monitor {

struct Options {
    unsigned rate = 120;                // reads per second
    std::optional<double> seconds;      // run time; none: until Ctrl-C
    std::string csvPath;                // empty: no CSV
    std::string plotPath;               // empty: no plot
    std::string recordPath;             // empty: no recording (the CSV plus the events)
    std::string replayPath;             // empty: no replay; else the simulated runtime replays it
    bool demo = true;                   // start the simulated runtime's demo rig when present
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error; // non-empty: a message for the user; the exit status is 2
};

ParseResult parseOptions(int argc, const char* const* argv);

const char* usage();

} // namespace monitor
