// tavrin-monitor: a host program over tavrin's frame source, as a user's own program would be
// (see monitor.h): parse the options, open the source and its outputs, run, and sum up.
#include "monitor.h"
#include "options.h"

#include <tavrin.h>

#include <cstdio>

int main(int argc, char** argv)
{
    const monitor::ParseResult parsed = monitor::parseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tavrin-monitor: %s\n(tavrin-monitor --help lists the options)\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(monitor::usage(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("tavrin-monitor %s (library %s)\n", TAVRIN_VERSION_STRING, tavrin_version());
        return 0;
    }
    monitor::Monitor run(parsed.options);
    if (!parsed.options.convertPath.empty())
        return run.convert();
    if (const int refused = run.prepare())
        return refused;
    run.run();
    return run.finish();
}
