#include "q3match.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace bsp2map {
namespace {

// Triangles match a face within these.
constexpr double kMatchNormalDot = 0.9999;
// (the compiler snaps corners to an eighth of a unit)
constexpr double kMatchDist = 0.125;
constexpr double kMatchInside = 0.125;
// A small triangle's snapped corners may tilt it further; one that finds no
// face otherwise may lean this far.
constexpr double kLooseNormalDot = 0.99;
constexpr double kDistCell = 16;
constexpr double kFarthest = 1 << 24;
constexpr std::uint64_t kMaxMatchWork = std::uint64_t(1) << 30;

// Planes are keyed by shader and distance along their normal turned towards a
// direction that no common plane is square to, so that a face and a triangle
// on it get the same distance whichever way either faces. The distance is
// taken from the centre of the grid cube: from the origin, the slight lean of
// a snapped triangle's normal would move it by units on a map's outskirts.
const Vec3 kKeyDirection{0.8017837257372732, 0.5345224838248488, 0.2672612419124244};

// The whole number at or below v, held within 1e15 either way: by truncation
// where that is exact, a few instructions where floor and clamp took twenty.
std::int64_t floorHeld(double v)
{
    if (v >= -1e15 && v <= 1e15) {
        const auto t = static_cast<std::int64_t>(v);
        return static_cast<double>(t) > v ? t - 1 : t;
    }
    return static_cast<std::int64_t>(std::clamp(std::floor(v), -1e15, 1e15));
}

std::int64_t cellOf(double dist, double cell)
{
    return floorHeld(dist / cell);
}

// Faces are also filed by the grid cubes they reach, so that a triangle meets
// only the faces near it, not every face of a large floor.
constexpr double kGridCube = 512;
constexpr std::int64_t kMaxSpots = 512;
constexpr std::int64_t kWide = INT64_MIN;

std::int64_t gridOf(double v)
{
    return floorHeld(v / kGridCube);
}

Vec3 cubeCentre(std::int64_t x, std::int64_t y, std::int64_t z)
{
    return Vec3{double(x) + 0.5, double(y) + 0.5, double(z) + 0.5} * kGridCube;
}

std::uint64_t mix(std::uint64_t h, std::uint64_t v)
{
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= h >> 31;
    h *= 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 29);
}

// Different cubes may share a key now and then; the tests after it sort them out.
[[gnu::always_inline]] inline std::uint64_t keyOf(std::uint32_t shader, std::int64_t cell,
                                                  std::int64_t x, std::int64_t y, std::int64_t z)
{
    std::uint64_t h = mix(shader, static_cast<std::uint64_t>(cell));
    h = mix(h, static_cast<std::uint64_t>(x));
    h = mix(h, static_cast<std::uint64_t>(y));
    return mix(h, static_cast<std::uint64_t>(z));
}

// A face's bounds with the matching margin, and the grid cubes they reach.
struct Reach {
    std::int64_t from[3], to[3];
    std::int64_t spots;
};

template <class Bounds> Reach reachOf(const Bounds &b)
{
    Reach r;
    r.spots = 1;
    for (int k = 0; k < 3; ++k) {
        r.from[k] = gridOf(b.lo[k]);
        r.to[k] = gridOf(b.hi[k]);
        r.spots *= std::min<std::int64_t>(r.to[k] - r.from[k] + 1, kMaxSpots + 1);
    }
    return r;
}

bool drawsPlanar(const Bsp &bsp, const RawSurface &surface)
{
    return surface.type == Planar && surface.numIndexes > 0 &&
           bsp.indexes.containsRange(surface.firstIndex, surface.numIndexes) &&
           bsp.shaders.contains(surface.shader) &&
           !(bsp.shaders[static_cast<std::size_t>(surface.shader)].surfaceFlags & kNodrawSurface);
}

} // namespace

