// Numbers as text that reads back to the same value: shortest round-trip
// digits, integers without a fraction, and no negative zero.
#pragma once

#include <charconv>
#include <cmath>
#include <string>

namespace bsp2map {

inline void appendNumber(std::string &out, double value)
{
    if (value == 0)
        value = 0;
    char buffer[64];
    // Plain digits where they stay short, for parsers that dislike exponents.
    const double magnitude = std::fabs(value);
    const bool fixed = magnitude >= 1e-5 && magnitude < 1e15;
    const auto result = fixed ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                              std::chars_format::fixed)
                              : std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

inline void appendNumber(std::string &out, float value)
{
    if (value == 0)
        value = 0;
    char buffer[64];
    const float magnitude = std::fabs(value);
    const bool fixed = magnitude >= 1e-5f && magnitude < 1e15f;
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
