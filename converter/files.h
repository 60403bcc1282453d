// Reading an input file once, and replacing an output file only whole.
#pragma once

#include "result.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

namespace bsp2map {

// A regular file mapped read-only; unmapped when the last copy goes.
class InputFile {
public:
    static Result<InputFile> open(const std::filesystem::path &path);
    std::span<const std::byte> bytes() const { return {data_.get(), size_}; }

private:
    std::shared_ptr<const std::byte> data_;
    std::size_t size_ = 0;
};

// Regular file, directory, missing, or other: what lstat-through-links says.
enum class PathKind { Missing, Regular, Directory, Other, Unreadable };
PathKind pathKind(const std::filesystem::path &path);

// A reason in Portuguese for an errno value.
std::string errnoText(int error);

// Writes text to a temporary file beside target, syncs it and renames it over
// target; an existing target becomes target + ".bak". On failure neither a
// partial target nor the temporary file is left.
Result<void> replaceFile(const std::filesystem::path &target, std::string_view text);

} // namespace bsp2map
