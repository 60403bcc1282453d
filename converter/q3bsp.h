// Reading a Quake 3 IBSP (versions 46 and 47) in place: the header and the
// lumps the converter needs are checked here; indexes are checked where used.
// The file's first eight bytes have been identified as such (formats.h).
#pragma once

#include "convresult.h"
#include "lumps.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace bsp2map {

struct RawShader {
    char name[64];
    std::int32_t surfaceFlags;
    std::int32_t contentFlags;
};
struct RawPlane {
    float normal[3];
    float dist;
};
struct RawModel {
    float mins[3];
    float maxs[3];
    std::int32_t firstSurface, numSurfaces, firstBrush, numBrushes;
};
struct RawBrush {
    std::int32_t firstSide, numSides, shader;
};
struct RawBrushSide {
    std::int32_t plane, shader;
};
struct RawVertex {
    float xyz[3];
    float st[2];
    float lightmap[2];
    float normal[3];
    std::uint8_t rgba[4];
};
struct RawLeaf {
    std::int32_t cluster, area;
    std::int32_t mins[3], maxs[3];
    std::int32_t firstLeafFace, numLeafFaces, firstLeafBrush, numLeafBrushes;
};
struct RawSurface {
    std::int32_t shader, fog, type, firstVert, numVerts, firstIndex, numIndexes;
    std::int32_t lightmapNum, lightmapX, lightmapY, lightmapWidth, lightmapHeight;
    float lightmapOrigin[3];
    float lightmapVecs[3][3];
    std::int32_t patchWidth, patchHeight;
};

static_assert(sizeof(RawShader) == 72 && sizeof(RawPlane) == 16 && sizeof(RawModel) == 40 &&
              sizeof(RawBrush) == 12 && sizeof(RawBrushSide) == 8 && sizeof(RawVertex) == 44 &&
              sizeof(RawSurface) == 104 && sizeof(RawLeaf) == 48);

enum SurfaceType : std::int32_t { Planar = 1, Patch = 2, TriangleSoup = 3, Flare = 4 };

constexpr std::int32_t kSolidContents = 0x1;
constexpr std::int32_t kDetailContents = 0x08000000;
constexpr std::int32_t kStructuralContents = 0x10000000;
constexpr std::int32_t kTranslucentContents = 0x20000000;
constexpr std::int32_t kNodrawSurface = 0x80;

struct Bsp {
    int version = 0;
    bool extraLump = false;    // the 18-lump variant of version 47
    std::string_view entities; // up to the first NUL, or the whole lump without one
    Lump<RawShader> shaders;
    Lump<RawPlane> planes;
    Lump<RawLeaf> leaves; // of the world's tree
    Lump<std::int32_t> leafBrushes;
    Lump<RawModel> models;
    Lump<RawBrush> brushes;
    Lump<RawBrushSide> brushSides;
    Lump<RawVertex> vertices;
    Lump<std::int32_t> indexes;
    Lump<RawSurface> surfaces;
};

// The views point into data, which must outlive the result.
Result<Bsp> readBsp(std::span<const std::byte> data);

// A shader's name: the bytes before the first NUL of its 64.
std::string_view shaderName(const RawShader &shader);

// A vertex whose numbers are all finite; `index` is in range.
Result<void> checkVertex(const Bsp &bsp, std::int64_t index);

// The shaders as brushes, sides and surfaces name them: each checked once,
// matched by name, and written without "textures/".
class Shaders {
public:
    explicit Shaders(const Bsp &bsp);
    // In range, with a name fit to write; `what` and `owner` say who names it.
    Result<void> check(std::int64_t index, const char *what, std::size_t owner);
    // A view of the name where it lies in the file.
    std::string_view name(std::size_t shader) const;
    // The first shader of the same name: triangles and sides match by name.
    std::uint32_t canonical(std::size_t shader) const { return canonical_[shader]; }
    // The names as written, of every shader checked so far; the rest are empty.
    std::span<const std::string_view> writtenNames() const { return writtenNames_; }

private:
    const Bsp &bsp_;
    std::vector<std::int8_t> checked_;
    std::vector<std::uint32_t> canonical_;
    std::vector<std::string_view> writtenNames_;
};

} // namespace bsp2map
