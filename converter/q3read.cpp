#include "q3read.h"

#include "brushes.h"
#include "entities.h"
#include "prefault.h"
#include "q3bsp.h"
#include "q3fit.h"
#include "q3match.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace bsp2map {
namespace {

std::string str(std::size_t n)
{
    return std::to_string(n);
}

// Solid and not see-through: a structural brush of such contents fills the
// leaves it is in, so the tree's open leaves never hold it.
bool opaque(std::int32_t contents)
{
    return (contents & kSolidContents) &&
           !(contents & (kTranslucentContents | kStructuralContents));
}

class Quake3Reader {
public:
    Quake3Reader(const Bsp &bsp, const ReadOptions &options, MapSink &sink, ConvertStats &stats)
        : bsp_(bsp)
        , options_(options)
        , sink_(sink)
        , stats_(stats)
        , shaders_(bsp)
        , planeChecked_(bsp.planes.size(), 0)
    {
    }

    Result<void> run(const std::vector<Entity> &entities, const ProgressFn &progress);

private:
    struct Workload {
        std::uint64_t sides = 0, clips = 0, surfaces = 0;
    };
    Result<Plane> plane(std::int64_t index);
    Result<void> checkModel(std::size_t index, Workload &work);
    Result<void> findOpenBrushes();
    Result<std::vector<std::optional<std::size_t>>>
    modelsOf(const std::vector<Entity> &entities, const ProgressFn &progress);
    Result<void> readModel(std::size_t index, Vec3 origin);
    Result<void> buildBrushes(const RawModel &model, Vec3 origin, bool world);
    Result<void> collectSides(const RawBrush &brush, Vec3 origin);
    void addSide(std::size_t i);
    Result<void> readPatches(const RawModel &model);

    const Bsp &bsp_;
    const ReadOptions &options_;
    MapSink &sink_;
    ConvertStats &stats_;
    Shaders shaders_;
    std::vector<std::int8_t> planeChecked_;
    // Brushes that a leaf with a cluster lists.
    std::vector<char> openBrushes_;
    // One brush at a time: its sides' shaders, and its shape.
    std::vector<std::int32_t> sideShaders_;
    BrushShaper shaper_;
    // One model at a time, kept to reuse their storage: the geometry handed
    // over, and what matching knows of its sides and their windings.
    ModelGeometry geometry_;
    std::vector<FaceWinding> faces_;
    std::vector<Vec3> windings_;
    TriangleMatch match_;
    TextureFit fit_;
    Prefault sidesAhead_, facesAhead_, windingsAhead_;
};

Result<Plane> Quake3Reader::plane(std::int64_t index)
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

// Ranges and the cost of a model, before any of it is built.
Result<void> Quake3Reader::checkModel(std::size_t index, Workload &work)
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
Result<void> Quake3Reader::findOpenBrushes()
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

// Which model each entity carries: the world for the first, *N for others;
// each checked before any is built.
Result<std::vector<std::optional<std::size_t>>>
Quake3Reader::modelsOf(const std::vector<Entity> &entities, const ProgressFn &progress)
{
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
            return r.takeError();
        brushTotal += static_cast<std::size_t>(bsp_.models[*modelOf[e]].numBrushes);
    }
    stats_.unusedModels = static_cast<std::size_t>(std::count(used.begin(), used.end(), 0));
    if (progress) {
        progress("reconstruindo " + str(brushTotal) + " brushes de " + str(entities.size()) +
                 " entidades");
        if (stats_.unusedModels > 0)
            progress(str(stats_.unusedModels) + " modelos de brush sem entidade não convertidos");
    }
    return modelOf;
}