void TriangleMatch::findDrawn(const Bsp &bsp, const Shaders &shaders, const RawModel &model,
                              bool wanted)
{
    // A surface that is out of range fails later.
    drawn_.assign(bsp.shaders.size(), 0);
    if (!wanted)
        return;
    for (std::int64_t s = model.firstSurface;
         s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
        const RawSurface surface = bsp.surfaces[static_cast<std::size_t>(s)];
        if (surface.type != Planar || surface.numIndexes <= 0 ||
            !bsp.shaders.contains(surface.shader))
            continue;
        const auto shader = static_cast<std::size_t>(surface.shader);
        if (!(bsp.shaders[shader].surfaceFlags & kNodrawSurface))
            drawn_[shaders.canonical(shader)] = 1;
    }
}

Result<void> TriangleMatch::collect(const Bsp &bsp, Shaders &shaders, const RawModel &model,
                                    Vec3 origin)
{
    bsp_ = &bsp;
    origin_ = origin;
    triangles_.clear();
    normals_.clear();
    triangleShader_.clear();
    // Surfaces share runs of the index lump, so the count is their own: that
    // of the surfaces kept below. Bounded far above any map, so that a file
    // which repeats one run without end fails where it did instead of
    // reserving more than memory.
    constexpr std::size_t kMostReserved = std::size_t(1) << 24;
    std::size_t indexCount = 0, surfaceCount = 0;
    const std::int64_t end = std::int64_t(model.firstSurface) + model.numSurfaces;
    for (std::int64_t s = model.firstSurface; s < end; ++s) {
        const RawSurface surface = bsp.surfaces[static_cast<std::size_t>(s)];
        if (drawsPlanar(bsp, surface)) {
            indexCount += static_cast<std::size_t>(surface.numIndexes);
            ++surfaceCount;
        }
    }
    triangles_.reserve(std::min(indexCount / 3, kMostReserved));
    triangleShader_.reserve(std::min(indexCount / 3, kMostReserved));
    normals_.reserve(std::min(surfaceCount, kMostReserved));
    for (std::int64_t s = model.firstSurface; s < end; ++s) {
        const RawSurface surface = bsp.surfaces[static_cast<std::size_t>(s)];
        if (surface.type != Planar)
            continue;
        // Only an error needs the name.
        const auto name = [s] { return "superfície " + std::to_string(s); };
        if (auto r = shaders.check(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
            return r;
        if (!bsp.vertices.containsRange(surface.firstVert, surface.numVerts))
            return fail(name() + ": vértices fora do intervalo");
        if (!bsp.indexes.containsRange(surface.firstIndex, surface.numIndexes))
            return fail(name() + ": índices fora do intervalo");
        if (surface.numIndexes % 3 != 0)
            return fail(name() + ": número de índices não é múltiplo de 3");
        const RawShader shader = bsp.shaders[static_cast<std::size_t>(surface.shader)];
        if (shader.surfaceFlags & kNodrawSurface)
            continue;
        for (std::int32_t v = 0; v < surface.numVerts; ++v)
            if (auto r = checkVertex(bsp, std::int64_t(surface.firstVert) + v); !r)
                return r;
        Vec3 surfaceNormal{surface.lightmapVecs[2][0], surface.lightmapVecs[2][1],
                           surface.lightmapVecs[2][2]};
        if (!isFinite(surfaceNormal) || std::abs(length(surfaceNormal) - 1) > 0.01)
            surfaceNormal = {};
        ahead(trianglesAhead_, triangles_);
        const auto normal = static_cast<std::uint32_t>(normals_.size());
        normals_.push_back(surfaceNormal);
        for (std::int32_t i = 0; i < surface.numIndexes; i += 3) {
            Triangle tri;
            tri.normal = normal;
            for (int k = 0; k < 3; ++k) {
                const std::int32_t index =
                    bsp.indexes[static_cast<std::size_t>(surface.firstIndex) + i + k];
                if (index < 0 || index >= surface.numVerts)
                    return fail(name() + ": índice " + std::to_string(index) +
                                " fora do intervalo");
                tri.vertex[k] = static_cast<std::uint32_t>(surface.firstVert + index);
            }
            triangles_.push_back(tri);
            triangleShader_.push_back(shaders.canonical(static_cast<std::size_t>(surface.shader)));
        }
    }
    return {};
}

void TriangleMatch::cornersOf(const Triangle &tri, Vec3 (&p)[3]) const
{
    for (int k = 0; k < 3; ++k) {
        const RawVertex v = bsp_->vertices[tri.vertex[k]];
        p[k] = Vec3{v.xyz[0], v.xyz[1], v.xyz[2]} + origin_;
    }
}

TexSample TriangleMatch::sample(std::uint32_t triangle) const
{
    const Triangle &tri = triangles_[triangle];
    TexSample sample;
    for (int k = 0; k < 3; ++k) {
        const RawVertex v = bsp_->vertices[tri.vertex[k]];
        sample.p[k] = Vec3{v.xyz[0], v.xyz[1], v.xyz[2]} + origin_;
        sample.st[k][0] = v.st[0];
        sample.st[k][1] = v.st[1];
    }
    return sample;
}

// The point, on the face's plane, lies within the face's polygon or within a
// small margin of it.
bool TriangleMatch::insideFace(std::uint32_t face, Vec3 point) const
{
    const FaceWinding &f = faces_[face];
    const Vec3 *w = windings_.data() + f.firstPoint;
    const std::size_t count = f.pointCount;
    const Vec3 inward = sides_[face].plane.normal * double(f.turn);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 a = w[i], b = w[i + 1 == count ? 0 : i + 1];
        const Vec3 edge = b - a;
        const double side = dot(cross(edge, point - a), inward);
        if (side < 0 && side < -kMatchInside * length(edge))
            return false;
    }
    return true;
}

// Only faces of shaders with triangles kept their windings: caulk and the
// like never match. Their bounds are taken once, and the entries counted
// first: the index is large, and growing it would touch twice the memory.
void TriangleMatch::indexFaces()
{
    index_.clear();
    bounds_.clear();
    bounds_.reserve(faces_.size());
    std::size_t entries = 0;
    for (const FaceWinding &face : faces_) {
        if (face.pointCount == 0)
            continue;
        ahead(boundsAhead_, bounds_);
        const Vec3 *w = windings_.data() + face.firstPoint;
        Vec3 lo = w[0], hi = w[0];
        for (std::uint32_t i = 1; i < face.pointCount; ++i)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], w[i][k]);
                hi[k] = std::max(hi[k], w[i][k]);
            }
        Bounds b;
        for (int k = 0; k < 3; ++k) {
            b.lo[k] = lo[k] - 2 * kMatchDist;
            b.hi[k] = hi[k] + 2 * kMatchDist;
        }
        bounds_.push_back(b);
        const std::int64_t spots = reachOf(b).spots;
        entries += spots > kMaxSpots ? 1 : static_cast<std::size_t>(spots);
    }
    index_.reserve(entries);
    const Bounds *nextBounds = bounds_.data();
    for (std::uint32_t f = 0; f < faces_.size(); ++f) {
        if (faces_[f].pointCount == 0)
            continue;
        ahead(indexAhead_, index_);
        fileFace(f, *nextBounds++);
    }
    std::sort(index_.begin(), index_.end(), [](const IndexEntry &a, const IndexEntry &b) {
        return a.key < b.key || (a.key == b.key && a.face < b.face);
    });
    findRuns();
}

