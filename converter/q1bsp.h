// Reading a Quake (version 29, BSP2, 2PSB) or Half-Life (version 30) BSP:
// the header and the lumps the converter needs, widened into one shape
// whatever record sizes the variant has. Ranges that depend on one another
// are checked here; indexes into other lumps where they are used.
#pragma once

#include "geometry.h"
#include "lumps.h"
#include "treecells.h"

#include <string_view>
#include <vector>

namespace bsp2map {

struct Q1TexInfo {
    float vecs[2][4]; // s = dot(p, vecs[0]) + vecs[0][3], in texels; t likewise
    std::int32_t mipTex, flags;
};
struct Q1Model {
    float mins[3], maxs[3], origin[3];
    std::int32_t headNode[4]; // hull 0 first; the others are the compiler's clip hulls
    std::int32_t visLeafs, firstFace, numFaces;
};
static_assert(sizeof(Q1TexInfo) == 40 && sizeof(Q1Model) == 64);

enum class Q1Kind : std::uint8_t {
    Quake,     // version 29
    HalfLife,  // version 30
    Bsp2,      // "BSP2": 32-bit indexes, float bounds
    Bsp2Short, // "2PSB": 32-bit indexes, 16-bit bounds
};

namespace q1 {
constexpr std::int32_t kEmpty = -1, kSolid = -2, kWater = -3, kSlime = -4, kLava = -5, kSky = -6;
} // namespace q1

struct Q1Face {
    std::int32_t plane;
    bool back; // its normal is its plane's reversed
    std::int32_t firstEdge, numEdges, texInfo;
};

struct Q1Bsp {
    Q1Kind kind;
    std::string_view entities; // up to the first NUL, or the whole lump without one
    std::vector<Plane> planes;
    std::vector<TreeNode> nodes;
    std::vector<std::int32_t> leafContents;
    std::vector<Q1Face> faces;
    std::vector<std::array<std::uint32_t, 2>> edges;
    Lump<std::int32_t> surfEdges; // a negative one is edge -e walked backwards
    Lump<std::array<float, 3>> vertices;
    Lump<Q1TexInfo> texInfo;
    std::vector<std::string_view> textureNames; // by miptex index; empty where none
    Lump<Q1Model> models;

    bool halfLife() const { return kind == Q1Kind::HalfLife; }
    BspTree tree() const { return {planes, nodes, leafContents}; }
};

// Whether the first bytes are one of these formats' headers.
bool isQ1Bsp(std::span<const std::byte> data);

// The views point into data, which must outlive the result.
Result<Q1Bsp> readQ1Bsp(std::span<const std::byte> data);

} // namespace bsp2map
