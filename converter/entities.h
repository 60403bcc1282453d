// The entity lump: { "key" "value" ... } repeated. Values are any bytes up to
// the next quote; there are no escapes.
#pragma once

#include "convresult.h"

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

} // namespace bsp2map
