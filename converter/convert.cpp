#include "convert.h"

#include "formats.h"
#include "q3bsp.h"
#include "entities.h"
#include "brushes.h"
#include "geometry.h"
#include "numbers.h"
#include "prefault.h"
#include "texture.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// Kept small: a map has tens of thousands, and fresh pages cost more than
// the arithmetic on them.
struct Face {
    std::int32_t shader;
    std::uint32_t canonShader;
    Plane plane;
    // Its winding, in points_; only for faces that triangles may match.
    std::uint32_t firstPoint, pointCount;
    std::array<Vec3, 3> points; // as written
    std::uint32_t tex = 0;      // in texes_, when textured or inherited
    std::int8_t winding = 1;    // 1 when the polygon turns about the normal, else -1
    bool textured = false;      // from its own triangles
    bool inherited = false;     // from a textured neighbour on its plane
};

struct BuiltBrush {
    std::uint32_t firstFace, faceCount;
    std::uint32_t contents;
};

// A draw triangle, small: its corners in the vertex lump, checked when
// collected, and its surface's normal in triangleNormals_.
struct Triangle {
    std::uint32_t vertex[3];
    std::uint32_t normal;
};

std::string str(std::size_t n)
{
    return std::to_string(n);
}

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

// "x y z" as the map editor writes an origin; missing numbers are 0.
std::optional<Vec3> parseOrigin(std::string_view text)
{
    Vec3 v;
    const char *at = text.data();
    const char *end = text.data() + text.size();
    for (int i = 0; i < 3; ++i) {
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        if (at == end)
            break;
        double value = 0;
        auto r = std::from_chars(at, end, value);
        if (r.ec != std::errc())
            return std::nullopt;
        if (!std::isfinite(value))
            return std::nullopt;
        v[i] = value;
        at = r.ptr;
    }
    return v;
}

// "*N" with N a brush model other than the world.
std::optional<std::size_t> brushModelIndex(std::string_view value, std::size_t modelCount)
{
    if (value.size() < 2 || value[0] != '*')
        return std::nullopt;
    std::size_t n = 0;
    auto r = std::from_chars(value.data() + 1, value.data() + value.size(), n);
    if (r.ec != std::errc() || r.ptr != value.data() + value.size())
        return std::nullopt;
    if (n == 0 || n >= modelCount)
        return std::nullopt;
    return n;
}

// What an editor computes from the points as written.
Vec3 mapNormal(const Face &face)
{
    return pointsNormal(face.points);
}

// Solid and not see-through: a structural brush of such contents fills the
// leaves it is in, so the tree's open leaves never hold it.
bool opaque(std::int32_t contents)
{
    return (contents & kSolidContents) &&
           !(contents & (kTranslucentContents | kStructuralContents));
}

class Converter {
public:
    Converter(const Bsp &bsp, const ConvertOptions &options, std::string &out, const TextSink *sink,
              ConvertStats &stats)
        : bsp_(bsp)
        , options_(options)
        , out_(out)
        , sink_(sink)
        , stats_(stats)
        , planeChecked_(bsp.planes.size(), 0)
        , shaderChecked_(bsp.shaders.size(), 0)
        , canonShader_(bsp.shaders.size(), 0)
        , writtenNames_(bsp.shaders.size())
    {
        std::unordered_map<std::string_view, std::uint32_t> byName;
        // Triangles and sides match by name: two records may share one.
        for (std::size_t i = 0; i < bsp.shaders.size(); ++i)
            canonShader_[i] =
                byName.try_emplace(nameOf(i), static_cast<std::uint32_t>(i)).first->second;
    }

    Result<void> run(const std::vector<Entity> &entities, const ProgressFn &progress);

private:
    std::string_view nameOf(std::size_t shader) const;
    Result<void> checkShader(std::int64_t index, const char *what, std::size_t owner);
    Result<Plane> plane(std::int64_t index);
    struct Workload {
        std::uint64_t sides = 0, clips = 0, surfaces = 0;
    };
    Result<void> checkModel(std::size_t index, Workload &work);
    Result<void> emitModel(std::size_t index, Vec3 origin, std::size_t &brushNumber);
    Result<void> findOpenBrushes();
    Result<void> buildBrushes(const RawModel &model, Vec3 origin, bool world);
    Result<void> collectSides(const RawBrush &brush, Vec3 origin);
    void addFace(std::size_t side);
    Result<void> collectTriangles(const RawModel &model, Vec3 origin);
    Result<void> matchTriangles();
    bool insideFace(const Face &face, Vec3 point) const;
    void fitTextures();
    void inheritTextures();
    Result<void> writeBrushes(std::size_t &brushNumber);
    Result<void> writePatches(const RawModel &model, Vec3 origin, std::size_t &brushNumber);
    Result<void> checkVertex(std::int64_t index);

    const Bsp &bsp_;
    const ConvertOptions &options_;
    std::string &out_;
    // With a sink, out_ is handed over whenever it holds kSpill, and reused:
    // its pages are made once and stay in the cache for the copy out.
    const TextSink *sink_;
    static constexpr std::size_t kSpill = 256 * 1024;
    void spill()
    {
        if (sink_ && out_.size() >= kSpill) {
            (*sink_)(out_);
            out_.clear();
        }
    }
    ConvertStats &stats_;
    std::vector<std::int8_t> planeChecked_;
    std::vector<std::int8_t> shaderChecked_;
    std::vector<std::uint32_t> canonShader_;
    // As written, without "textures/"; found once a shader, not once a face.
    std::vector<std::string_view> writtenNames_;
    std::string_view writtenNameOf(std::size_t shader)
    {
        std::string_view &name = writtenNames_[shader];
        if (name.empty())
            name = writtenName(nameOf(shader));
        return name;
    }

    // Brushes that a leaf with a cluster lists.
    std::vector<char> openBrushes_;
    // One brush at a time: its sides' shaders, and its shape.
    std::vector<std::int32_t> sideShaders_;
    BrushShaper shaper_;

