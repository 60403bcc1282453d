#include "q1bsp.h"

#include <cmath>
#include <cstring>
#include <string>

namespace bsp2map {
namespace {

enum Lumps {
    kEntities,
    kPlanes,
    kTextures,
    kVertices,
    kVisibility,
    kNodes,
    kTexInfo,
    kFaces,
    kLighting,
    kClipNodes,
    kLeaves,
    kMarkSurfaces,
    kEdges,
    kSurfEdges,
    kModels,
    kLumpCount
};

const char *lumpName(int index)
{
    static const char *const names[] = {"entidades",    "planos",    "texturas", "vértices",
                                        "visibilidade", "nós",       "texinfo",  "faces",
                                        "iluminação",   "clipnodes", "folhas",   "marksurfaces",
                                        "arestas",      "surfedges", "modelos"};
    return names[index];
}

std::string str(std::int64_t n)
{
    return std::to_string(n);
}

// The records of each variant, as the file lays them out.
struct RawPlane {
    float normal[3], dist;
    std::int32_t type;
};
struct Node29 {
    std::int32_t plane;
    std::int16_t children[2], mins[3], maxs[3];
    std::uint16_t firstFace, numFaces;
};
struct NodeBsp2 {
    std::int32_t plane, children[2];
    float mins[3], maxs[3];
    std::uint32_t firstFace, numFaces;
};
struct Node2psb {
    std::int32_t plane, children[2];
    std::int16_t mins[3], maxs[3];
    std::uint32_t firstFace, numFaces;
};
struct Leaf29 {
    std::int32_t contents, visOffset;
    std::int16_t mins[3], maxs[3];
    std::uint16_t firstMark, numMarks;
    std::uint8_t ambient[4];
};
struct LeafBsp2 {
    std::int32_t contents, visOffset;
    float mins[3], maxs[3];
    std::uint32_t firstMark, numMarks;
    std::uint8_t ambient[4];
};
struct Leaf2psb {
    std::int32_t contents, visOffset;
    std::int16_t mins[3], maxs[3];
    std::uint32_t firstMark, numMarks;
    std::uint8_t ambient[4];
};
struct Face29 {
    std::uint16_t plane;
    std::int16_t side;
    std::int32_t firstEdge;
    std::int16_t numEdges, texInfo;
    std::uint8_t styles[4];
    std::int32_t lightOffset;
};
struct FaceBsp2 {
    std::int32_t plane, side, firstEdge, numEdges, texInfo;
    std::uint8_t styles[4];
    std::int32_t lightOffset;
};
static_assert(sizeof(RawPlane) == 20 && sizeof(Node29) == 24 && sizeof(NodeBsp2) == 44 &&
              sizeof(Node2psb) == 32 && sizeof(Leaf29) == 28 && sizeof(LeafBsp2) == 44 &&
              sizeof(Leaf2psb) == 32 && sizeof(Face29) == 20 && sizeof(FaceBsp2) == 28);

// A lump's records, each turned into the common shape.
template <class Raw, class Out, class Convert>
Result<void> widen(const LumpTable &table, int lump, std::vector<Out> &out, Convert convert)
{
    Lump<Raw> raw;
    if (auto r = table.load(raw, lump); !r)
        return r;
    out.resize(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        out[i] = convert(raw[i]);
    return {};
}

template <class Raw> TreeNode node(const Raw &raw)
{
    return {raw.plane, {raw.children[0], raw.children[1]}};
}
template <class Raw> Q1Face face(const Raw &raw)
{
    return {raw.plane, raw.side != 0, raw.firstEdge, raw.numEdges, raw.texInfo};
}

// Leaf contents a hull 0 may hold: Quake's six, and Half-Life's own beyond them.
bool knownContents(std::int32_t contents, bool halfLife)
{
    return contents <= q1::kEmpty && contents >= (halfLife ? -16 : q1::kSky);
}

// Whether a lump reads as entity text: some blanks, then a brace.
bool looksLikeEntities(const LumpTable &table, int lump)
{
    auto text = table.bytes(lump, 1);
    if (!text)
        return false;
    for (const std::byte b : *text) {
        const char c = static_cast<char>(b);
        if (c == '{')
            return true;
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return false;
}

Result<void> readPlanes(const LumpTable &table, int lump, Q1Bsp &bsp)
{
    if (auto r = widen<RawPlane>(table, lump, bsp.planes,
                                 [](const RawPlane &p) {
                                     return Plane{{p.normal[0], p.normal[1], p.normal[2]}, p.dist};
                                 });
        !r)
        return r;
    for (std::size_t i = 0; i < bsp.planes.size(); ++i) {
        const Plane &p = bsp.planes[i];
        if (!isFinite(p.normal) || !std::isfinite(p.dist) || std::abs(length(p.normal) - 1) > 0.01)
            return fail("plano " + str(std::int64_t(i)) +
                        " inválido (normal não unitária ou número não finito)");
    }
    return {};
}

// The miptex directory: a count, then the offset of each header (-1: none).
Result<void> readTextureNames(const LumpTable &table, Q1Bsp &bsp)
{
    auto lump = table.bytes(kTextures, 1);
    if (!lump)
        return lump.takeError();
    if (lump->empty())
        return {};
    const auto size = static_cast<std::int64_t>(lump->size());
    const std::int64_t count = lump->size() >= 4 ? int32At(*lump, 0) : -1;
    if (count < 0 || 4 + count * 4 > size)
        return fail("lump de texturas: diretório fora do lump");
    bsp.textureNames.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t at = int32At(*lump, static_cast<std::size_t>(4 + i * 4));
        if (at == -1)
            continue;
        if (at < 0 || at + 40 > size)
            return fail("textura " + str(i) + ": cabeçalho fora do lump");
        const char *name = reinterpret_cast<const char *>(lump->data() + at);
        bsp.textureNames[static_cast<std::size_t>(i)] = std::string_view(
            name, static_cast<std::size_t>(std::find(name, name + 16, '\0') - name));
    }
    return {};
}

template <class Node, class Leaf, class Face, class Edge>
Result<void> readTree(const LumpTable &table, Q1Bsp &bsp)
{
    if (auto r = widen<Node>(table, kNodes, bsp.nodes, node<Node>); !r)
        return r;
    if (auto r = widen<Leaf>(table, kLeaves, bsp.leafContents,
                             [](const Leaf &leaf) { return leaf.contents; });
        !r)
        return r;
    if (auto r = widen<Face>(table, kFaces, bsp.faces, face<Face>); !r)
        return r;
    return widen<Edge>(table, kEdges, bsp.edges, [](const Edge &e) {
        return std::array<std::uint32_t, 2>{e[0], e[1]};
    });
}

Result<Q1Kind> kindOf(std::span<const std::byte> data)
{
    if (data.size() >= 4 && std::memcmp(data.data(), "BSP2", 4) == 0)
        return Q1Kind::Bsp2;
    if (data.size() >= 4 && std::memcmp(data.data(), "2PSB", 4) == 0)
        return Q1Kind::Bsp2Short;
    if (data.size() >= 4 && int32At(data, 0) == 29)
        return Q1Kind::Quake;
    if (data.size() >= 4 && int32At(data, 0) == 30)
        return Q1Kind::HalfLife;
    return fail("não é um BSP do Quake nem do Half-Life");
}

} // namespace

bool isQ1Bsp(std::span<const std::byte> data)
{
    return kindOf(data).ok();
}

Result<Q1Bsp> readQ1Bsp(std::span<const std::byte> data)
{
    auto kind = kindOf(data);
    if (!kind)
        return kind.takeError();
    auto table = LumpTable::read(data, kLumpCount, lumpName, 4);
    if (!table)
        return table.takeError();
    Q1Bsp bsp;
    bsp.kind = *kind;
    // One Half-Life variant puts the planes first and the entities second.
    const bool swapped = bsp.halfLife() && !looksLikeEntities(*table, kEntities) &&
                         looksLikeEntities(*table, kPlanes);
    auto entities = table->text(swapped ? kPlanes : kEntities);
    if (!entities)
        return entities.takeError();
    bsp.entities = *entities;
    if (auto r = readPlanes(*table, swapped ? kEntities : kPlanes, bsp); !r)
        return r.takeError();
    if (auto r = readTextureNames(*table, bsp); !r)
        return r.takeError();
    using Edge16 = std::array<std::uint16_t, 2>;
    using Edge32 = std::array<std::uint32_t, 2>;
    Result<void> tree = fail({});
    switch (bsp.kind) {
    case Q1Kind::Quake:
    case Q1Kind::HalfLife:
        tree = readTree<Node29, Leaf29, Face29, Edge16>(*table, bsp);
        break;
    case Q1Kind::Bsp2:
        tree = readTree<NodeBsp2, LeafBsp2, FaceBsp2, Edge32>(*table, bsp);
        break;
    case Q1Kind::Bsp2Short:
        tree = readTree<Node2psb, Leaf2psb, FaceBsp2, Edge32>(*table, bsp);
        break;
    }
    if (!tree)
        return tree.takeError();
    for (std::size_t i = 0; i < bsp.leafContents.size(); ++i)
        if (!knownContents(bsp.leafContents[i], bsp.halfLife()))
            return fail("folha " + str(std::int64_t(i)) + ": conteúdo desconhecido (" +
                        str(bsp.leafContents[i]) + ")");
    if (auto r = table->load(bsp.surfEdges, kSurfEdges); !r)
        return r.takeError();
    if (auto r = table->load(bsp.vertices, kVertices); !r)
        return r.takeError();
    if (auto r = table->load(bsp.texInfo, kTexInfo); !r)
        return r.takeError();
    if (auto r = table->load(bsp.models, kModels); !r)
        return r.takeError();
    if (bsp.models.size() == 0)
        return fail("nenhum modelo: falta o do mundo");
    return bsp;
}

} // namespace bsp2map
