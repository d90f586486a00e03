// The loader's init as the OpenVR header in use declares it, for tests that open the client
// themselves.
#pragma once

#include <openvr.h>

#include <cstdint>

namespace testing_support {

// VR_InitInternal2 where the header declares it (the SDK's 2.x), VR_InitInternal before: the
// token, or 0 with the error written.
uint32_t loaderInit(vr::EVRInitError* error);

} // namespace testing_support
