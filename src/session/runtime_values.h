// Values the runtime writes into the SDK's enumeration fields, read as the 32-bit integers they
// are. A runtime newer than the SDK sends values the SDK does not name (a tracking result of 300,
// an init error the header lacks); loading one as the enumeration is undefined behaviour, so such
// a field is only ever copied out byte for byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ViveSystem {

template <class Enum>
int32_t runtimeValue(const Enum& field)
{
    static_assert(std::is_enum<Enum>::value && sizeof(Enum) == sizeof(int32_t), "a 32-bit enumeration field");
    int32_t value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// A field the runtime is about to write, set to a known value first (the runtime may leave it).
template <class Enum>
void clearRuntimeValue(Enum& field)
{
    static_assert(std::is_enum<Enum>::value && sizeof(Enum) == sizeof(int32_t), "a 32-bit enumeration field");
    std::memset(&field, 0, sizeof field);
}

} // namespace ViveSystem