    // One model at a time; kept to reuse their storage.
    std::vector<Face> faces_;
    std::vector<TexMatrix> texes_;
    std::vector<char> drawn_; // canonical shaders with triangles in this model
    std::vector<BuiltBrush> brushes_;
    std::vector<Vec3> points_;
    std::vector<Triangle> triangles_;
    std::vector<Vec3> triangleNormals_; // the planar surface's own, or zero
    Vec3 origin_;                       // of the model's triangles
    void cornersOf(const Triangle &tri, Vec3 (&p)[3]) const
    {
        for (int k = 0; k < 3; ++k) {
            const RawVertex v = bsp_.vertices[tri.vertex[k]];
            p[k] = Vec3{v.xyz[0], v.xyz[1], v.xyz[2]} + origin_;
        }
    }
    std::vector<std::uint32_t> triangleShader_; // canonical shader per triangle
    struct Match {
        std::uint32_t face;
        bool turned; // the triangle faces the other way
        std::uint32_t triangle;
        auto operator<=>(const Match &) const = default;
    };
    std::vector<Match> matches_;
    std::vector<char> usedScratch_;
    // Triangle and match; matches are fewer than the matching work allows.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byTriangleScratch_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byTriangleSorted_;
    std::vector<Match> matchScratch_;
    std::vector<std::uint32_t> startsScratch_;
    // Faces by shader and plane, with their bounds at hand for the first
    // test; the plane is the face's own.
    struct IndexEntry {
        std::uint64_t key;
        std::uint32_t face;
        float lo[3], hi[3]; // the face's bounds, with the matching margin
    };
    std::vector<IndexEntry> indexScratch_;
    struct Bounds {
        double lo[3], hi[3];
    };
    std::vector<Bounds> boundsScratch_;
    struct Slot {
        std::uint64_t key;
        std::uint32_t begin, end; // end 0: empty
    };
    std::vector<Slot> tableScratch_;
    NumberCache<double> numbers_;
    NumberCache<float> floatNumbers_; // a patch's own coordinates
    Prefault outAhead_, facesAhead_, pointsAhead_, trianglesAhead_, indexAhead_, boundsAhead_,
        matchesAhead_;
    template <class T> static void ahead(Prefault &prefault, const std::vector<T> &v)
    {
        prefault.ahead(v.data(), v.size() * sizeof(T), v.capacity() * sizeof(T));
    }
    // Room for n that will all be written: fresh storage has its pages made at once.
    template <class T> static void reserveFilled(std::vector<T> &v, std::size_t n)
    {
        if (n <= v.capacity())
            return;
        v.reserve(n);
        populate(v.data(), n * sizeof(T));
    }
};

std::string_view Converter::nameOf(std::size_t shader) const
{
    // A view of the name where it lies in the file, so that it outlives the copy.
    const RawShader s = bsp_.shaders[shader];
    const std::size_t len = shaderName(s).size();
    const char *inFile = reinterpret_cast<const char *>(bsp_.shaders.recordAddress(shader));
    return std::string_view(inFile, len);
}

Result<void> Converter::checkShader(std::int64_t index, const char *what, std::size_t owner)
{
    if (!bsp_.shaders.contains(index))
        return fail(std::string(what) + " " + str(owner) + ": shader " + std::to_string(index) +
                    " fora do intervalo (0.." + str(bsp_.shaders.size()) + ")");
    auto &state = shaderChecked_[static_cast<std::size_t>(index)];
    if (state == 0) {
        state = validName(writtenNameOf(static_cast<std::size_t>(index))) ? 1 : -1;
    }
    if (state < 0)
        return fail("shader " + std::to_string(index) +
                    ": nome vazio ou com espaços, aspas ou controles");
    return {};
}

Result<Plane> Converter::plane(std::int64_t index)
{
    if (!bsp_.planes.contains(index))
        return fail("plano " + std::to_string(index) + " fora do intervalo (0.." +
                    str(bsp_.planes.size()) + ")");
    const RawPlane raw = bsp_.planes[static_cast<std::size_t>(index)];
    Plane p{{raw.normal[0], raw.normal[1], raw.normal[2]}, raw.dist};
    auto &state = planeChecked_[static_cast<std::size_t>(index)];
    if (state == 0) {
        const double len = length(p.normal);
        state = isFinite(p.normal) && std::isfinite(p.dist) && std::abs(len - 1) < 0.01 ? 1 : -1;
    }
    if (state < 0)
        return fail("plano " + std::to_string(index) +
                    " inválido (normal não unitária ou número não finito)");
    return p;
}

Result<void> Converter::checkVertex(std::int64_t index)
{
    const RawVertex v = bsp_.vertices[static_cast<std::size_t>(index)];
    // The sum of finite floats is finite in double: one test instead of five.
    if (!std::isfinite(double(v.xyz[0]) + v.xyz[1] + v.xyz[2] + v.st[0] + v.st[1]))
        return fail("vértice " + std::to_string(index) + " com número não finito");
    return {};
}

// Ranges and the cost of a model, before any of it is built.
Result<void> Converter::checkModel(std::size_t index, Workload &work)
{
    const RawModel m = bsp_.models[index];
    const std::string name = "modelo " + str(index);
    if (!bsp_.brushes.containsRange(m.firstBrush, m.numBrushes))
        return fail(name + ": brushes fora do intervalo");
    if (!bsp_.surfaces.containsRange(m.firstSurface, m.numSurfaces))
        return fail(name + ": superfícies fora do intervalo");
    for (std::int64_t b = m.firstBrush; b < std::int64_t(m.firstBrush) + m.numBrushes; ++b) {
        const RawBrush brush = bsp_.brushes[static_cast<std::size_t>(b)];
        if (!bsp_.brushSides.containsRange(brush.firstSide, brush.numSides))
            return fail("brush " + std::to_string(b) + ": lados fora do intervalo");
        work.sides += static_cast<std::uint64_t>(brush.numSides);
        work.clips += std::uint64_t(brush.numSides) * std::uint64_t(brush.numSides);
    }
    work.surfaces += static_cast<std::uint64_t>(m.numSurfaces);
    // In a compiled map every side belongs to one brush and every surface to
    // one model; a file whose brushes or models share them many times over
    // asks for work out of all proportion to its size.
    if (work.sides > 4 * bsp_.brushSides.size() + 4096 ||
        work.surfaces > 4 * bsp_.surfaces.size() + 4096 || work.clips > kMaxClipWork)
        return fail("brushes ou modelos repetem lados e superfícies além do razoável");
    return {};
}

