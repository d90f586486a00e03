// How OSC leaves the monitor: liblo where it was found at build time, otherwise nothing (the
// option is then refused with the reason). One implementation file each.
#pragma once

#include "vmc.h"

#include <string>
#include <vector>

namespace monitor::osc {

bool available(std::string& why);

class Receiver;
// A receiver at host:port, its host name resolved now, or null with a reason.
Receiver* open(const std::string& host, int port, std::string& error);
// One bundle (time tag: immediately): /VMC/Ext/OK 1, /VMC/Ext/T seconds, then each pose. False,
// with the system's reason, when it did not go.
bool sendBundle(Receiver* receiver, float seconds, const std::vector<VmcPose>& poses, std::string& why);
// Each a message of its own, as VRChat's receiver takes them; true when every one went.
bool sendMessages(Receiver* receiver, const std::vector<OscFloats>& messages, std::string& why);
void close(Receiver* receiver);

} // namespace monitor::osc
