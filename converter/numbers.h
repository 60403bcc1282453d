// Numbers as text that reads back to the same value: shortest round-trip
// digits, integers without a fraction, and no negative zero.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace bsp2map {

// Writes the number at `at`, which has room for kMaxNumber characters, and
// returns its end.
constexpr std::size_t kMaxNumber = 48;

template <class Real>
requires std::is_floating_point_v<Real>
inline char *writeNumber(char *at, Real value)
{
    if (value == 0)
        value = 0;
    const Real magnitude = std::fabs(value);
    // Most coordinates are whole: the integer path is much cheaper. Below 2^24
    // every float and double that equals its truncation is exact as an integer.
    if (magnitude < Real(1 << 24) && value == static_cast<Real>(static_cast<long>(value)))
        return std::to_chars(at, at + kMaxNumber, static_cast<long>(value)).ptr;
    // Plain digits where they stay short, for parsers that dislike exponents.
    const bool fixed = magnitude >= Real(1e-5) && magnitude < Real(1e15);
    return fixed ? std::to_chars(at, at + kMaxNumber, value, std::chars_format::fixed).ptr
                 : std::to_chars(at, at + kMaxNumber, value).ptr;
}

template <class Real>
requires std::is_floating_point_v<Real>
inline void appendNumber(std::string &out, Real value)
{
    char buffer[kMaxNumber];
    out.append(buffer, writeNumber(buffer, value));
}

// The same text for fractions, remembered by their bits: a map repeats the
// same few texture scales and offsets on thousands of faces, and finding the
// shortest digits costs far more than a look-up.
template <class Real>
requires std::is_floating_point_v<Real>
class NumberCache {
public:
    char *write(char *at, Real value)
    {
        if (std::fabs(value) < Real(1 << 24) &&
            value == static_cast<Real>(static_cast<long>(value)))
            return writeNumber(at, value);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof value);
        // Made at the first fraction: a map of whole numbers never touches it.
        if (entries_.empty())
            entries_.resize(std::size_t(1) << kBits);
        Entry &entry = entries_[(bits * 0x9e3779b97f4a7c15ULL) >> (64 - kBits)];
        if (entry.length == 0 || entry.bits != bits) {
            char *end = writeNumber(entry.text, value);
            entry.bits = bits;
            entry.length = static_cast<std::uint8_t>(end - entry.text);
        }
        // Fixed-size copies, the usual short text in one move: a copy of a
        // varying length became a slow string instruction. `at` has room.
        if (entry.length <= kShort)
            std::memcpy(at, entry.text, kShort);
        else
            std::memcpy(at, entry.text, kMaxNumber);
        return at + entry.length;
    }

private:
    static constexpr int kBits = 11;
    static constexpr std::size_t kShort = 16;
    static_assert(kShort <= kMaxNumber);
    struct Entry {
        std::uint64_t bits = 0;
        std::uint8_t length = 0;
        char text[kMaxNumber];
    };
    std::vector<Entry> entries_;
};

inline void appendNumber(std::string &out, long long value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace bsp2map
