// Failures inside the library surface as DeviceError_Unknown from the plain functions, never as
// exceptions. Thread creation is made to fail by standing in for pthread_create.
#include "support.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

using namespace ViveSystem;

namespace {
std::atomic<bool> refuseThreads{false};
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg)
{
    using Real = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_create"));
    if (refuseThreads.load())
        return EAGAIN;
    return real(thread, attr, start, arg);
}

TEST(HostFaults, AFailedThreadLaunchIsReportedNotThrown)
{
    vrsim_reset();
    void* lib = dlopen(TAVRIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<bool (*)(_DeviceError*)>(dlsym(lib, "initViveLib"));
    auto status = reinterpret_cast<void (*)(_DeviceError*)>(dlsym(lib, "readViveStatus"));
    ASSERT_TRUE(init && status);

    refuseThreads = true;
    _DeviceError err = DeviceError_None;
    bool ok = true;
    EXPECT_NO_THROW(ok = init(&err));
    refuseThreads = false;
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, DeviceError_Unknown);

    // The library is still usable afterwards.
    EXPECT_TRUE(init(&err));
    EXPECT_EQ(err, DeviceError_None);
    dlclose(lib);
    vrsim_reset();
}