// The compiler keeps the detail flag nowhere, but the tree still tells it:
// structural brushes build the tree, so an opaque structural solid fills only
// leaves without a cluster. An opaque brush that a leaf with a cluster lists
// stood in open space, and was detail.
Result<void> Converter::findOpenBrushes()
{
    openBrushes_.assign(bsp_.brushes.size(), 0);
    std::uint64_t listed = 0;
    for (std::size_t l = 0; l < bsp_.leaves.size(); ++l) {
        const RawLeaf leaf = bsp_.leaves[l];
        if (!bsp_.leafBrushes.containsRange(leaf.firstLeafBrush, leaf.numLeafBrushes))
            return fail("folha " + str(l) + ": brushes fora do intervalo");
        // Each leaf has its own list in a compiled map.
        listed += static_cast<std::uint64_t>(leaf.numLeafBrushes);
        if (listed > 4 * bsp_.leafBrushes.size() + 4096)
            return fail("folhas repetem brushes além do razoável");
        for (std::int32_t k = 0; k < leaf.numLeafBrushes; ++k) {
            const std::int32_t b =
                bsp_.leafBrushes[static_cast<std::size_t>(leaf.firstLeafBrush) + k];
            if (!bsp_.brushes.contains(b))
                return fail("folha " + str(l) + ": brush " + std::to_string(b) +
                            " fora do intervalo (0.." + str(bsp_.brushes.size()) + ")");
            if (leaf.cluster >= 0)
                openBrushes_[static_cast<std::size_t>(b)] = 1;
        }
    }
    return {};
}

Result<void> Converter::run(const std::vector<Entity> &entities, const ProgressFn &progress)
{
    if (auto r = findOpenBrushes(); !r)
        return r;
    // Which model each entity carries: the world for the first, *N for others.
    std::vector<std::optional<std::size_t>> modelOf(entities.size());
    std::vector<char> used(bsp_.models.size(), 0);
    modelOf[0] = 0;
    used[0] = 1;
    for (std::size_t e = 1; e < entities.size(); ++e) {
        if (auto n = brushModelIndex(entities[e].value("model"), bsp_.models.size())) {
            modelOf[e] = *n;
            used[*n] = 1;
        }
    }
    Workload work;
    std::size_t brushTotal = 0;
    for (std::size_t e = 0; e < entities.size(); ++e) {
        if (!modelOf[e])
            continue;
        if (auto r = checkModel(*modelOf[e], work); !r)
            return r;
        brushTotal += static_cast<std::size_t>(bsp_.models[*modelOf[e]].numBrushes);
    }
    stats_.unusedModels = static_cast<std::size_t>(std::count(used.begin(), used.end(), 0));
    if (progress) {
        progress("reconstruindo " + str(brushTotal) + " brushes de " + str(entities.size()) +
                 " entidades");
        if (stats_.unusedModels > 0)
            progress(str(stats_.unusedModels) + " modelos de brush sem entidade não convertidos");
    }

    // The whole text, or a spill and room for a brush or patch beyond it.
    out_.reserve(sink_ ? kSpill + kSpill / 4
                       : out_.size() + bsp_.brushSides.size() * 140 + bsp_.vertices.size() * 20 +
                             bsp_.entities.size() * 2);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const Entity &entity = entities[e];
        spill();
        out_ += "// entity ";
        appendNumber(out_, static_cast<long long>(e));
        out_ += "\n{\n";
        Vec3 origin;
        if (modelOf[e] && e > 0) {
            const std::string_view text = entity.value("origin");
            if (!text.empty()) {
                auto parsed = parseOrigin(text);
                if (!parsed)
                    return fail("entidade " + str(e) + ": \"origin\" inválida");
                origin = *parsed;
            }
        }
        for (const KeyValue &pair : entity.pairs) {
            if (e > 0 && modelOf[e] && pair.key == "model")
                continue; // replaced by the geometry itself
            out_ += '"';
            out_ += pair.key;
            out_ += "\" \"";
            out_ += pair.value;
            out_ += "\"\n";
        }
        if (modelOf[e]) {
            std::size_t brushNumber = 0;
            if (auto r = emitModel(*modelOf[e], origin, brushNumber); !r)
                return r;
        }
        out_ += "}\n";
    }
    stats_.entities = entities.size();
    if (progress && stats_.skippedBrushes > 0)
        progress(str(stats_.skippedBrushes) + " brushes vazios, planos ou abertos omitidos");
    return {};
}

Result<void> Converter::emitModel(std::size_t index, Vec3 origin, std::size_t &brushNumber)
{
    const RawModel model = bsp_.models[index];
    // Which shaders have triangles that may match a face: only those faces
    // keep their windings. A surface that is out of range fails later.
    drawn_.assign(bsp_.shaders.size(), 0);
    if (!options_.classic) {
        for (std::int64_t s = model.firstSurface;
             s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
            const RawSurface surface = bsp_.surfaces[static_cast<std::size_t>(s)];
            if (surface.type != Planar || surface.numIndexes <= 0 ||
                !bsp_.shaders.contains(surface.shader))
                continue;
            const auto shader = static_cast<std::size_t>(surface.shader);
            if (!(bsp_.shaders[shader].surfaceFlags & kNodrawSurface))
                drawn_[canonShader_[shader]] = 1;
        }
    }
    if (auto r = buildBrushes(model, origin, index == 0); !r)
        return r;
    if (!options_.classic) {
        if (auto r = collectTriangles(model, origin); !r)
            return r;
        if (auto r = matchTriangles(); !r)
            return r;
        fitTextures();
    }
    if (auto r = writeBrushes(brushNumber); !r)
        return r;
    return writePatches(model, origin, brushNumber);
}

