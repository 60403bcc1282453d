// The entity lump: { "key" "value" ... } repeated. Values are any bytes up to
// the next quote; there are no escapes.
#pragma once

#include "convresult.h"
#include "geometry.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace bsp2map {

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

struct Entity {
    std::vector<KeyValue> pairs;
    std::string_view value(std::string_view key) const;
};

// The views point into text.
Result<std::vector<Entity>> parseEntities(std::string_view text);

// Each entity's brush model: the world's is 0, another's its "*N", else none.
std::vector<std::optional<std::size_t>> modelsOf(const std::vector<Entity> &entities,
                                                 std::size_t modelCount);

// A texture name a .map line can hold: not empty, no blanks, quotes or controls.
bool writableName(std::string_view name);

// "x y z" as the map editor writes an origin; missing numbers are 0.
std::optional<Vec3> parseOrigin(std::string_view text);

// "*N" with N a brush model other than the world.
std::optional<std::size_t> brushModelIndex(std::string_view value, std::size_t modelCount);

} // namespace bsp2map
