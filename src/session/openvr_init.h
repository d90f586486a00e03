// The loader's init as the OpenVR header in use declares it: VR_InitInternal2 (with no startup
// information) where it does, as the SDK's 2.x headers; VR_InitInternal before. Both names are
// found by argument-dependent lookup, so that each header compiles with the one it declares; every
// loader since 1.0.x exports both.
#pragma once

#include <openvr.h>

#include <cstdint>

namespace ViveSystem {

namespace detail {
template <class Error, class Type>
auto initInternal(Error* error, Type type, int) -> decltype(VR_InitInternal2(error, type, nullptr))
{
    return VR_InitInternal2(error, type, nullptr);
}
template <class Error, class Type>
auto initInternal(Error* error, Type type, long) -> decltype(VR_InitInternal(error, type))
{
    return VR_InitInternal(error, type);
}
} // namespace detail

// Opens (or initialises again) the process's client as a background application: the loader's
// token, or 0 with its error written.
inline uint32_t openvrInit(vr::EVRInitError* error)
{
    return detail::initInternal(error, vr::VRApplication_Background, 0);
}

} // namespace ViveSystem
