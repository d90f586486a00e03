// The legacy face's own rules: the 16 records of a read and the _DeviceEvent codes of a change,
// as the plain functions, the helper and the plug-in objects hand them out.
#pragma once

#include "../discovery/device_table.h"
#include "../reading/pose_reader.h"

#include <tavrin.h>

#include <cstdint>
#include <cstring>

namespace ViveSystem {

// The connect and disconnect events of OpenVR class c (1..3): 2c+1 and 2c+2.
inline _DeviceEvent connectEvent(int32_t cls)
{
    return static_cast<_DeviceEvent>(2 * cls + 1);
}
inline _DeviceEvent disconnectEvent(int32_t cls)
{
    return static_cast<_DeviceEvent>(2 * cls + 2);
}

inline _DeviceEventArg makeEventArg(const char* serial, int32_t index, int32_t index2)
{
    _DeviceEventArg arg;
    std::memset(&arg, 0, sizeof arg);
    copySerial(arg.serial, serial);
    arg.index = index;
    arg.index2 = index2;
    return arg;
}

// A change as the legacy drivers report it: the connect or disconnect code of its class (a
// departure and a switch-off both give the disconnect code; a device first seen unconnected too),
// or DeviceEvent_IndexChanged; the argument carries the serial and the index twice, or the new and
// the old index.
void legacyEvent(const DeviceChange& change, _DeviceEvent& event, _DeviceEventArg& arg);

// Fills records 0..n-1 from indices 0..15 of a read, ascending (a pure function of the read): every
// index with a tracking result, a velocity that is not exactly zero and a label of class 1..3 (its
// serial may be empty when the runtime would not give it). Returns n. Records from n on, and the
// fourth float of each matrix row, are left as they were.
int fillPoseRecords(const sampleFrame& frame, float timestampMs, _TrackedDevicePose* out);

} // namespace ViveSystem
