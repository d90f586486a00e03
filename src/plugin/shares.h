// Shared ownership of the factory's objects across copies of a factory or helper.
//
// Each factory (or helper) that refers to an object holds a share in it, recorded here by the
// holder's address; copying a factory gives the copy a share in everything the original holds.
// Giving up the last share hands the object back for destruction. The record is process-wide and
// locked; it is touched only when objects are created, copied, released or destroyed, never on a
// read.
#pragma once

#include <vector>

namespace ViveSystem::shares {

enum class Kind { Device, Command, Data, Status, Factory };

struct Held {
    void* object; // the interface pointer (idevice*, icmd*, idata*, istat*) or the Tavrin*
    Kind kind;
};

// A new object, held by `holder` alone. For a device, `driver` is its driver.
void adopt(const void* holder, void* object, Kind kind, const void* driver = nullptr);

// `to` takes a share in everything `from` holds.
void copyShares(const void* from, const void* to);

// `holder` gives up its shares in factories (factories == true) or in everything else. Returns
// the objects that nobody holds any more; they are no longer recorded and the caller destroys
// them.
std::vector<Held> giveUp(const void* holder, bool factories);

// `holder` is going away without a release: it gives up the shares that others hold too. Objects
// that only it held stay alive but are no longer recorded: they are the host's from then on.
void forget(const void* holder);

// Whether `driver` is the driver of a device that still exists.
bool isLiveDriver(const void* driver);

// A device and its driver are gone: every recorded command, data or status object still bound to
// that driver is unbound, so that it reports DeviceError_NotBound instead of using freed memory.
void unbindFrom(const void* driver);

} // namespace ViveSystem::shares
