// Any bytes through the converter: it must answer with a map or an error,
// never crash, read out of bounds or hang.
#include "convert.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    bsp2map::ConvertOptions options;
    options.form = bsp2map::MapForm(size % 3); // every writer
    std::string text;
    const auto result =
        bsp2map::convertBsp(std::span(reinterpret_cast<const std::byte *>(data), size), options,
                            text, [](const std::string &) {});
    // A written map ends its last entity.
    if (result && (text.size() < 2 || text.compare(text.size() - 2, 2, "}\n") != 0))
        __builtin_trap();
    return 0;
}
