#include "loader_init.h"

namespace testing_support {

namespace {
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
} // namespace

uint32_t loaderInit(vr::EVRInitError* error)
{
    return initInternal(error, vr::VRApplication_Background, 0);
}

} // namespace testing_support