Result<void> Converter::buildBrushes(const RawModel &model, Vec3 origin, bool world)
{
    faces_.clear();
    texes_.clear();
    brushes_.clear();
    points_.clear();
    std::size_t sideCount = 0;
    for (std::int64_t b = model.firstBrush; b < std::int64_t(model.firstBrush) + model.numBrushes;
         ++b)
        sideCount += static_cast<std::size_t>(bsp_.brushes[static_cast<std::size_t>(b)].numSides);
    faces_.reserve(sideCount);
    brushes_.reserve(static_cast<std::size_t>(model.numBrushes));
    // Pages are touched only as used: a generous reserve spares the copies
    // (and fresh pages) of growing.
    points_.reserve(sideCount * 5);

    for (std::int64_t b = model.firstBrush; b < std::int64_t(model.firstBrush) + model.numBrushes;
         ++b) {
        const RawBrush brush = bsp_.brushes[static_cast<std::size_t>(b)];
        if (auto r = checkShader(brush.shader, "brush", static_cast<std::size_t>(b)); !r)
            return r;
        ahead(facesAhead_, faces_);
        ahead(pointsAhead_, points_);
        if (auto r = collectSides(brush, origin); !r)
            return r;
        if (!shaper_.shape()) {
            ++stats_.skippedBrushes;
            continue;
        }
        const auto firstFace = static_cast<std::uint32_t>(faces_.size());
        for (std::size_t i = 0; i < shaper_.sideCount(); ++i)
            if (shaper_.kept(i))
                addFace(i);
        const std::int32_t contents =
            bsp_.shaders[static_cast<std::size_t>(brush.shader)].contentFlags;
        const bool detail =
            (contents & kDetailContents) ||
            (world && openBrushes_[static_cast<std::size_t>(b)] && opaque(contents));
        brushes_.push_back({firstFace, static_cast<std::uint32_t>(faces_.size()) - firstFace,
                            detail ? std::uint32_t(kDetailContents) : 0});
    }
    return {};
}

// The brush's sides, a plane once, and the origin applied.
Result<void> Converter::collectSides(const RawBrush &brush, Vec3 origin)
{
    // A plane given twice is one side, preferring a real shader over "noshader".
    shaper_.clear();
    sideShaders_.clear();
    for (std::int32_t s = 0; s < brush.numSides; ++s) {
        const std::size_t sideIndex = static_cast<std::size_t>(brush.firstSide) + s;
        const RawBrushSide raw = bsp_.brushSides[sideIndex];
        auto p = plane(raw.plane);
        if (!p)
            return fail("lado " + str(sideIndex) + ": " + p.error().message);
        if (auto r = checkShader(raw.shader, "lado", sideIndex); !r)
            return r;
        Plane world = *p;
        world.dist += dot(world.normal, origin);
        const BrushShaper::Added added = shaper_.add(world, raw.plane);
        if (!added.merged)
            sideShaders_.push_back(raw.shader);
        else if (nameOf(static_cast<std::size_t>(sideShaders_[added.side])) == "noshader" &&
                 nameOf(static_cast<std::size_t>(raw.shader)) != "noshader")
            sideShaders_[added.side] = raw.shader;
    }
    return {};
}

void Converter::addFace(std::size_t i)
{
    Face face;
    face.shader = sideShaders_[i];
    face.canonShader = canonShader_[static_cast<std::size_t>(face.shader)];
    face.plane = shaper_.plane(i);
    face.firstPoint = static_cast<std::uint32_t>(points_.size());
    face.pointCount = 0;
    // Only faces that triangles may match keep their windings.
    if (shaper_.wide(i) && drawn_[face.canonShader]) {
        const std::span<const Vec3> w = shaper_.corners(i);
        face.pointCount = static_cast<std::uint32_t>(w.size());
        points_.insert(points_.end(), w.begin(), w.end());
        Vec3 turn;
        for (std::size_t k = 1; k + 1 < w.size(); ++k)
            turn = turn + cross(w[k] - w[0], w[k + 1] - w[0]);
        face.winding = dot(turn, face.plane.normal) >= 0 ? 1 : -1;
    }
    face.points = shaper_.points(i);
    faces_.push_back(face);
}

