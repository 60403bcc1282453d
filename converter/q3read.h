// The Quake III reader: checks an IBSP 46 or 47 and hands its map to a sink,
// entity by entity. Brushes come from the brush stage; their detail flag from
// the world's tree; their texture mappings from the draw triangles, matched
// and fitted in stages of their own (q3match, q3fit); patches as they are.
#pragma once

#include "convert.h"
#include "mapdata.h"

#include <cstddef>
#include <span>

namespace bsp2map {

struct ReadOptions {
    // Whether to find each side's brush-primitives matrix; a form that cannot
    // write one has no use for it, and each side then has none.
    bool fitTextures = true;
};

Result<void> readQuake3(std::span<const std::byte> data, const ReadOptions &options,
                        MapSink &sink, ConvertStats &stats, const ProgressFn &progress);

} // namespace bsp2map
