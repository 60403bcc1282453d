// What one conversion does with its input: which maps it reads and where each
// .map goes. bspc.exe follows it, and the window expects what it says.
#pragma once

#include "pk3.h"
#include "convresult.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bsp2map {

struct PlannedMap {
    std::string entry;            // in the pk3; "" for a BSP file
    std::filesystem::path stem;   // the map's name without its extension
    std::filesystem::path target; // <folder>/<stem>.map
};

struct Plan {
    std::string source;           // the file read: the BSP file or the pk3
    std::string name;             // what the conversion is called
    std::filesystem::path folder; // where the maps go
    std::optional<Pk3> package;   // open, when the source is a pk3
    bool whole = false;           // every maps/*.bsp of the package
    // The game folder the map comes from, whose textures it names: the pk3's
    // folder, or the one above the maps/ that holds a BSP; else empty.
    std::filesystem::path gameFolder;
    // The maps in the order they are converted, or why there can be none:
    // "<what>: <reason>", for the converter to report.
    Result<std::vector<PlannedMap>> maps = std::vector<PlannedMap>{};
};

// `input` and `output` exactly as passed to -bsp2map and -output. The input is
// a BSP file, a .pk3 (a trailing slash changes nothing), or a path through a
// .pk3 to one of its maps. An empty output is the input's folder, the pk3's for
// a pk3 or a path through one. A relative folder starts at `base` when that is
// given, else it stays relative, as the converter takes it.
Plan makePlan(const std::string &input, const std::string &output,
              const std::filesystem::path &base = {});

} // namespace bsp2map