// A face is filed under every grid cube it reaches; a huge one once, as wide,
// by its shader alone: there are few of those.
void TriangleMatch::fileFace(std::uint32_t f, const Bounds &b)
{
    const Plane &plane = sides_[f].plane;
    const std::uint32_t shader = faces_[f].canonShader;
    const double sign = dot(plane.normal, kKeyDirection) >= 0 ? 1 : -1;
    IndexEntry entry{0, f, {}, {}};
    const Reach r = reachOf(b);
    for (int k = 0; k < 3; ++k) {
        entry.lo[k] = static_cast<float>(b.lo[k]);
        entry.hi[k] = static_cast<float>(b.hi[k]);
    }
    if (r.spots > kMaxSpots) {
        entry.key = keyOf(shader, kWide, kWide, kWide, kWide);
        index_.push_back(entry);
        return;
    }
    for (std::int64_t x = r.from[0]; x <= r.to[0]; ++x)
        for (std::int64_t y = r.from[1]; y <= r.to[1]; ++y)
            for (std::int64_t z = r.from[2]; z <= r.to[2]; ++z) {
                const double dist = (plane.dist - dot(plane.normal, cubeCentre(x, y, z))) * sign;
                entry.key = keyOf(shader, cellOf(dist, kDistCell), x, y, z);
                index_.push_back(entry);
            }
}

