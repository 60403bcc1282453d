// Any bytes through the converter: it must answer with a map or an error,
// never crash, read out of bounds or hang.
#include "convert.h"

#include <array>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    bsp2map::ConvertOptions options;
    // Every writer; valve is refused for Quake III, once the reader is known.
    options.form = std::array{bsp2map::MapForm::BrushDef, bsp2map::MapForm::Classic,
                              bsp2map::MapForm::Valve}[size % 3];
    std::string text;
    const auto result =
        bsp2map::convertBsp(std::span(reinterpret_cast<const std::byte *>(data), size), options,
                            text, [](const std::string &) {});
    // A written map ends its last entity.
    if (result && (text.size() < 2 || text.compare(text.size() - 2, 2, "}\n") != 0))
        __builtin_trap();
    return 0;
}