Result<void> Converter::collectTriangles(const RawModel &model, Vec3 origin)
{
    triangles_.clear();
    triangleNormals_.clear();
    triangleShader_.clear();
    origin_ = origin;
    // Surfaces share runs of the index lump, so the count is their own: that
    // of the surfaces the loop below keeps. Bounded far above any map, so
    // that a file which repeats one run without end fails where it did
    // instead of reserving more than memory.
    constexpr std::size_t kMostReserved = std::size_t(1) << 24;
    std::size_t indexCount = 0, surfaceCount = 0;
    for (std::int64_t s = model.firstSurface;
         s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
        const RawSurface surface = bsp_.surfaces[static_cast<std::size_t>(s)];
        if (surface.type == Planar && surface.numIndexes > 0 &&
            bsp_.indexes.containsRange(surface.firstIndex, surface.numIndexes) &&
            bsp_.shaders.contains(surface.shader) &&
            !(bsp_.shaders[static_cast<std::size_t>(surface.shader)].surfaceFlags &
              kNodrawSurface)) {
            indexCount += static_cast<std::size_t>(surface.numIndexes);
            ++surfaceCount;
        }
    }
    triangles_.reserve(std::min(indexCount / 3, kMostReserved));
    triangleShader_.reserve(std::min(indexCount / 3, kMostReserved));
    triangleNormals_.reserve(std::min(surfaceCount, kMostReserved));
    for (std::int64_t s = model.firstSurface;
         s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
        const RawSurface surface = bsp_.surfaces[static_cast<std::size_t>(s)];
        if (surface.type != Planar)
            continue;
        // Only an error needs the name.
        const auto name = [s] { return "superfície " + std::to_string(s); };
        if (auto r = checkShader(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
            return r;
        if (!bsp_.vertices.containsRange(surface.firstVert, surface.numVerts))
            return fail(name() + ": vértices fora do intervalo");
        if (!bsp_.indexes.containsRange(surface.firstIndex, surface.numIndexes))
            return fail(name() + ": índices fora do intervalo");
        if (surface.numIndexes % 3 != 0)
            return fail(name() + ": número de índices não é múltiplo de 3");
        const RawShader shader = bsp_.shaders[static_cast<std::size_t>(surface.shader)];
        if (shader.surfaceFlags & kNodrawSurface)
            continue;
        for (std::int32_t v = 0; v < surface.numVerts; ++v)
            if (auto r = checkVertex(std::int64_t(surface.firstVert) + v); !r)
                return r;
        Vec3 surfaceNormal{surface.lightmapVecs[2][0], surface.lightmapVecs[2][1],
                           surface.lightmapVecs[2][2]};
        if (!isFinite(surfaceNormal) || std::abs(length(surfaceNormal) - 1) > 0.01)
            surfaceNormal = {};
        ahead(trianglesAhead_, triangles_);
        const auto normal = static_cast<std::uint32_t>(triangleNormals_.size());
        triangleNormals_.push_back(surfaceNormal);
        for (std::int32_t i = 0; i < surface.numIndexes; i += 3) {
            Triangle tri;
            tri.normal = normal;
            for (int k = 0; k < 3; ++k) {
                const std::int32_t index =
                    bsp_.indexes[static_cast<std::size_t>(surface.firstIndex) + i + k];
                if (index < 0 || index >= surface.numVerts)
                    return fail(name() + ": índice " + std::to_string(index) +
                                " fora do intervalo");
                tri.vertex[k] = static_cast<std::uint32_t>(surface.firstVert + index);
            }
            triangles_.push_back(tri);
            triangleShader_.push_back(canonShader_[static_cast<std::size_t>(surface.shader)]);
        }
    }
    return {};
}

// The point, on the face's plane, lies within the face's polygon or within a
// small margin of it.
bool Converter::insideFace(const Face &face, Vec3 point) const
{
    const Vec3 *w = points_.data() + face.firstPoint;
    const std::size_t count = face.pointCount;
    const Vec3 inward = face.plane.normal * double(face.winding);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 a = w[i], b = w[i + 1 == count ? 0 : i + 1];
        const Vec3 edge = b - a;
        const double side = dot(cross(edge, point - a), inward);
        if (side < 0 && side < -kMatchInside * length(edge))
            return false;
    }
    return true;
}

namespace {

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

} // namespace

Result<void> Converter::matchTriangles()
{
    matches_.clear();
    std::vector<IndexEntry> &index = indexScratch_;
    index.clear();
    // A face's bounds with the matching margin, and the grid cubes they reach.
    struct Reach {
        std::int64_t from[3], to[3];
        std::int64_t spots;
    };
    auto reachOf = [](const Bounds &b) {
        Reach r;
        r.spots = 1;
        for (int k = 0; k < 3; ++k) {
            r.from[k] = gridOf(b.lo[k]);
            r.to[k] = gridOf(b.hi[k]);
            r.spots *= std::min<std::int64_t>(r.to[k] - r.from[k] + 1, kMaxSpots + 1);
        }
        return r;
    };
    // Only faces of shaders with triangles kept their windings: caulk and the
    // like never match. Their bounds are taken once, and the entries counted
    // first: the index is large, and growing it would touch twice the memory.
    std::vector<Bounds> &bounds = boundsScratch_;
    bounds.clear();
    bounds.reserve(faces_.size());
    std::size_t entries = 0;
    for (const Face &face : faces_) {
        if (face.pointCount == 0)
            continue;
        ahead(boundsAhead_, bounds);
        const Vec3 *w = points_.data() + face.firstPoint;
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
        bounds.push_back(b);
        const std::int64_t spots = reachOf(b).spots;
        entries += spots > kMaxSpots ? 1 : static_cast<std::size_t>(spots);
    }
    index.reserve(entries);
    const Bounds *nextBounds = bounds.data();
    for (std::uint32_t f = 0; f < faces_.size(); ++f) {
        if (faces_[f].pointCount == 0)
            continue;
        ahead(indexAhead_, index);
        const Plane &plane = faces_[f].plane;
        const double sign = dot(plane.normal, kKeyDirection) >= 0 ? 1 : -1;
        IndexEntry entry{0, f, {}, {}};
        const Bounds &b = *nextBounds++;
        const Reach r = reachOf(b);
        for (int k = 0; k < 3; ++k) {
            entry.lo[k] = static_cast<float>(b.lo[k]);
            entry.hi[k] = static_cast<float>(b.hi[k]);
        }
        // A face is filed under every grid cube it reaches; a huge one once, as
        // wide, by its shader alone: there are few of those.
        if (r.spots > kMaxSpots) {
            entry.key = keyOf(faces_[f].canonShader, kWide, kWide, kWide, kWide);
            index.push_back(entry);
            continue;
        }
        for (std::int64_t x = r.from[0]; x <= r.to[0]; ++x)
            for (std::int64_t y = r.from[1]; y <= r.to[1]; ++y)
                for (std::int64_t z = r.from[2]; z <= r.to[2]; ++z) {
                    const double dist =
                        (plane.dist - dot(plane.normal, cubeCentre(x, y, z))) * sign;
                    entry.key = keyOf(faces_[f].canonShader, cellOf(dist, kDistCell), x, y, z);
                    index.push_back(entry);
                }
    }
    std::sort(index.begin(), index.end(), [](const IndexEntry &a, const IndexEntry &b) {
        return a.key < b.key || (a.key == b.key && a.face < b.face);
    });
    // Runs of one key, found through an open-addressing table: a probe or
    // two instead of a binary search through the whole index. Half empty.
    std::size_t runs = 0;
    for (std::size_t i = 0; i < index.size(); ++i)
        runs += i == 0 || index[i].key != index[i - 1].key;
    std::size_t slots = 16;
    while (slots < runs * 2)
        slots *= 2;
    std::vector<Slot> &table = tableScratch_;
    reserveFilled(table, slots);
    table.assign(slots, Slot{0, 0, 0});
    for (std::size_t begin = 0; begin < index.size();) {
        std::size_t end = begin + 1;
        while (end < index.size() && index[end].key == index[begin].key)
            ++end;
        std::size_t at = index[begin].key & (slots - 1);
        while (table[at].end != 0)
            at = (at + 1) & (slots - 1);
        table[at] = {index[begin].key, static_cast<std::uint32_t>(begin),
                     static_cast<std::uint32_t>(end)};
        begin = end;
    }
    auto run = [&](std::uint64_t key) -> std::pair<std::size_t, std::size_t> {
        for (std::size_t at = key & (slots - 1);; at = (at + 1) & (slots - 1)) {
            if (table[at].end == 0)
                return {0, 0};
            if (table[at].key == key)
                return {table[at].begin, table[at].end};
        }
    };

    // Most triangles match one face.
    matches_.reserve(triangles_.size() + triangles_.size() / 4);
    std::uint64_t work = 0;
    for (std::uint32_t t = 0; t < triangles_.size(); ++t) {
        ahead(matchesAhead_, matches_);
        Vec3 p[3];
        cornersOf(triangles_[t], p);
        const Vec3 surfaceNormal = triangleNormals_[triangles_[t].normal];
        const Vec3 centre = (p[0] + p[1] + p[2]) * (1.0 / 3);
        // Floats out there are units apart; no face of a map lies so far.
        if (!(std::max({std::abs(centre.x), std::abs(centre.y), std::abs(centre.z)}) < kFarthest))
            continue;
        // The surface's plane is exact where the triangle's own normal suffers
        // from snapped corners, and a sliver along the edge of two faces has no
        // normal of its own worth the name. A surface may be merged over several
        // planes, as terrain and the slanted sides of a model are: there the
        // triangle's own normal finds its face.
        Vec3 normals[2];
        int normalCount = 0;
        const Vec3 own = cross(p[2] - p[0], p[1] - p[0]);
        const double len = length(own);
        const double longest =
            std::max({dot(p[1] - p[0], p[1] - p[0]), dot(p[2] - p[1], p[2] - p[1]),
                      dot(p[0] - p[2], p[0] - p[2])});
        const bool sliver = !(len > 1e-3 * longest);
        const bool hasSurfaceNormal =
            surfaceNormal.x != 0 || surfaceNormal.y != 0 || surfaceNormal.z != 0;
        if (hasSurfaceNormal)
            normals[normalCount++] = surfaceNormal;
        if (!hasSurfaceNormal ? len > 1e-9 : !sliver && dot(own, surfaceNormal) < (1 - 1e-9) * len)
            normals[normalCount++] = own * (1 / len);
        // Faces facing the triangle's way win; liquids and two-sided shaders
        // may leave only triangles turned the other way.
        const std::size_t firstMatch = matches_.size();
        bool sameWay = false;
        const std::int64_t gx = gridOf(centre.x), gy = gridOf(centre.y), gz = gridOf(centre.z);
        const Vec3 fromCube = centre - cubeCentre(gx, gy, gz);
        for (const double minFacing : {kMatchNormalDot, kLooseNormalDot}) {
            if (matches_.size() > firstMatch)
                break;
            // How far a matching face's normal may lean from the triangle's.
            const double lean = std::sqrt(2 * (1 - minFacing));
            for (int n = 0; n < normalCount; ++n) {
                const Vec3 along = normals[n];
                const double towards = dot(along, kKeyDirection);
                const double sign = towards >= 0 ? 1 : -1;
                // A face within reach differs from the triangle's distance by the
                // snapping margin and the lean over the way from the cube's centre.
                const double dist = dot(along, fromCube) * sign;
                const double reach = kMatchDist + lean * length(fromCube);
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
                // The last lookup: the wide faces.
                for (int lookup = 0; lookup <= cellCount; ++lookup) {
                    const std::uint64_t key =
                        lookup == cellCount ? keyOf(triangleShader_[t], kWide, kWide, kWide, kWide)
                                            : keyOf(triangleShader_[t], cells[lookup], gx, gy, gz);
                    const auto [first, last] = run(key);
                    // Counted a run at a time: the faces it holds are all tried.
                    work += last - first;
                    if (work > kMaxMatchWork)
                        return fail("triângulos e faces demais no mesmo plano: trabalho além "
                                    "do razoável");
                    for (auto it = index.begin() + first; it != index.begin() + last; ++it) {
                        if (centre.x < it->lo[0] || centre.x > it->hi[0] || centre.y < it->lo[1] ||
                            centre.y > it->hi[1] || centre.z < it->lo[2] || centre.z > it->hi[2])
                            continue;
                        const Plane &plane = faces_[it->face].plane;
                        const double facing = dot(plane.normal, along);
                        if (std::abs(facing) < minFacing)
                            continue;
                        const bool agrees = facing > 0;
                        if (sameWay && !agrees)
                            continue;
                        if (std::abs(plane.distanceTo(p[0])) > kMatchDist ||
                            std::abs(plane.distanceTo(p[1])) > kMatchDist ||
                            std::abs(plane.distanceTo(p[2])) > kMatchDist)
                            continue;
                        if (!insideFace(faces_[it->face], centre))
                            continue;
                        if (agrees && !sameWay) {
                            sameWay = true;
                            matches_.resize(firstMatch);
                        }
                        matches_.push_back({it->face, !agrees, t});
                    }
                }
            }
        }
    }
    // Each triangle's matches were added together, in triangle order: by face
    // and side alone, they come out fully sorted.
    sortByKey(
        matches_, 2 * faces_.size(),
        [](const Match &m) { return 2 * std::size_t(m.face) + m.turned; }, matchScratch_,
        startsScratch_);
    matches_.erase(std::unique(matches_.begin(), matches_.end()), matches_.end());
    return {};
}

void Converter::fitTextures()
{
    // The back of a two-sided face may carry a mirrored projection; it counts
    // only when the face has no triangles of its own way.
    std::vector<char> &used = usedScratch_;
    used.assign(matches_.size(), 0);
    for (std::size_t m = 0; m < matches_.size();) {
        const std::uint32_t f = matches_[m].face;
        const bool turned = matches_[m].turned;
        for (; m < matches_.size() && matches_[m].face == f; ++m)
            used[m] = matches_[m].turned == turned;
    }
    auto sampleOf = [&](std::size_t m) {
        const Triangle &tri = triangles_[matches_[m].triangle];
        TexSample sample;
        for (int k = 0; k < 3; ++k) {
            const RawVertex v = bsp_.vertices[tri.vertex[k]];
            sample.p[k] = Vec3{v.xyz[0], v.xyz[1], v.xyz[2]} + origin_;
            sample.st[k][0] = v.st[0];
            sample.st[k][1] = v.st[1];
        }
        return sample;
    };
    // Sized for the face with the most triangles: a terrain face may have
    // thousands, and growing would touch fresh pages twice over.
    std::size_t mostSamples = 0, matchedFaces = 0;
    for (std::size_t m = 0, begin = 0; m <= matches_.size(); ++m)
        if (m == matches_.size() || matches_[m].face != matches_[begin].face) {
            mostSamples = std::max(mostSamples, m - begin);
            matchedFaces += m > begin;
            begin = m;
        }
    reserveFilled(texes_, matchedFaces);
    std::vector<TexSample> samples;
    samples.reserve(mostSamples);
    auto fitFaces = [&](const std::vector<char> &wanted) {
        for (std::size_t m = 0; m < matches_.size();) {
            const std::uint32_t f = matches_[m].face;
            samples.clear();
            for (; m < matches_.size() && matches_[m].face == f; ++m)
                if (used[m])
                    samples.push_back(sampleOf(m));
            if (!wanted.empty() && !wanted[f])
                continue;
            Face &face = faces_[f];
            if (auto tex = fitTexture(mapNormal(face), samples)) {
                if (!face.textured) {
                    face.tex = static_cast<std::uint32_t>(texes_.size());
                    texes_.push_back(*tex);
                } else {
                    texes_[face.tex] = *tex;
                }
                face.textured = true;
            }
        }
    };
    fitFaces({});

    // A triangle on two coplanar faces, where their windings touch or overlap,
    // belongs to the one whose projection it fits; the other is fitted again
    // without it.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> &byTriangle = byTriangleScratch_;
    byTriangle.clear();
    reserveFilled(byTriangle, matches_.size());
    for (std::size_t m = 0; m < matches_.size(); ++m)
        if (used[m])
            byTriangle.push_back({matches_[m].triangle, static_cast<std::uint32_t>(m)});
    sortByKey(
        byTriangle, triangles_.size(), [](const auto &entry) { return std::size_t(entry.first); },
        byTriangleSorted_, startsScratch_);
    std::vector<char> refit;
    for (std::size_t begin = 0; begin < byTriangle.size();) {
        std::size_t end = begin + 1;
        while (end < byTriangle.size() && byTriangle[end].first == byTriangle[begin].first)
            ++end;
        if (end - begin > 1) {
            std::size_t keep = byTriangle[begin].second;
            double keepError = std::numeric_limits<double>::infinity();
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t m = byTriangle[i].second;
                const Face &face = faces_[matches_[m].face];
                // A face no triangle could fit has no projection to compare.
                const double error =
                    face.textured ? worstCornerError(mapNormal(face), texes_[face.tex], sampleOf(m))
                                  : std::numeric_limits<double>::infinity();
                if (error < keepError) {
                    keepError = error;
                    keep = m;
                }
            }
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t m = byTriangle[i].second;
                if (m == keep)
                    continue;
                used[m] = 0;
                refit.resize(faces_.size(), 0);
                refit[matches_[m].face] = 1;
            }
        }
        begin = end;
    }
    if (!refit.empty())
        fitFaces(refit);
    inheritTextures();
}

