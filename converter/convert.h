// BSP bytes in, .map text out: the whole conversion, with no file access. The
// file's header picks the reader, the form the writer.
#pragma once

#include "convresult.h"
#include "formats.h"
#include "imagesizes.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bsp2map {

struct ConvertOptions {
    std::optional<MapForm> form; // else the family's own
    // Where Quake III shaders' image sizes come from for the Valve form; with
    // none, every image is taken as 64 x 64.
    SizeLookup *sizes = nullptr;
};

struct ConvertStats {
    int version = 0;
    std::size_t entities = 0;
    std::size_t brushes = 0;        // written
    std::size_t detailBrushes = 0;  // of those written
    std::size_t skippedBrushes = 0; // empty, flat or open in the BSP
    std::size_t patches = 0;
    std::size_t triangleSoups = 0; // not convertible, counted only
    std::size_t faces = 0;
    std::size_t texturedFaces = 0;     // faces whose projection came from draw triangles
    std::size_t inheritedFaces = 0;    // hidden faces that took a coplanar neighbour's
    std::size_t approximatedFaces = 0; // whose mapping the form could not write exactly
    std::size_t unusedModels = 0;      // brush models no entity names
    std::size_t assumedSizeFaces = 0;  // whose image's size was not found and taken as 64 x 64
    std::vector<std::string> assumedSizeShaders; // the first few of them
};

using ProgressFn = std::function<void(const std::string &line)>;

// Appends the .map text to mapText. On failure mapText holds a partial text
// that must not be written anywhere.
Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                std::string &mapText, const ProgressFn &progress = {});

using TextSink = std::function<void(std::string_view text)>;

// The same, handing the text to sink in pieces as it is made, so that a large
// map never sits whole in memory. On failure, what sink got must be thrown away.
Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                const TextSink &sink, const ProgressFn &progress = {});

} // namespace bsp2map
