// The devices present, as a frame source's events tell them: the one place that turns a stream of
// events into the set of devices there, each with its index, class and connected state. The
// monitor keeps its device list with it; the simulated runtime's replay, its timeline.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace recording {

struct PresentDevice {
    int32_t deviceClass = 0;
    uint32_t index = 0;
    bool connected = true;
};

class PresentDevices {
public:
    // One event (a tavrin_event_kind): SESSION_OPENED (a fresh list follows) and SESSION_CLOSED
    // (every device was reported gone before it) empty the set; ARRIVED adds a connected device
    // (SWITCHED_OFF follows for one that is not); LEFT removes it; SWITCHED_ON and SWITCHED_OFF
    // set its connected state; INDEX_CHANGED moves it. Events for a serial not present change
    // nothing but ARRIVED.
    void apply(int32_t kind, const std::string& serial, int32_t deviceClass, uint32_t index);
    void clear() { devices_.clear(); }

    // By serial.
    const std::map<std::string, PresentDevice>& devices() const { return devices_; }
    const PresentDevice* find(const std::string& serial) const;
    // The serial of the device at an index, or null.
    const std::string* serialAt(uint32_t index) const;

private:
    std::map<std::string, PresentDevice> devices_;
};

} // namespace recording
