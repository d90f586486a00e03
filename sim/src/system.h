// The simulated runtime's IVRSystem, one per session.
#pragma once

namespace vr {
class IVRSystem;
}

namespace vrsim {

// A new interface object for a new session; never freed (callers may keep stale pointers).
vr::IVRSystem* newSystem();

} // namespace vrsim
