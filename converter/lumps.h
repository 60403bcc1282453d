// What every IBSP-style file shares: a header of magic, version and a table of
// (offset, length) lumps, and lumps of fixed-size records read in place.
#pragma once

#include "convresult.h"

#include <algorithm>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace bsp2map {

static_assert(std::endian::native == std::endian::little,
              "the lumps are read in place as little-endian records");

std::int32_t int32At(std::span<const std::byte> data, std::size_t offset);

// A name in a fixed-size field: the bytes before its first NUL, or all of them.
template <std::size_t N> std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, std::find(field, field + N, '\0') - field);
}

// Records of one lump, copied out one at a time since the file gives no alignment.
template <class T> class Lump {
public:
    Lump() = default;
    Lump(const std::byte *data, std::size_t count)
        : data_(data)
        , count_(count)
    {
    }
    std::size_t size() const { return count_; }
    bool contains(std::int64_t index) const
    {
        return index >= 0 && static_cast<std::uint64_t>(index) < count_;
    }
    // A range [first, first + count) lies inside the lump.
    bool containsRange(std::int64_t first, std::int64_t count) const
    {
        return first >= 0 && count >= 0 &&
               static_cast<std::uint64_t>(first) + static_cast<std::uint64_t>(count) <= count_;
    }
    const std::byte *recordAddress(std::size_t index) const { return data_ + index * sizeof(T); }
    T operator[](std::size_t index) const
    {
        T value;
        std::memcpy(&value, data_ + index * sizeof(T), sizeof(T));
        return value;
    }

private:
    const std::byte *data_ = nullptr;
    std::size_t count_ = 0;
};

class LumpTable {
public:
    using Namer = const char *(*)(int index);
    // The file fits the 2 GiB its offsets reach and holds the whole table,
    // which starts after `tableAt` bytes of magic and version.
    static Result<LumpTable> read(std::span<const std::byte> data, int lumpCount, Namer name,
                                  int tableAt = 8);

    // Where the first lump with data starts: past the table, in variants with more lumps.
    std::int64_t smallestOffset() const;
    // Counts that many more lumps in the size the header promises.
    void widen(int more) { promised_ += more; }

    // A lump's bytes, inside the file and a whole number of records.
    Result<std::span<const std::byte>> bytes(int index, std::size_t recordSize) const;
    template <class T> Result<void> load(Lump<T> &out, int index) const
    {
        auto found = bytes(index, sizeof(T));
        if (!found)
            return found.takeError();
        out = Lump<T>(found->data(), found->size() / sizeof(T));
        return {};
    }
    // The entity text: up to its NUL or, in maps edited after compiling, the lump's end.
    Result<std::string_view> text(int index) const;

private:
    LumpTable(std::span<const std::byte> data, int lumpCount, Namer name, int tableAt)
        : data_(data)
        , table_(tableAt)
        , count_(lumpCount)
        , promised_(lumpCount)
        , name_(name)
    {
    }
    std::span<const std::byte> data_;
    int table_, count_, promised_;
    Namer name_;
};

} // namespace bsp2map
