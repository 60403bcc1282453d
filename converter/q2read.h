// The Quake 2 reader: checks an IBSP 38 and hands its map to a sink, entity
// by entity. Each model's brushes are those the leaves of its tree list; the
// sides come from the brush stage, their texel axes, flags and value from the
// texinfo. Area portal brushes, compiled into the world, go back to their
// func_areaportal; rotating entities get back an origin brush.
#pragma once

#include "convert.h"
#include "mapdata.h"

#include <cstddef>
#include <span>

namespace bsp2map {

Result<void> readQuake2(std::span<const std::byte> data, MapSink &sink, ConvertStats &stats,
                        const ProgressFn &progress);

} // namespace bsp2map
