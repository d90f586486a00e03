#include "present_devices.h"

#include <tavrin.h>

namespace recording {

void PresentDevices::apply(int32_t kind, const std::string& serial, int32_t deviceClass, uint32_t index)
{
    if (kind == TAVRIN_EVENT_SESSION_OPENED || kind == TAVRIN_EVENT_SESSION_CLOSED) {
        devices_.clear();
        return;
    }
    if (kind == TAVRIN_EVENT_DEVICE_ARRIVED) {
        PresentDevice& d = devices_[serial];
        d.deviceClass = deviceClass;
        d.index = index;
        d.connected = true;
        return;
    }
    const auto it = devices_.find(serial);
    if (it == devices_.end())
        return;
    switch (kind) {
    case TAVRIN_EVENT_DEVICE_LEFT:
        devices_.erase(it);
        break;
    case TAVRIN_EVENT_DEVICE_SWITCHED_ON:
    case TAVRIN_EVENT_DEVICE_SWITCHED_OFF:
        it->second.connected = kind == TAVRIN_EVENT_DEVICE_SWITCHED_ON;
        break;
    case TAVRIN_EVENT_INDEX_CHANGED:
        it->second.index = index;
        break;
    default:
        break;
    }
}

const PresentDevice* PresentDevices::find(const std::string& serial) const
{
    const auto it = devices_.find(serial);
    return it == devices_.end() ? nullptr : &it->second;
}

const std::string* PresentDevices::serialAt(uint32_t index) const
{
    for (const auto& [serial, d] : devices_)
        if (d.index == index)
            return &serial;
    return nullptr;
}

} // namespace recording
