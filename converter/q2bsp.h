// Reading a Quake 2 IBSP (version 38) in place: the header and the lumps the
// converter needs are checked here; indexes are checked where used. The
// file's first eight bytes have been identified as such (formats.h).
#pragma once

#include "lumps.h"

namespace bsp2map {

struct Q2Plane {
    float normal[3];
    float dist;
    std::int32_t type;
};
struct Q2Node {
    std::int32_t plane;
    std::int32_t children[2]; // a leaf is -1 - its index
    std::int16_t mins[3], maxs[3];
    std::uint16_t firstFace, numFaces;
};
struct Q2TexInfo {
    float vecs[2][4]; // s = dot(p, vecs[0]) + vecs[0][3], in texels; t likewise
    std::int32_t flags, value;
    char texture[32];
    std::int32_t next;
};
struct Q2Leaf {
    std::int32_t contents;
    std::int16_t cluster, area;
    std::int16_t mins[3], maxs[3];
    std::uint16_t firstLeafFace, numLeafFaces, firstLeafBrush, numLeafBrushes;
};
struct Q2Model {
    float mins[3], maxs[3], origin[3];
    std::int32_t headNode, firstFace, numFaces;
};
struct Q2Brush {
    std::int32_t firstSide, numSides, contents;
};
struct Q2BrushSide {
    std::uint16_t plane;
    std::int16_t texInfo; // -1: none, as on the compiler's bevels
};
struct Q2Area {
    std::int32_t numPortals, firstPortal;
};
struct Q2AreaPortal {
    std::int32_t portal, otherArea;
};

static_assert(sizeof(Q2Plane) == 20 && sizeof(Q2Node) == 28 && sizeof(Q2TexInfo) == 76 &&
              sizeof(Q2Leaf) == 28 && sizeof(Q2Model) == 48 && sizeof(Q2Brush) == 12 &&
              sizeof(Q2BrushSide) == 4 && sizeof(Q2Area) == 8 && sizeof(Q2AreaPortal) == 8);

namespace q2 {
constexpr std::int32_t kAreaPortal = 0x8000;
constexpr std::int32_t kOrigin = 0x01000000;
constexpr std::int32_t kDetail = 0x08000000;
constexpr std::int32_t kNoDraw = 0x80; // a surface flag
} // namespace q2

struct Q2Bsp {
    std::string_view entities; // up to the first NUL, or the whole lump without one
    Lump<Q2Plane> planes;
    Lump<Q2Node> nodes;
    Lump<Q2TexInfo> texInfo;
    Lump<Q2Leaf> leaves;
    Lump<std::uint16_t> leafBrushes;
    Lump<Q2Model> models;
    Lump<Q2Brush> brushes;
    Lump<Q2BrushSide> brushSides;
    Lump<Q2Area> areas;
    Lump<Q2AreaPortal> areaPortals;
};

// The views point into data, which must outlive the result.
Result<Q2Bsp> readQ2Bsp(std::span<const std::byte> data);

// A texinfo's texture name: the bytes before the first NUL of its 32.
std::string_view texInfoName(const Q2TexInfo &info);

} // namespace bsp2map
