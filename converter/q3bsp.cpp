#include "q3bsp.h"

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

std::int32_t int32At(std::span<const std::byte> data, std::size_t offset)
{
    std::int32_t value;
    std::memcpy(&value, data.data() + offset, 4);
    return value;
}

// A file cut short, with the size the header promises: where its furthest lump ends.
std::string truncated(std::span<const std::byte> data, int lumpCount)
{
    std::int64_t end = 0;
    for (int i = 0; i < lumpCount; ++i) {
        const std::int64_t offset = int32At(data, 8 + i * 8), length = int32At(data, 12 + i * 8);
        if (offset >= 0 && length >= 0)
            end = std::max(end, offset + length);
    }
    return "o arquivo termina antes do fim (truncado): tem " + std::to_string(data.size()) +
           " bytes, e o cabeçalho indica " + std::to_string(end);
}

} // namespace

std::string_view shaderName(const RawShader &shader)
{
    const char *end = std::find(shader.name, shader.name + sizeof shader.name, '\0');
    return std::string_view(shader.name, static_cast<std::size_t>(end - shader.name));
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

bool validName(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f || c == '"')
            return false;
    }
    return true;
}

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
        checked_[i] = validName(writtenNames_[i]) ? 1 : -1;
    }
    if (checked_[i] < 0)
        return fail("shader " + std::to_string(index) +
                    ": nome vazio ou com espaços, aspas ou controles");
    return {};
}

Result<Bsp> readBsp(std::span<const std::byte> data)
{
    Bsp bsp;
    bsp.version = int32At(data, 4);
    // Offsets are 32-bit: no part of a bigger file could belong to the map.
    if (data.size() > static_cast<std::size_t>(INT32_MAX))
        return fail("arquivo grande demais para um BSP (" + std::to_string(data.size() >> 20) +
                    " MiB; o formato só alcança 2 GiB)");
    if (data.size() < kHeaderSize)
        return fail("o arquivo termina antes do fim do cabeçalho (truncado): tem " +
                    std::to_string(data.size()) + " de " + std::to_string(kHeaderSize) + " bytes");

    struct Span {
        std::int64_t offset, length;
    };
    Span lumps[kLumpCount];
    std::int64_t smallestOffset = INT64_MAX;
    for (int i = 0; i < kLumpCount; ++i) {
        lumps[i] = {int32At(data, 8 + i * 8), int32At(data, 12 + i * 8)};
        if (lumps[i].length > 0)
            smallestOffset = std::min(smallestOffset, lumps[i].offset);
    }
    // One engine's version 47 has an 18th lump in the header; the first 17 are the same.
    bsp.extraLump =
        bsp.version == 47 && smallestOffset >= static_cast<std::int64_t>(kHeaderSize + 8);

    auto lumpBytes = [&](int index, std::size_t elementSize) -> Result<std::span<const std::byte>> {
        const Span lump = lumps[index];
        const std::string name = std::string("lump de ") + lumpName(index);
        if (lump.offset < 0 || lump.length < 0)
            return fail(name + ": posição ou tamanho negativo");
        if (lump.offset + lump.length > INT32_MAX)
            return fail(name + ": termina além de 2 GiB, o limite do formato (" +
                        std::to_string(lump.offset) + " + " + std::to_string(lump.length) + ")");
        if (lump.offset + lump.length > static_cast<std::int64_t>(data.size()))
            return fail(
                truncated(data, kLumpCount + (bsp.extraLump && data.size() >= kHeaderSize + 8)));
        if (lump.length % static_cast<std::int64_t>(elementSize) != 0)
            return fail(name + ": tamanho " + std::to_string(lump.length) + " não é múltiplo de " +
                        std::to_string(elementSize));
        return data.subspan(static_cast<std::size_t>(lump.offset),
                            static_cast<std::size_t>(lump.length));
    };
    auto load = [&]<class T>(Lump<T> &out, int index) -> Result<void> {
        auto bytes = lumpBytes(index, sizeof(T));
        if (!bytes)
            return bytes.takeError();
        out = Lump<T>(bytes->data(), bytes->size() / sizeof(T));
        return {};
    };

    auto entityBytes = lumpBytes(Entities, 1);
    if (!entityBytes)
        return entityBytes.takeError();
    const char *text = reinterpret_cast<const char *>(entityBytes->data());
    const char *textEnd = text + entityBytes->size();
    // Maps edited after compiling may end the text at the lump's end, with no NUL.
    const char *end = std::find(text, textEnd, '\0');
    bsp.entities = std::string_view(text, static_cast<std::size_t>(end - text));

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
