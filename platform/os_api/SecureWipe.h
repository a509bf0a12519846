#pragma once
#include <string.h>

#include <cstdint>
#include <string>
#include <vector>

namespace os
{
/// Overwrites a secret's bytes with zeros (in a way the compiler may not drop) and empties
/// the container. The capacity stays, so that a later reuse writes over the same memory.
inline void SecureWipe(std::string& str)
{
    if (!str.empty())
        ::explicit_bzero(str.data(), str.size());
    str.clear();
}

inline void SecureWipe(std::vector<uint8_t>& vec)
{
    if (!vec.empty())
        ::explicit_bzero(vec.data(), vec.size());
    vec.clear();
}
} // namespace os