// A face with no triangles of its own that touches a textured face on the
// same plane with the same shader takes that face's projection: hidden parts
// of a wall line up with the visible ones, as the mapper had them.
void Converter::inheritTextures()
{
    const std::vector<IndexEntry> &index = indexScratch_;
    std::vector<const IndexEntry *> sources;
    // The index is sorted by key: each run is one shader, plane and grid cube.
    for (std::size_t begin = 0; begin < index.size();) {
        std::size_t end = begin + 1;
        while (end < index.size() && index[end].key == index[begin].key)
            ++end;
        sources.clear();
        for (std::size_t i = begin; i < end; ++i)
            if (faces_[index[i].face].textured)
                sources.push_back(&index[i]);
        for (std::size_t i = begin; i < end && !sources.empty(); ++i) {
            const IndexEntry &entry = index[i];
            Face &face = faces_[entry.face];
            if (face.textured || face.inherited)
                continue;
            for (const IndexEntry *other : sources) {
                const Plane &plane = face.plane, &otherPlane = faces_[other->face].plane;
                if (dot(otherPlane.normal, plane.normal) < 1 - 1e-9 ||
                    std::abs(otherPlane.dist - plane.dist) > 1e-3)
                    continue;
                bool touching = true;
                for (int k = 0; k < 3; ++k)
                    touching =
                        touching && other->lo[k] <= entry.hi[k] && entry.lo[k] <= other->hi[k];
                if (!touching)
                    continue;
                face.tex = faces_[other->face].tex;
                face.inherited = true;
                ++stats_.inheritedFaces;
                break;
            }
        }
        begin = end;
    }
}

