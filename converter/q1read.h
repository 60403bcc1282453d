// The Quake and Half-Life reader: checks a BSP of version 29 or 30, BSP2 or
// 2PSB, and hands its map to a sink, entity by entity. These files keep no
// brushes: each model's are rebuilt from its tree, its visible faces giving
// their sides' textures and texel axes, and hidden sides a neutral texture.
#pragma once

#include "convert.h"
#include "mapdata.h"

#include <cstddef>
#include <span>

namespace bsp2map {

Result<void> readQuake1(std::span<const std::byte> data, MapSink &sink, ConvertStats &stats,
                        const ProgressFn &progress);

} // namespace bsp2map
