// Loading a library at run time as a host program does: dlopen here, LoadLibrary on Windows.
#pragma once

#if defined(_WIN32)
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include <string>

namespace testing_support {

inline void* loadLibrary(const char* path)
{
#if defined(_WIN32)
    return reinterpret_cast<void*>(LoadLibraryA(path));
#else
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}

// True when the library was unloaded (or its reference dropped).
inline bool unloadLibrary(void* lib)
{
#if defined(_WIN32)
    return FreeLibrary(reinterpret_cast<HMODULE>(lib)) != 0;
#else
    return dlclose(lib) == 0;
#endif
}

inline void* findSymbol(void* lib, const char* name)
{
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
#else
    return dlsym(lib, name);
#endif
}

inline std::string loaderError()
{
#if defined(_WIN32)
    return "error " + std::to_string(GetLastError());
#else
    const char* e = dlerror();
    return e ? e : "";
#endif
}

} // namespace testing_support