Result<void> Converter::writeBrushes(std::size_t &brushNumber)
{
    for (const BuiltBrush &brush : brushes_) {
        spill();
        outAhead_.ahead(out_.data(), out_.size(), out_.capacity());
        out_ += "// brush ";
        appendNumber(out_, static_cast<long long>(brushNumber++));
        out_ += options_.classic ? "\n{\n" : "\n{\nbrushDef\n{\n";
        for (std::uint32_t i = 0; i < brush.faceCount; ++i) {
            const Face &face = faces_[brush.firstFace + i];
            // The numbers of a line go through one buffer, and into the
            // output with one copy.
            char line[16 * (kMaxNumber + 8)];
            char *at = line;
            auto put = [&at](std::string_view text) {
                std::memcpy(at, text.data(), text.size());
                at += text.size();
            };
            for (const Vec3 &p : face.points) {
                put("( ");
                for (int k = 0; k < 3; ++k) {
                    at = numbers_.write(at, p[k]);
                    *at++ = ' ';
                }
                put(") ");
            }
            if (!options_.classic) {
                const TexMatrix tex =
                    face.textured || face.inherited ? texes_[face.tex] : defaultTexMatrix();
                put("( ( ");
                for (int row = 0; row < 2; ++row) {
                    if (row == 1)
                        put(" ) ( ");
                    for (int col = 0; col < 3; ++col) {
                        if (col > 0)
                            *at++ = ' ';
                        at = numbers_.write(at, tex.m[row][col]);
                    }
                }
                put(" ) ) ");
            }
            out_.append(line, at);
            out_ += writtenNameOf(static_cast<std::size_t>(face.shader));
            at = line;
            put(options_.classic ? " 0 0 0 0.5 0.5 " : " ");
            at = std::to_chars(at, line + sizeof line, brush.contents).ptr;
            put(" 0 0\n");
            out_.append(line, at);
            ++stats_.faces;
            if (face.textured)
                ++stats_.texturedFaces;
        }
        out_ += options_.classic ? "}\n" : "}\n}\n";
        ++stats_.brushes;
        stats_.detailBrushes += brush.contents != 0;
    }
    return {};
}

