#include "q3bsp.h"

#include "entities.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

namespace bsp2map {
namespace {

constexpr int kLumpCount = 17;
constexpr std::size_t kHeaderSize = 8 + kLumpCount * 8;

enum LumpIndex : int {
    Entities = 0,
    Shaders = 1,
    Planes = 2,
    Leaves = 4,
    LeafBrushes = 6,
    Models = 7,
    Brushes = 8,
    BrushSides = 9,
    Vertices = 10,
    Indexes = 11,
    Surfaces = 13,
};

const char *lumpName(int index)
{
    switch (index) {
    case Entities:
        return "entidades";
    case LumpIndex::Shaders:
        return "shaders";
    case Planes:
        return "planos";
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
    case Vertices:
        return "vértices";
    case Indexes:
        return "índices";
    case Surfaces:
        return "superfícies";
    }
    return "?";
}

} // namespace

std::string_view shaderName(const RawShader &shader)
{
    return fieldText(shader.name);
}

Result<void> checkVertex(const Bsp &bsp, std::int64_t index)
{
    const RawVertex v = bsp.vertices[static_cast<std::size_t>(index)];
    // The sum of finite floats is finite in double: one test instead of five.
    if (!std::isfinite(double(v.xyz[0]) + v.xyz[1] + v.xyz[2] + v.st[0] + v.st[1]))
        return fail("vértice " + std::to_string(index) + " com número não finito");
    return {};
}

namespace {


std::string_view writtenName(std::string_view name)
{
    constexpr std::string_view prefix = "textures/";
    if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix)
        return name.substr(prefix.size());
    return name;
}

} // namespace

Shaders::Shaders(const Bsp &bsp)
    : bsp_(bsp)
    , checked_(bsp.shaders.size(), 0)
    , canonical_(bsp.shaders.size(), 0)
    , writtenNames_(bsp.shaders.size())
{
    std::unordered_map<std::string_view, std::uint32_t> byName;
    for (std::size_t i = 0; i < bsp.shaders.size(); ++i)
        canonical_[i] = byName.try_emplace(name(i), static_cast<std::uint32_t>(i)).first->second;
}

std::string_view Shaders::name(std::size_t shader) const
{
    // Where it lies in the file, so that it outlives the record's copy.
    const RawShader s = bsp_.shaders[shader];
    const std::size_t len = shaderName(s).size();
    const char *inFile = reinterpret_cast<const char *>(bsp_.shaders.recordAddress(shader));
    return std::string_view(inFile, len);
}

Result<void> Shaders::check(std::int64_t index, const char *what, std::size_t owner)
{
    if (!bsp_.shaders.contains(index))
        return fail(std::string(what) + " " + std::to_string(owner) + ": shader " +
                    std::to_string(index) + " fora do intervalo (0.." +
                    std::to_string(bsp_.shaders.size()) + ")");
    const auto i = static_cast<std::size_t>(index);
    if (checked_[i] == 0) {
        writtenNames_[i] = writtenName(name(i));
        checked_[i] = writableName(writtenNames_[i]) ? 1 : -1;
    }
    if (checked_[i] < 0)
        return fail("shader " + std::to_string(index) +
                    ": nome vazio ou com espaços, aspas ou controles");
    return {};
}

Result<Bsp> readBsp(std::span<const std::byte> data)
{
    auto table = LumpTable::read(data, kLumpCount, lumpName);
    if (!table)
        return table.takeError();
    Bsp bsp;
    bsp.version = int32At(data, 4);
    // One engine's version 47 has an 18th lump in the header; the first 17 are the same.
    bsp.extraLump =
        bsp.version == 47 && table->smallestOffset() >= static_cast<std::int64_t>(kHeaderSize + 8);
    if (bsp.extraLump)
        table->widen(1);
    auto text = table->text(Entities);
    if (!text)
        return text.takeError();
    bsp.entities = *text;
    const auto load = [&](auto &out, int index) { return table->load(out, index); };

    for (auto r :
         {load(bsp.shaders, LumpIndex::Shaders), load(bsp.planes, Planes), load(bsp.leaves, Leaves),
          load(bsp.leafBrushes, LeafBrushes), load(bsp.models, Models), load(bsp.brushes, Brushes),
          load(bsp.brushSides, BrushSides), load(bsp.vertices, Vertices),
          load(bsp.indexes, Indexes), load(bsp.surfaces, Surfaces)}) {
        if (!r)
            return r.takeError();
    }
    if (bsp.models.size() == 0)
        return fail("nenhum modelo: falta o modelo 0 do worldspawn");
    return bsp;
}

} // namespace bsp2map
