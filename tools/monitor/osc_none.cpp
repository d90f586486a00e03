// A build without an OSC library: --osc is named, and refused.
#include "osc_transport.h"

namespace monitor::osc {

class Receiver {};

bool available(std::string& why)
{
    why = "this build of tavrin-monitor cannot send OSC (liblo was not found when it was built)";
    return false;
}

Receiver* open(const std::string&, int, std::string& error)
{
    available(error);
    return nullptr;
}

bool sendBundle(Receiver*, float, const std::vector<VmcPose>&, std::string&)
{
    return false;
}

bool sendMessages(Receiver*, const std::vector<OscFloats>&, std::string&)
{
    return false;
}

void close(Receiver*) {}

} // namespace monitor::osc
