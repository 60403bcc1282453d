// Which kind of BSP a file is, told by its header, and the forms a map can be
// written in: the command line picks a reader by the one and a writer by the other.
#pragma once

#include "convresult.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace bsp2map {

enum class Family {
    Quake3, // IBSP 46 and 47: Quake III Arena, OpenArena and their kin
    Quake2, // IBSP 38
    Quake1, // Quake's 29, BSP2 and 2PSB, and Half-Life's 30
};

// How brush sides are written: brush primitives (brushDef), classic plane
// points with shift, rotation and scale, or Valve 220's axes with offsets.
enum class MapForm { BrushDef, Classic, Valve };

// The form named on the command line ("brushdef", "classic", "valve").
std::optional<MapForm> formNamed(std::string_view name);

// The form a family's maps get when none is asked for.
MapForm defaultForm(Family family);

// Whether a family's maps can be written in that form.
Result<void> accepts(Family family, MapForm form);

// The family of the file, or why no reader takes it: an empty file, no BSP,
// or a BSP of a kind not supported ("formato não suportado: ...").
Result<Family> identify(std::span<const std::byte> data);

} // namespace bsp2map
