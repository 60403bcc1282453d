// Maps inside a .pk3 (a zip), the way the games ship them.
#pragma once

#include "convresult.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace bsp2map {

class Pk3 {
public:
    static Result<Pk3> open(const std::filesystem::path &path);
    ~Pk3();
    Pk3(Pk3 &&) noexcept;
    Pk3 &operator=(Pk3 &&) noexcept;

    // Entries directly in maps/ whose names end in .bsp, any case, in zip order.
    std::vector<std::string> mapEntries() const;
    // The exact entry name, else the one that matches ignoring case.
    Result<std::string> findEntry(const std::string &name) const;
    Result<std::vector<std::byte>> read(const std::string &entry) const;
    // Every entry's name, in zip order.
    std::vector<std::string> entries() const;
    // At most `limit` bytes from the start of an entry: a file's header needs
    // no more, and its CRC cannot be checked on a part.
    Result<std::vector<std::byte>> readHead(const std::string &entry, std::size_t limit) const;

private:
    Pk3() = default;
    struct Archive;
    std::unique_ptr<Archive> archive_;
};

} // namespace bsp2map
