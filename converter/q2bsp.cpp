#include "q2bsp.h"

#include <algorithm>
#include <string>

namespace bsp2map {
namespace {

constexpr int kLumpCount = 19;

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

} // namespace

std::string_view texInfoName(const Q2TexInfo &info)
{
    return fieldText(info.texture);
}

Result<Q2Bsp> readQ2Bsp(std::span<const std::byte> data)
{
    auto table = LumpTable::read(data, kLumpCount, lumpName);
    if (!table)
        return table.takeError();
    Q2Bsp bsp;
    auto text = table->text(Entities);
    if (!text)
        return text.takeError();
    bsp.entities = *text;
    const auto load = [&](auto &out, int index) { return table->load(out, index); };
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
