// The loader's init as the SDK's 2.x headers declare it (the real loader exports both this and
// VR_InitInternal): the startup information is a manifest for scene applications, of no use to
// the simulated runtime.
#include "../loader.h"

#include <openvr.h>

namespace vr {

VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal2(vr::EVRInitError* peError, vr::EVRApplicationType type, const char*)
{
    return vrsim::initClient(peError, type);
}

} // namespace vr