Result<void> Quake3Reader::run(const std::vector<Entity> &entities, const ProgressFn &progress)
{
    if (auto r = findOpenBrushes(); !r)
        return r;
    auto modelOf = modelsOf(entities, progress);
    if (!modelOf)
        return modelOf.takeError();
    MapInfo info;
    info.game = "Quake 3";
    info.valveFormat = "Quake3 (Valve)";
    info.defaultScale = 0.5;
    info.textEstimate =
        bsp_.brushSides.size() * 140 + bsp_.vertices.size() * 20 + bsp_.entities.size() * 2;
    sink_.begin(info);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const std::optional<std::size_t> model = (*modelOf)[e];
        Vec3 origin;
        if (model && e > 0) {
            const std::string_view text = entities[e].value("origin");
            if (!text.empty()) {
                auto parsed = parseOrigin(text);
                if (!parsed)
                    return fail("entidade " + str(e) + ": \"origin\" inválida");
                origin = *parsed;
            }
        }
        if (model)
            if (auto r = readModel(*model, origin); !r)
                return r;
        sink_.entity({entities[e].pairs, model && e > 0}, model ? &geometry_ : nullptr);
    }
    stats_.entities = entities.size();
    if (progress && stats_.skippedBrushes > 0)
        progress(str(stats_.skippedBrushes) + " brushes vazios, planos ou abertos omitidos");
    return {};
}

Result<void> Quake3Reader::readModel(std::size_t index, Vec3 origin)
{
    const RawModel model = bsp_.models[index];
    match_.findDrawn(bsp_, shaders_, model, options_.fitTextures);
    if (auto r = buildBrushes(model, origin, index == 0); !r)
        return r;
    if (options_.fitTextures) {
        if (auto r = match_.collect(bsp_, shaders_, model, origin); !r)
            return r;
        if (auto r = match_.match(geometry_.sides, faces_, windings_); !r)
            return r;
        fit_.run(match_, geometry_.sides, geometry_.matrices, stats_);
    }
    geometry_.origin = origin;
    geometry_.textureNames = shaders_.writtenNames();
    return readPatches(model);
}

Result<void> Quake3Reader::buildBrushes(const RawModel &model, Vec3 origin, bool world)
{
    geometry_.sides.clear();
    geometry_.brushes.clear();
    geometry_.matrices.clear();
    faces_.clear();
    windings_.clear();
    const std::int64_t end = std::int64_t(model.firstBrush) + model.numBrushes;
    std::size_t sideCount = 0;
    for (std::int64_t b = model.firstBrush; b < end; ++b)
        sideCount += static_cast<std::size_t>(bsp_.brushes[static_cast<std::size_t>(b)].numSides);
    geometry_.sides.reserve(sideCount);
    faces_.reserve(sideCount);
    geometry_.brushes.reserve(static_cast<std::size_t>(model.numBrushes));
    // Pages are touched only as used: a generous reserve spares the copies
    // (and fresh pages) of growing.
    windings_.reserve(sideCount * 5);
    for (std::int64_t b = model.firstBrush; b < end; ++b) {
        const RawBrush brush = bsp_.brushes[static_cast<std::size_t>(b)];
        if (auto r = shaders_.check(brush.shader, "brush", static_cast<std::size_t>(b)); !r)
            return r;
        ahead(sidesAhead_, geometry_.sides);
        ahead(facesAhead_, faces_);
        ahead(windingsAhead_, windings_);
        if (auto r = collectSides(brush, origin); !r)
            return r;
        if (!shaper_.shape()) {
            ++stats_.skippedBrushes;
            continue;
        }
        const auto firstSide = static_cast<std::uint32_t>(geometry_.sides.size());
        for (std::size_t i = 0; i < shaper_.sideCount(); ++i)
            if (shaper_.kept(i))
                addSide(i);
        const std::int32_t contents =
            bsp_.shaders[static_cast<std::size_t>(brush.shader)].contentFlags;
        const bool detail =
            (contents & kDetailContents) ||
            (world && openBrushes_[static_cast<std::size_t>(b)] && opaque(contents));
        const auto sides = static_cast<std::uint32_t>(geometry_.sides.size()) - firstSide;
        for (std::uint32_t i = firstSide; i < firstSide + sides; ++i)
            geometry_.sides[i].contents = detail ? kDetailContents : 0;
        geometry_.brushes.push_back({firstSide, sides, detail});
    }
    return {};
}

