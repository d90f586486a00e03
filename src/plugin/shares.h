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

// A command, data or status object as the record binds it: its driver is set and cleared only
// under the record's lock.
class boundObject {
public:
    virtual void setBinding(void* driver) = 0;

protected:
    ~boundObject() = default;
};

// A new object, held by `holder` alone. For a device, `driver` is its driver, which from now on
// is live under an identity of its own that is never reused.
void adopt(const void* holder, void* object, Kind kind, const void* driver = nullptr);

// `to` takes a share in everything `from` holds: its factories (a helper's private factory) or
// everything else (a factory's own objects).
void copyShares(const void* from, const void* to, bool factories);

// `holder` gives up its shares in factories (factories == true) or in everything else. Returns
// the objects that nobody holds any more; they are no longer recorded and the caller destroys
// them.
std::vector<Held> giveUp(const void* holder, bool factories);

// `holder` is going away without a release: it gives up the shares that others hold too. Objects
// that only it held stay alive but are no longer recorded: they are the host's from then on.
// Command, data and status objects stay bound, and are still unbound when their driver goes.
void forget(const void* holder);

// Whether `holder` holds a share in the device whose driver is `driver`: then that driver is
// live and is the holder's own, not another that happens to sit at a reused address.
bool holdsDriver(const void* holder, const void* driver);

// Binds `object` to the live driver at `driver`, or leaves it unbound when no live driver is
// there. Replaces any earlier binding.
void bind(boundObject* object, void* driver);

// `object` is being destroyed: it is bound no more.
void unbind(boundObject* object);

// A device's driver is about to be freed: it is no longer live, and every object bound to it,
// recorded or left to the host, is unbound first, so that it reports DeviceError_NotBound.
void retireDriver(const void* driver);

} // namespace ViveSystem::shares
