// Numbers as text that reads back to the same value: shortest round-trip
// digits, integers without a fraction, and no negative zero.
#pragma once

#include <charconv>
#include <cmath>
#include <string>
#include <type_traits>

namespace bsp2map {

template <class Real>
    requires std::is_floating_point_v<Real>
inline void appendNumber(std::string &out, Real value)
{
    if (value == 0)
        value = 0;
    char buffer[64];
    const Real magnitude = std::fabs(value);
    // Most coordinates are whole: the integer path is much cheaper. Below 2^24
    // every float and double that equals its truncation is exact as an integer.
    if (magnitude < Real(1 << 24) && value == static_cast<Real>(static_cast<long>(value))) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long>(value));
        out.append(buffer, result.ptr);
        return;
    }
    // Plain digits where they stay short, for parsers that dislike exponents.
    const bool fixed = magnitude >= Real(1e-5) && magnitude < Real(1e15);
    const auto result = fixed ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                              std::chars_format::fixed)
                              : std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

inline void appendNumber(std::string &out, long long value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace bsp2map