// The brush's sides, a plane once, and the origin applied.
Result<void> Quake3Reader::collectSides(const RawBrush &brush, Vec3 origin)
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
        if (auto r = shaders_.check(raw.shader, "lado", sideIndex); !r)
            return r;
        Plane world = *p;
        world.dist += dot(world.normal, origin);
        const BrushShaper::Added added = shaper_.add(world, raw.plane);
        if (!added.merged)
            sideShaders_.push_back(raw.shader);
        else if (shaders_.name(static_cast<std::size_t>(sideShaders_[added.side])) == "noshader" &&
                 shaders_.name(static_cast<std::size_t>(raw.shader)) != "noshader")
            sideShaders_[added.side] = raw.shader;
    }
    return {};
}

void Quake3Reader::addSide(std::size_t i)
{
    MapSide side;
    side.plane = shaper_.plane(i);
    side.texture = static_cast<std::uint32_t>(sideShaders_[i]);
    FaceWinding face;
    face.canonShader = shaders_.canonical(side.texture);
    face.firstPoint = static_cast<std::uint32_t>(windings_.size());
    face.pointCount = 0;
    face.turn = 1;
    // Only faces that triangles may match keep their windings.
    if (shaper_.wide(i) && match_.drawn(face.canonShader)) {
        const std::span<const Vec3> w = shaper_.corners(i);
        face.pointCount = static_cast<std::uint32_t>(w.size());
        windings_.insert(windings_.end(), w.begin(), w.end());
        Vec3 turn;
        for (std::size_t k = 1; k + 1 < w.size(); ++k)
            turn = turn + cross(w[k] - w[0], w[k + 1] - w[0]);
        face.turn = dot(turn, side.plane.normal) >= 0 ? 1 : -1;
    }
    side.points = shaper_.points(i);
    geometry_.sides.push_back(side);
    faces_.push_back(face);
}

// The model's patches, checked; triangle soups are only counted.
Result<void> Quake3Reader::readPatches(const RawModel &model)
{
    geometry_.patches.clear();
    geometry_.patchPoints.clear();
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
        if (auto r = shaders_.check(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
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
        geometry_.patches.push_back({static_cast<std::uint32_t>(surface.shader),
                                     static_cast<std::uint32_t>(geometry_.patchPoints.size()),
                                     static_cast<std::int32_t>(width),
                                     static_cast<std::int32_t>(height)});
        for (std::int64_t v = 0; v < width * height; ++v) {
            if (auto r = checkVertex(bsp_, surface.firstVert + v); !r)
                return r;
            const RawVertex raw = bsp_.vertices[static_cast<std::size_t>(surface.firstVert + v)];
            geometry_.patchPoints.push_back(
                {{raw.xyz[0], raw.xyz[1], raw.xyz[2]}, {raw.st[0], raw.st[1]}});
        }
    }
    return {};
}

} // namespace

Result<void> readQuake3(std::span<const std::byte> data, const ReadOptions &options,
                        MapSink &sink, ConvertStats &stats, const ProgressFn &progress)
{
    auto bsp = readBsp(data);
    if (!bsp)
        return bsp.takeError();
    auto entities = parseEntities(bsp->entities);
    if (!entities)
        return entities.takeError();
    stats.version = bsp->version;
    if (progress)
        progress("IBSP " + std::to_string(bsp->version) + (bsp->extraLump ? " (18 lumps)" : "") +
                 ": " + str(entities->size()) + " entidades, " + str(bsp->models.size()) +
                 " modelos, " + str(bsp->brushes.size()) + " brushes, " +
                 str(bsp->brushSides.size()) + " lados, " + str(bsp->surfaces.size()) +
                 " superfícies");
    Quake3Reader reader(*bsp, options, sink, stats);
    return reader.run(*entities, progress);
}

} // namespace bsp2map