Result<void> Converter::writePatches(const RawModel &model, Vec3 origin, std::size_t &brushNumber)
{
    const bool shifted = origin.x != 0 || origin.y != 0 || origin.z != 0;
    for (std::int64_t s = model.firstSurface;
         s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
        const RawSurface surface = bsp_.surfaces[static_cast<std::size_t>(s)];
        if (surface.type == TriangleSoup) {
            ++stats_.triangleSoups;
            continue;
        }
        if (surface.type != Patch)
            continue;
        const auto name = [s] { return "patch (superfície " + std::to_string(s) + ")"; };
        if (auto r = checkShader(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
            return r;
        const std::int64_t width = surface.patchWidth, height = surface.patchHeight;
        if (width < 3 || height < 3 || width % 2 == 0 || height % 2 == 0)
            return fail(name() + ": tamanho " + std::to_string(width) + "x" +
                        std::to_string(height) + " inválido (precisa ser ímpar, 3 ou mais)");
        if (!bsp_.vertices.containsRange(surface.firstVert, surface.numVerts))
            return fail(name() + ": vértices fora do intervalo");
        if (width * height > surface.numVerts)
            return fail(name() + ": " + std::to_string(width) + "x" + std::to_string(height) +
                        " pontos de controle, mas só " + std::to_string(surface.numVerts) +
                        " vértices");
        for (std::int64_t v = 0; v < width * height; ++v)
            if (auto r = checkVertex(surface.firstVert + v); !r)
                return r;

        spill();
        outAhead_.ahead(out_.data(), out_.size(), out_.capacity());
        out_ += "// brush ";
        appendNumber(out_, static_cast<long long>(brushNumber++));
        out_ += "\n{\npatchDef2\n{\n";
        out_ += writtenNameOf(static_cast<std::size_t>(surface.shader));
        out_ += "\n( ";
        appendNumber(out_, static_cast<long long>(width));
        out_ += ' ';
        appendNumber(out_, static_cast<long long>(height));
        out_ += " 0 0 0 )\n(\n";
        for (std::int64_t i = 0; i < width; ++i) {
            out_ += "( ";
            for (std::int64_t j = 0; j < height; ++j) {
                const RawVertex v =
                    bsp_.vertices[static_cast<std::size_t>(surface.firstVert + j * width + i)];
                // A point's numbers go through one buffer, as a face's line does.
                char point[5 * (kMaxNumber + 1) + 8];
                char *at = point;
                *at++ = '(';
                *at++ = ' ';
                for (int k = 0; k < 3; ++k) {
                    at = shifted ? numbers_.write(at, double(v.xyz[k]) + origin[k])
                                 : floatNumbers_.write(at, v.xyz[k]);
                    *at++ = ' ';
                }
                at = floatNumbers_.write(at, v.st[0]);
                *at++ = ' ';
                at = floatNumbers_.write(at, v.st[1]);
                std::memcpy(at, " ) ", 3);
                at += 3;
                out_.append(point, at);
            }
            out_ += ")\n";
        }
        out_ += ")\n}\n}\n";
        ++stats_.patches;
    }
    return {};
}

Result<ConvertStats> convert(std::span<const std::byte> data, const ConvertOptions &options,
                             std::string &mapText, const TextSink *sink, const ProgressFn &progress)
{
    auto family = identify(data);
    if (!family)
        return family.takeError();
    auto bsp = readBsp(data);
    if (!bsp)
        return bsp.takeError();
    auto entities = parseEntities(bsp->entities);
    if (!entities)
        return entities.takeError();
    ConvertStats stats;
    stats.version = bsp->version;
    if (progress)
        progress("IBSP " + std::to_string(bsp->version) + (bsp->extraLump ? " (18 lumps)" : "") +
                 ": " + str(entities->size()) + " entidades, " + str(bsp->models.size()) +
                 " modelos, " + str(bsp->brushes.size()) + " brushes, " +
                 str(bsp->brushSides.size()) + " lados, " + str(bsp->surfaces.size()) +
                 " superfícies");
    Converter converter(*bsp, options, mapText, sink, stats);
    if (auto r = converter.run(*entities, progress); !r)
        return r.takeError();
    if (progress && !options.classic)
        progress(str(stats.faces) + " faces, " + str(stats.texturedFaces) +
                 " com o alinhamento de textura tirado dos triângulos do BSP, " +
                 str(stats.inheritedFaces) + " com o de uma face vizinha no mesmo plano");
    return stats;
}

} // namespace

Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                std::string &mapText, const ProgressFn &progress)
{
    return convert(data, options, mapText, nullptr, progress);
}

Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                const TextSink &sink, const ProgressFn &progress)
{
    std::string text;
    auto stats = convert(data, options, text, &sink, progress);
    if (stats && !text.empty())
        sink(text);
    return stats;
}

} // namespace bsp2map
