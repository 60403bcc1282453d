// Reading an input file once, and replacing an output file only whole.
#pragma once

#include "convresult.h"
#include "errnotext.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

namespace bsp2map {

// A regular file mapped read-only; unmapped when the last copy goes.
class InputFile {
public:
    // Files larger than maxSize are refused before anything is read.
    static Result<InputFile> open(const std::filesystem::path &path, std::size_t maxSize);
    std::span<const std::byte> bytes() const { return {data_.get(), size_}; }

private:
    std::shared_ptr<const std::byte> data_;
    std::size_t size_ = 0;
};

// Regular file, directory, missing, or other: what lstat-through-links says.
enum class PathKind { Missing, Regular, Directory, Other, Unreadable };
PathKind pathKind(const std::filesystem::path &path);

// Makes SIGINT, SIGTERM and SIGHUP remove a Replacement's temporary file before
// the run ends by the signal as it would have.
void cleanUpOnInterrupt();

// A file written in pieces that replaces target only when committed: the text
// goes to an unnamed file in target's folder, made at the first piece (a hidden
// named one where the filesystem has no unnamed files), which commit syncs,
// names and renames over target. An existing target with other contents is
// kept as target + ".bak", or ".bak2", ".bak3"... when that name is taken.
// On failure, without a commit, or on an interrupt after cleanUpOnInterrupt,
// neither a partial target nor the temporary file is left.
class Replacement {
public:
    explicit Replacement(std::filesystem::path target);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // A failure is kept for commit to report; later pieces are dropped.
    void write(std::string_view text);
    // The name the old target was kept under, or "" when nothing needed keeping.
    Result<std::string> commit();

private:
    void create();
    // Closes and removes the temporary file.
    Error discard(std::string reason);

    std::filesystem::path target_, folder_;
    std::string temp_; // the temporary file's name, while it has one
    int fd_ = -1;
    std::string error_;
};

} // namespace bsp2map