// Runs of one key, found through an open-addressing table: a probe or two
// instead of a binary search through the whole index. Half empty.
void TriangleMatch::findRuns()
{
    std::size_t runs = 0;
    for (std::size_t i = 0; i < index_.size(); ++i)
        runs += i == 0 || index_[i].key != index_[i - 1].key;
    std::size_t slots = 16;
    while (slots < runs * 2)
        slots *= 2;
    reserveFilled(table_, slots);
    table_.assign(slots, Slot{0, 0, 0});
    for (std::size_t begin = 0; begin < index_.size();) {
        std::size_t end = begin + 1;
        while (end < index_.size() && index_[end].key == index_[begin].key)
            ++end;
        std::size_t at = index_[begin].key & (slots - 1);
        while (table_[at].end != 0)
            at = (at + 1) & (slots - 1);
        table_[at] = {index_[begin].key, static_cast<std::uint32_t>(begin),
                      static_cast<std::uint32_t>(end)};
        begin = end;
    }
}

std::pair<std::size_t, std::size_t> TriangleMatch::run(std::uint64_t key) const
{
    const std::size_t slots = table_.size();
    for (std::size_t at = key & (slots - 1);; at = (at + 1) & (slots - 1)) {
        if (table_[at].end == 0)
            return {0, 0};
        if (table_[at].key == key)
            return {table_[at].begin, table_[at].end};
    }
}

Result<void> TriangleMatch::match(std::span<const MapSide> sides,
                                  std::span<const FaceWinding> faces,
                                  std::span<const Vec3> windings)
{
    sides_ = sides;
    faces_ = faces;
    windings_ = windings;
    matches_.clear();
    indexFaces();
    // Most triangles match one face.
    matches_.reserve(triangles_.size() + triangles_.size() / 4);
    std::uint64_t work = 0;
    for (std::uint32_t t = 0; t < triangles_.size(); ++t) {
        ahead(matchesAhead_, matches_);
        if (!matchTriangle(t, work))
            return fail("triângulos e faces demais no mesmo plano: trabalho além do razoável");
    }
    // Each triangle's matches were added together, in triangle order: by face
    // and side alone, they come out fully sorted.
    sortByKey(
        matches_, 2 * faces.size(),
        [](const Match &m) { return 2 * std::size_t(m.face) + m.turned; }, matchScratch_,
        startsScratch_);
    matches_.erase(std::unique(matches_.begin(), matches_.end()), matches_.end());
    return {};
}

// False when the work allowed runs out.
bool TriangleMatch::matchTriangle(std::uint32_t t, std::uint64_t &work)
{
    Probe probe;
    probe.triangle = t;
    cornersOf(triangles_[t], probe.p);
    const Vec3 *p = probe.p;
    const Vec3 surfaceNormal = normals_[triangles_[t].normal];
    probe.centre = (p[0] + p[1] + p[2]) * (1.0 / 3);
    const Vec3 centre = probe.centre;
    // Floats out there are units apart; no face of a map lies so far.
    if (!(std::max({std::abs(centre.x), std::abs(centre.y), std::abs(centre.z)}) < kFarthest))
        return true;
    // The surface's plane is exact where the triangle's own normal suffers
    // from snapped corners, and a sliver along the edge of two faces has no
    // normal of its own worth the name. A surface may be merged over several
    // planes, as terrain and the slanted sides of a model are: there the
    // triangle's own normal finds its face.
    Vec3 normals[2];
    int normalCount = 0;
    const Vec3 own = cross(p[2] - p[0], p[1] - p[0]);
    const double len = length(own);
    const double longest = std::max(
        {dot(p[1] - p[0], p[1] - p[0]), dot(p[2] - p[1], p[2] - p[1]), dot(p[0] - p[2], p[0] - p[2])});
    const bool sliver = !(len > 1e-3 * longest);
    const bool hasSurfaceNormal =
        surfaceNormal.x != 0 || surfaceNormal.y != 0 || surfaceNormal.z != 0;
    if (hasSurfaceNormal)
        normals[normalCount++] = surfaceNormal;
    if (!hasSurfaceNormal ? len > 1e-9 : !sliver && dot(own, surfaceNormal) < (1 - 1e-9) * len)
        normals[normalCount++] = own * (1 / len);
    // Faces facing the triangle's way win; liquids and two-sided shaders
    // may leave only triangles turned the other way.
    probe.firstMatch = matches_.size();
    probe.sameWay = false;
    for (int k = 0; k < 3; ++k)
        probe.cube[k] = gridOf(centre[k]);
    probe.fromCube = centre - cubeCentre(probe.cube[0], probe.cube[1], probe.cube[2]);
    for (const double minFacing : {kMatchNormalDot, kLooseNormalDot}) {
        if (matches_.size() > probe.firstMatch)
            break;
        for (int n = 0; n < normalCount; ++n)
            if (!lookUp(probe, normals[n], minFacing, work))
                return false;
    }
    return true;
}

