// OSC over liblo (Debian's liblo-dev): the reference implementation many OSC tools are built on.
#include "osc_transport.h"

#include <lo/lo.h>

#include <netdb.h>
#include <sys/socket.h>

namespace monitor::osc {

class Receiver {
public:
    lo_address address;
};

bool available(std::string&)
{
    return true;
}

Receiver* open(const std::string& host, int port, std::string& error)
{
    // liblo resolves the name only when it first sends: a name that does not resolve is refused
    // here, before the run, rather than counted as failed sends at its end.
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int got = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (got != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(got);
        return nullptr;
    }
    freeaddrinfo(found);
    lo_address address = lo_address_new(host.c_str(), std::to_string(port).c_str());
    if (address == nullptr) {
        error = "cannot make an OSC address of " + host + ":" + std::to_string(port);
        return nullptr;
    }
    return new Receiver{address};
}

namespace {
std::string reasonOf(lo_address address)
{
    const char* text = lo_address_errstr(address);
    return text && text[0] ? text : "the send failed";
}
} // namespace

bool sendBundle(Receiver* receiver, float seconds, const std::vector<VmcPose>& poses, std::string& why)
{
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    if (bundle == nullptr)
        return false;
    bool built = true;
    auto add = [&](const char* path, lo_message m) {
        if (m == nullptr || lo_bundle_add_message(bundle, path, m) != 0) {
            if (m != nullptr)
                lo_message_free(m);
            built = false;
        }
    };
    lo_message ok = lo_message_new();
    lo_message_add_int32(ok, 1);
    add("/VMC/Ext/OK", ok);
    lo_message t = lo_message_new();
    lo_message_add_float(t, seconds);
    add("/VMC/Ext/T", t);
    for (const VmcPose& p : poses) {
        lo_message m = lo_message_new();
        lo_message_add_string(m, p.serial.c_str());
        for (float v : p.position)
            lo_message_add_float(m, v);
        for (float v : p.rotation)
            lo_message_add_float(m, v);
        add(p.address, m);
    }
    const bool sent = built && lo_send_bundle(receiver->address, bundle) >= 0;
    lo_bundle_free_recursive(bundle);
    if (!sent)
        why = built ? reasonOf(receiver->address) : "the bundle could not be built";
    return sent;
}

bool sendMessages(Receiver* receiver, const std::vector<OscFloats>& messages, std::string& why)
{
    bool sent = true;
    for (const OscFloats& m : messages) {
        if (lo_send(receiver->address, m.address.c_str(), "fff", m.values[0], m.values[1], m.values[2]) < 0) {
            sent = false;
            why = reasonOf(receiver->address);
        }
    }
    return sent;
}

void close(Receiver* receiver)
{
    if (receiver == nullptr)
        return;
    lo_address_free(receiver->address);
    delete receiver;
}

} // namespace monitor::osc
