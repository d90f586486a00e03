// A build without an HTTP server library: the live view is named, and refused.
#include "live.h"

namespace monitor {

struct LiveServer::Impl {};

LiveServer::LiveServer() = default;
LiveServer::~LiveServer() = default;

bool LiveServer::start(const std::string&, Snapshot, std::string& error)
{
    error = "this build of tavrin-monitor has no live view (cpp-httplib was not found when it was built)";
    return false;
}

std::string LiveServer::url() const
{
    return {};
}

void LiveServer::publishEvent(const std::string&) {}

void LiveServer::stop() {}

} // namespace monitor