// The faces filed near the triangle along one of its normals.
bool TriangleMatch::lookUp(Probe &probe, Vec3 along, double minFacing, std::uint64_t &work)
{
    // How far a matching face's normal may lean from the triangle's.
    const double lean = std::sqrt(2 * (1 - minFacing));
    const double towards = dot(along, kKeyDirection);
    const double sign = towards >= 0 ? 1 : -1;
    // A face within reach differs from the triangle's distance by the
    // snapping margin and the lean over the way from the cube's centre.
    const double dist = dot(along, probe.fromCube) * sign;
    const double reach = kMatchDist + lean * length(probe.fromCube);
    std::int64_t cells[16];
    int cellCount = 0;
    for (double d : {dist, -dist}) {
        for (std::int64_t c = cellOf(d - reach, kDistCell);
             c <= cellOf(d + reach, kDistCell) && cellCount < 16; ++c)
            cells[cellCount++] = c;
        // Nearly square to the key direction, a face may have turned the other way.
        if (std::abs(towards) >= lean + 0.05)
            break;
    }
    const std::uint32_t shader = triangleShader_[probe.triangle];
    const std::int64_t *g = probe.cube;
    // The last lookup: the wide faces.
    for (int lookup = 0; lookup <= cellCount; ++lookup) {
        const std::uint64_t key = lookup == cellCount
                                      ? keyOf(shader, kWide, kWide, kWide, kWide)
                                      : keyOf(shader, cells[lookup], g[0], g[1], g[2]);
        const auto [first, last] = run(key);
        // Counted a run at a time: the faces it holds are all tried.
        work += last - first;
        if (work > kMaxMatchWork)
            return false;
        for (std::size_t i = first; i != last; ++i)
            tryFace(probe, index_[i], along, minFacing);
    }
    return true;
}

void TriangleMatch::tryFace(Probe &probe, const IndexEntry &entry, Vec3 along, double minFacing)
{
    const Vec3 centre = probe.centre;
    if (centre.x < entry.lo[0] || centre.x > entry.hi[0] || centre.y < entry.lo[1] ||
        centre.y > entry.hi[1] || centre.z < entry.lo[2] || centre.z > entry.hi[2])
        return;
    const Plane &plane = sides_[entry.face].plane;
    const double facing = dot(plane.normal, along);
    if (std::abs(facing) < minFacing)
        return;
    const bool agrees = facing > 0;
    if (probe.sameWay && !agrees)
        return;
    if (std::abs(plane.distanceTo(probe.p[0])) > kMatchDist ||
        std::abs(plane.distanceTo(probe.p[1])) > kMatchDist ||
        std::abs(plane.distanceTo(probe.p[2])) > kMatchDist)
        return;
    if (!insideFace(entry.face, centre))
        return;
    if (agrees && !probe.sameWay) {
        probe.sameWay = true;
        matches_.resize(probe.firstMatch);
    }
    matches_.push_back({entry.face, !agrees, probe.triangle});
}

} // namespace bsp2map
