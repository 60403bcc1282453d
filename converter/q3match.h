// A stage of the Quake III reader: the compiler keeps a side's texture mapping
// nowhere, but the draw triangles on its face still carry it. Each planar
// triangle is matched to the faces it lies on: same shader, the same plane
// within the compiler's snapping, its centre within the face's polygon.
#pragma once

#include "mapdata.h"
#include "prefault.h"
#include "q3bsp.h"
#include "texture.h"

#include <compare>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace bsp2map {

// What matching knows of a face besides its side.
struct FaceWinding {
    std::uint32_t canonShader; // shaders of one name match as one
    // Its polygon in the model's windings; none for a face no triangle can match.
    std::uint32_t firstPoint, pointCount;
    std::int8_t turn; // 1 when the polygon turns about the normal, else -1
};

struct Match {
    std::uint32_t face;
    bool turned; // the triangle faces the other way
    std::uint32_t triangle;
    auto operator<=>(const Match &) const = default;
};

// Faces by shader and plane and the grid cubes they reach, with their bounds
// (and the matching margin) at hand for the first test.
struct IndexEntry {
    std::uint64_t key;
    std::uint32_t face;
    float lo[3], hi[3];
};

// A stable counting sort on a key below `keys`: the order std::sort gives
// when items of one key already come in order, in two passes instead of
// n log n moves.
template <class T, class Key>
void sortByKey(std::vector<T> &items, std::size_t keys, Key key, std::vector<T> &scratch,
               std::vector<std::uint32_t> &starts)
{
    starts.assign(keys + 1, 0);
    for (const T &item : items)
        ++starts[key(item) + 1];
    for (std::size_t k = 1; k <= keys; ++k)
        starts[k] += starts[k - 1];
    scratch.resize(items.size());
    for (const T &item : items)
        scratch[starts[key(item)]++] = item;
    items.swap(scratch);
}

// One model at a time; the storage is kept from model to model.
class TriangleMatch {
public:
    // Which shaders draw planar triangles in the model: only their faces need
    // windings. None when `wanted` is false.
    void findDrawn(const Bsp &bsp, const Shaders &shaders, const RawModel &model, bool wanted);
    bool drawn(std::uint32_t canonShader) const { return drawn_[canonShader] != 0; }

    // The model's planar triangles, moved by origin, checked as they are taken.
    Result<void> collect(const Bsp &bsp, Shaders &shaders, const RawModel &model, Vec3 origin);

    // Matches the triangles to the faces; the spans must outlive the matches.
    Result<void> match(std::span<const MapSide> sides, std::span<const FaceWinding> faces,
                       std::span<const Vec3> windings);

    // By face, then side, then triangle.
    const std::vector<Match> &matches() const { return matches_; }
    std::size_t triangleCount() const { return triangles_.size(); }
    TexSample sample(std::uint32_t triangle) const;
    // Sorted by key: each run of one key is one shader, plane and grid cube.
    const std::vector<IndexEntry> &index() const { return index_; }

private:
    // A draw triangle, small: its corners in the vertex lump, checked when
    // collected, and its surface's normal in normals_.
    struct Triangle {
        std::uint32_t vertex[3];
        std::uint32_t normal;
    };
    struct Bounds {
        double lo[3], hi[3];
    };
    struct Slot {
        std::uint64_t key;
        std::uint32_t begin, end; // end 0: empty
    };
    // One triangle being matched.
    struct Probe {
        std::uint32_t triangle;
        Vec3 p[3], centre, fromCube;
        std::int64_t cube[3];
        std::size_t firstMatch;
        bool sameWay;
    };

    void cornersOf(const Triangle &tri, Vec3 (&p)[3]) const;
    void indexFaces();
    void fileFace(std::uint32_t face, const Bounds &bounds);
    void findRuns();
    std::pair<std::size_t, std::size_t> run(std::uint64_t key) const;
    bool matchTriangle(std::uint32_t t, std::uint64_t &work);
    bool lookUp(Probe &probe, Vec3 along, double minFacing, std::uint64_t &work);
    void tryFace(Probe &probe, const IndexEntry &entry, Vec3 along, double minFacing);
    bool insideFace(std::uint32_t face, Vec3 point) const;

    const Bsp *bsp_ = nullptr;
    Vec3 origin_;
    std::vector<char> drawn_;
    std::vector<Triangle> triangles_;
    std::vector<Vec3> normals_;                 // the planar surface's own, or zero
    std::vector<std::uint32_t> triangleShader_; // canonical shader per triangle
    std::span<const MapSide> sides_;
    std::span<const FaceWinding> faces_;
    std::span<const Vec3> windings_;
    std::vector<Match> matches_;
    std::vector<IndexEntry> index_;
    std::vector<Bounds> bounds_;
    std::vector<Slot> table_;
    std::vector<Match> matchScratch_;
    std::vector<std::uint32_t> startsScratch_;
    Prefault trianglesAhead_, indexAhead_, boundsAhead_, matchesAhead_;
};

} // namespace bsp2map
