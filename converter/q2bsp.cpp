#include "q2bsp.h"

#include <algorithm>
#include <string>

namespace bsp2map {
namespace {

constexpr int kLumpCount = 19;
constexpr std::size_t kHeaderSize = 8 + kLumpCount * 8;

enum LumpIndex : int {
    Entities = 0,
    Planes = 1,
    Nodes = 4,
    TexInfo = 5,
    Leaves = 8,
    LeafBrushes = 10,
    Models = 13,
    Brushes = 14,
    BrushSides = 15,
    Areas = 17,
    AreaPortals = 18,
};

const char *lumpName(int index)
{
    switch (index) {
    case Entities:
        return "entidades";
    case Planes:
        return "planos";
    case Nodes:
        return "nós";
    case TexInfo:
        return "texinfo";
    case Leaves:
        return "folhas";
    case LeafBrushes:
        return "brushes das folhas";
    case Models:
        return "modelos";
    case Brushes:
        return "brushes";
    case BrushSides:
        return "lados de brush";
    case Areas:
        return "áreas";
    case AreaPortals:
        return "portais de área";
    }
    return "?";
}

std::int32_t int32At(std::span<const std::byte> data, std::size_t offset)
{
    std::int32_t value;
    std::memcpy(&value, data.data() + offset, 4);
    return value;
}

} // namespace

std::string_view texInfoName(const Q2TexInfo &info)
{
    const char *end = std::find(info.texture, info.texture + sizeof info.texture, '\0');
    return std::string_view(info.texture, static_cast<std::size_t>(end - info.texture));
}

Result<Q2Bsp> readQ2Bsp(std::span<const std::byte> data)
{
    if (data.size() > static_cast<std::size_t>(INT32_MAX))
        return fail("arquivo grande demais para um BSP (" + std::to_string(data.size() >> 20) +
                    " MiB; o formato só alcança 2 GiB)");
    if (data.size() < kHeaderSize)
        return fail("o arquivo termina antes do fim do cabeçalho (truncado): tem " +
                    std::to_string(data.size()) + " de " + std::to_string(kHeaderSize) + " bytes");
    std::int64_t end = 0;
    for (int i = 0; i < kLumpCount; ++i) {
        const std::int64_t offset = int32At(data, 8 + i * 8), length = int32At(data, 12 + i * 8);
        if (offset >= 0 && length >= 0)
            end = std::max(end, offset + length);
    }
    auto lumpBytes = [&](int index, std::size_t size) -> Result<std::span<const std::byte>> {
        const std::int64_t offset = int32At(data, 8 + index * 8);
        const std::int64_t length = int32At(data, 12 + index * 8);
        const std::string name = std::string("lump de ") + lumpName(index);
        if (offset < 0 || length < 0)
            return fail(name + ": posição ou tamanho negativo");
        if (offset + length > static_cast<std::int64_t>(data.size()))
            return fail("o arquivo termina antes do fim (truncado): tem " +
                        std::to_string(data.size()) + " bytes, e o cabeçalho indica " +
                        std::to_string(end));
        if (length % static_cast<std::int64_t>(size) != 0)
            return fail(name + ": tamanho " + std::to_string(length) + " não é múltiplo de " +
                        std::to_string(size));
        return data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    };
    auto load = [&]<class T>(Lump<T> &out, int index) -> Result<void> {
        auto bytes = lumpBytes(index, sizeof(T));
        if (!bytes)
            return bytes.takeError();
        out = Lump<T>(bytes->data(), bytes->size() / sizeof(T));
        return {};
    };

    Q2Bsp bsp;
    auto text = lumpBytes(Entities, 1);
    if (!text)
        return text.takeError();
    const char *first = reinterpret_cast<const char *>(text->data());
    // Maps edited after compiling may end the text at the lump's end, with no NUL.
    const char *nul = std::find(first, first + text->size(), '\0');
    bsp.entities = std::string_view(first, static_cast<std::size_t>(nul - first));
    for (auto r :
         {load(bsp.planes, Planes), load(bsp.nodes, Nodes), load(bsp.texInfo, TexInfo),
          load(bsp.leaves, Leaves), load(bsp.leafBrushes, LeafBrushes), load(bsp.models, Models),
          load(bsp.brushes, Brushes), load(bsp.brushSides, BrushSides), load(bsp.areas, Areas),
          load(bsp.areaPortals, AreaPortals)}) {
        if (!r)
            return r.takeError();
    }
    if (bsp.models.size() == 0)
        return fail("nenhum modelo: falta o modelo 0 do worldspawn");
    return bsp;
}

} // namespace bsp2map
