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
    // Most coordinates are whole: the integer path is much cheaper.
    if (std::fabs(value) < 1e15 && value == static_cast<double>(static_cast<long long>(value))) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        out.append(buffer, result.ptr);
        return;
    }
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
    if (std::fabs(value) < 1e7f && value == static_cast<float>(static_cast<long>(value))) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long>(value));
        out.append(buffer, result.ptr);
        return;
    }
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
