// The map between a reader and a writer: the entities with their exact text,
// and per entity its brushes (each side with its plane, the three points to
// write, its texture and texture mapping, contents, flags and value) and its
// patches. A reader hands the writer one entity at a time, in storage it
// reuses: a large map never sits whole in memory.
#pragma once

#include "entities.h"
#include "geometry.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace bsp2map {

// A texture mapping in brush primitives: a 2x3 matrix over the axis base an
// editor derives from the face's normal, in repeats of the texture. What the
// Quake III reader finds from the draw triangles.
struct TexMatrix {
    double m[2][3];
};

// A texture mapping in texels: s = dot(p, axis[0]) + offset[0], and t the same
// with axis[1] and offset[1]. What a Quake 2 texinfo gives.
struct TexelAxes {
    Vec3 axis[2];
    double offset[2];
};

enum class MappingKind : std::uint8_t {
    Default, // none known: the editor's default for the face
    Matrix,  // a TexMatrix
    Axes,    // a TexelAxes
};

struct TexMapping {
    MappingKind kind = MappingKind::Default;
    std::uint32_t index = 0; // in the geometry's matrices or axes
};

struct MapSide {
    Plane plane;
    std::array<Vec3, 3> points; // as written, turning about the normal
    std::uint32_t texture = 0;  // in the geometry's texture names
    TexMapping mapping;
    std::int32_t contents = 0, flags = 0, value = 0;
};

struct MapBrush {
    std::uint32_t firstSide, sideCount;
    bool detail;
};

// A patch's control point as the file holds it.
struct PatchPoint {
    float xyz[3];
    float st[2];
};

struct MapPatch {
    std::uint32_t texture;
    std::uint32_t firstPoint; // width x height of them, row by row
    std::int32_t width, height;
};

// One entity's brushes and patches.
struct ModelGeometry {
    std::vector<MapSide> sides;
    std::vector<MapBrush> brushes;
    std::vector<TexMatrix> matrices;
    std::vector<TexelAxes> axes;
    std::vector<PatchPoint> patchPoints;
    std::vector<MapPatch> patches;
    // The entity's origin: the sides are moved by it already, the patch
    // points are the file's and are moved as they are written.
    Vec3 origin;
    // The names sides and patches are textured with, as written; they stay
    // valid until the reader is done.
    std::span<const std::string_view> textureNames;
};

struct MapEntity {
    std::span<const KeyValue> pairs; // byte for byte as the file has them
    bool modelReplaced = false;      // its "model" keys stand for the geometry given with it
};

// What the reader says of the whole map.
struct MapInfo {
    std::string_view game;        // as editors name it, such as "Quake 3"
    std::string_view valveFormat; // the editors' name of its Valve 220 form, such as "Quake2 (Valve)"
    bool sideFlags = true;        // sides end in contents, surface flags and value
    double defaultScale = 1;      // of a face with no mapping, in an editor's classic form
    std::size_t textEstimate = 0; // bytes the whole text may take, to reserve at once
};

// Where a reader hands the map.
class MapSink {
public:
    virtual void begin(const MapInfo &info) = 0;
    // Every entity in order; geometry is null for one that carries none.
    virtual void entity(const MapEntity &entity, const ModelGeometry *geometry) = 0;

protected:
    ~MapSink() = default;
};

} // namespace bsp2map
