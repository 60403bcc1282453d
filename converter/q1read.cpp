#include "q1read.h"

#include "brushes.h"
#include "entities.h"
#include "q1bsp.h"
#include "treecells.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace bsp2map {
namespace {

std::string str(std::int64_t n)
{
    return std::to_string(n);
}

// Less shared area than this is faces meeting at an edge, not a face on a side.
constexpr double kMinOverlap = 1e-2;
// How many times a cell may be cut so that each side shows one texture.
constexpr int kMaxCuts = 64;

bool liquid(std::int32_t contents)
{
    return (contents <= q1::kWater && contents >= q1::kLava) || (contents <= -9 && contents >= -14);
}

struct FacePolygon {
    Winding points;
    Vec3 mins, maxs;
    std::int32_t texInfo;
    std::size_t face; // in the file
    double area = 0;
};

Vec3 centreOf(const Winding &w)
{
    Vec3 c;
    for (const Vec3 &p : w)
        c = c + p * (1.0 / double(w.size()));
    return c;
}

// The plane through w's edge from w[i] to the next corner, upright on the
// polygon's plane, w behind it.
Plane edgePlane(const Winding &w, std::size_t i, Vec3 normal, Vec3 centre)
{
    const Vec3 p = w[i], q = w[(i + 1) % w.size()];
    Vec3 e = cross(q - p, normal);
    const double len = length(e);
    if (len < 1e-9)
        return {{}, 0};
    e = e * (1 / len);
    Plane edge{e, dot(e, p)};
    return edge.distanceTo(centre) > 0 ? Plane{e * -1, -edge.dist} : edge;
}

// The planes of a convex polygon's edges, upright on it, the polygon behind them.
void edgePlanes(const Winding &w, Vec3 normal, std::vector<Plane> &out)
{
    out.clear();
    const Vec3 centre = centreOf(w);
    for (std::size_t i = 0; i < w.size(); ++i)
        if (const Plane edge = edgePlane(w, i, normal, centre); length(edge.normal) > 0)
            out.push_back(edge);
}

// The area of a within the edges of a convex polygon on its plane. Most faces
// lie wholly within a side or wholly beyond one of its edges: no clipping then.
double overlap(const Winding &a, double area, std::span<const Plane> edges, ClipBuffers &clip)
{
    bool within = true;
    for (const Plane &edge : edges) {
        bool allBeyond = true;
        for (const Vec3 &p : a) {
            const double d = edge.distanceTo(p);
            allBeyond &= d > 1e-3;
            within &= d <= 1e-3;
        }
        if (allBeyond)
            return 0;
    }
    if (within)
        return area;
    // Each clip adds a corner at most: the buffers hold any face against any side.
    if (a.size() + edges.size() > std::size(clip.dists))
        return 0;
    const Vec3 *in = a.data();
    std::size_t count = a.size(), next = 0;
    for (std::size_t i = 0; i < edges.size() && count >= 3; ++i) {
        Vec3 *out = clip.ping[next];
        const std::size_t kept =
            clipToBack(in, count, edges[i], axisOf(edges[i]), 1e-3, out, clip.dists);
        if (kept != kUnclipped) {
            in = out;
            count = kept;
            next ^= 1;
        }
    }
    return count >= 3 ? windingArea(std::span(in, count)) : 0;
}

// A plane upright on two faces' plane with one on each side: the line of
// one's edges that has the other wholly beyond it.
std::optional<Plane> between(const Winding &a, const Winding &b, Vec3 normal)
{
    for (const auto &[near, far] : {std::pair(&a, &b), std::pair(&b, &a)}) {
        const Vec3 centre = centreOf(*near);
        for (std::size_t i = 0; i < near->size(); ++i) {
            const Plane edge = edgePlane(*near, i, normal, centre);
            if (std::all_of(far->begin(), far->end(),
                            [&](const Vec3 &p) { return edge.distanceTo(p) >= -1e-3; }))
                return edge;
        }
    }
    return std::nullopt;
}

class Quake1Reader {
public:
    Quake1Reader(const Q1Bsp &bsp, MapSink &sink, ConvertStats &stats)
        : bsp_(bsp)
        , sink_(sink)
        , stats_(stats)
        , names_(bsp.textureNames)
        , texChecked_(bsp.texInfo.size(), 0)
        , placed_(bsp.faces.size(), 0)
        , nextCut_(static_cast<std::int32_t>(bsp.planes.size() * 2))
    {
        // Texinfos alike are one texture on the faces: a side may show both.
        std::unordered_map<std::string_view, std::int32_t> first;
        for (std::size_t i = 0; i < bsp.texInfo.size(); ++i) {
            const std::string_view record(
                reinterpret_cast<const char *>(bsp.texInfo.recordAddress(i)), sizeof(Q1TexInfo));
            sameTexInfo_.push_back(first.try_emplace(record, std::int32_t(i)).first->second);
        }
        const bool hl = bsp.halfLife();
        // Hidden sides, origin brushes, and the liquids and sky of a volume that shows none.
        for (const std::string_view name :
             {hl ? "SKIP" : "skip", hl ? "ORIGIN" : "origin", hl ? "!water" : "*water0",
              hl ? "!slime" : "*slime0", hl ? "!lava" : "*lava1", hl ? "sky" : "sky1"})
            names_.push_back(name);
    }

    Result<void> run(const std::vector<Entity> &entities, const ProgressFn &progress);

private:
    std::uint32_t extra(int k) const
    {
        return static_cast<std::uint32_t>(bsp_.textureNames.size() + std::size_t(k));
    }
    Result<void> checkTexInfo(std::int32_t index);
    Result<void> loadFaces(std::size_t model);
    std::optional<Plane> labelSides(Cell &cell);
    void labelAll();
    std::uint32_t hiddenTexture(const Cell &cell) const;
    void addBrush(const Cell &cell, Vec3 origin);
    Result<bool> buildEntity(std::size_t e, const Entity &entity, std::optional<std::size_t> model);

    const Q1Bsp &bsp_;
    MapSink &sink_;
    ConvertStats &stats_;
    std::vector<std::string_view> names_; // the miptex names, then the reader's own
    std::vector<std::int8_t> texChecked_;
    std::vector<std::int32_t> sameTexInfo_; // the first texinfo with the same record
    std::vector<FacePolygon> faces_;        // the model's
    // The faces on each plane, by plane key, in the order of where they start
    // along an axis across the plane, and how far the longest reaches along it.
    struct OnPlane {
        std::vector<std::uint32_t> faces;
        int axis = 0;
        double longest = 0;
    };
    std::unordered_map<std::int32_t, OnPlane> facesOn_;
    std::vector<char> placed_;
    TreeCells tree_;
    BrushShaper shaper_;
    std::vector<std::size_t> sideOf_; // the cell side of each shaper side
    ModelGeometry geometry_;
    std::int32_t nextCut_;
    std::uint64_t steps_ = 0;
    std::size_t facesSeen_ = 0;
    std::vector<const FacePolygon *> shown_; // on the side being labelled
    std::vector<Plane> edges_;               // of the side being labelled
    std::vector<std::int32_t> axesOf_;       // each texinfo's in the entity's axes, or -1
    ClipBuffers clip_;
};

Result<void> Quake1Reader::checkTexInfo(std::int32_t index)
{
    if (!bsp_.texInfo.contains(index))
        return fail("texinfo " + str(index) + " fora do intervalo (0.." +
                    str(std::int64_t(bsp_.texInfo.size())) + ")");
    auto &state = texChecked_[static_cast<std::size_t>(index)];
    if (state == 0) {
        const Q1TexInfo info = bsp_.texInfo[static_cast<std::size_t>(index)];
        double sum = 0;
        for (const auto &row : info.vecs)
            for (const float v : row)
                sum += v;
        const bool inRange = info.mipTex >= 0 && std::size_t(info.mipTex) < names_.size() - 6;
        state = !std::isfinite(sum)                                         ? -1
                : !inRange                                                  ? -2
                : writableName(bsp_.textureNames[std::size_t(info.mipTex)]) ? 1
                                                                            : -3;
    }
    if (state == -1)
        return fail("texinfo " + str(index) + " com número não finito");
    if (state == -2)
        return fail("texinfo " + str(index) + ": textura fora do intervalo");
    if (state == -3)
        return fail("texinfo " + str(index) +
                    ": textura ausente, ou com nome vazio, com "
                    "espaços, aspas ou controles");
    return {};
}

// The model's faces as polygons, by the plane they face out of.
Result<void> Quake1Reader::loadFaces(std::size_t model)
{
    const Q1Model m = bsp_.models[model];
    faces_.clear();
    facesOn_.clear();
    if (m.firstFace < 0 || m.numFaces < 0 ||
        std::size_t(m.firstFace) + std::size_t(m.numFaces) > bsp_.faces.size())
        return fail("modelo " + str(std::int64_t(model)) + ": faces fora do intervalo");
    for (std::int32_t k = 0; k < m.numFaces; ++k) {
        const std::size_t f = std::size_t(m.firstFace) + std::size_t(k);
        const Q1Face face = bsp_.faces[f];
        const std::string at = "face " + str(std::int64_t(f));
        if (face.plane < 0 || std::size_t(face.plane) >= bsp_.planes.size())
            return fail(at + ": plano fora do intervalo");
        if (!bsp_.surfEdges.containsRange(face.firstEdge, face.numEdges))
            return fail(at + ": arestas fora do intervalo");
        if (auto r = checkTexInfo(face.texInfo); !r)
            return fail(at + ": " + r.error().message);
        FacePolygon polygon{{},
                            {1e30, 1e30, 1e30},
                            {-1e30, -1e30, -1e30},
                            sameTexInfo_[std::size_t(face.texInfo)],
                            f};
        for (std::int32_t e = 0; e < face.numEdges; ++e) {
            const std::int64_t edge = bsp_.surfEdges[std::size_t(face.firstEdge + e)];
            const std::uint64_t which = edge < 0 ? std::uint64_t(-edge) : std::uint64_t(edge);
            if (which >= bsp_.edges.size() ||
                !bsp_.vertices.contains(bsp_.edges[which][edge < 0 ? 1 : 0]))
                return fail(at + ": aresta ou vértice fora do intervalo");
            const auto v = bsp_.vertices[bsp_.edges[which][edge < 0 ? 1 : 0]];
            const Vec3 p{v[0], v[1], v[2]};
            if (!isFinite(p))
                return fail(at + ": vértice com número não finito");
            polygon.points.push_back(p);
            for (int c = 0; c < 3; ++c) {
                polygon.mins[c] = std::min(polygon.mins[c], p[c]);
                polygon.maxs[c] = std::max(polygon.maxs[c], p[c]);
            }
        }
        ++facesSeen_;
        if (polygon.points.size() < 3)
            continue;
        polygon.area = windingArea(polygon.points);
        OnPlane &on = facesOn_[tree_.key(face.plane, face.back)];
        const Vec3 n = bsp_.planes[std::size_t(face.plane)].normal;
        on.axis = std::abs(n.x) < 0.5 ? 0 : 1;
        on.longest = std::max(on.longest, polygon.maxs[on.axis] - polygon.mins[on.axis]);
        on.faces.push_back(std::uint32_t(faces_.size()));
        faces_.push_back(std::move(polygon));
        placed_[f] = 0;
    }
    for (auto &[key, on] : facesOn_)
        std::sort(on.faces.begin(), on.faces.end(), [&, a = on.axis](auto x, auto y) {
            return faces_[x].mins[a] < faces_[y].mins[a];
        });
    return {};
}

// Labels each side with the texinfo of the face it shows most of. Where a
// side shows faces of two, gives a plane between them to cut the cell by.
std::optional<Plane> Quake1Reader::labelSides(Cell &cell)
{
    std::optional<Plane> cut;
    for (CellSide &side : cell.sides) {
        side.label = -1;
        const auto on = facesOn_.find(side.key);
        if (side.key < 0 || on == facesOn_.end())
            continue;
        Vec3 mins{1e30, 1e30, 1e30}, maxs{-1e30, -1e30, -1e30};
        for (const Vec3 &p : side.winding)
            for (int c = 0; c < 3; ++c) {
                mins[c] = std::min(mins[c], p[c]);
                maxs[c] = std::max(maxs[c], p[c]);
            }
        double best = 0;
        const FacePolygon *first = nullptr;
        shown_.clear();
        edges_.clear();
        const OnPlane &along = on->second;
        const int a = along.axis;
        auto from = std::partition_point(along.faces.begin(), along.faces.end(), [&](auto f) {
            return faces_[f].mins[a] < mins[a] - 0.1 - along.longest;
        });
        for (; from != along.faces.end() && faces_[*from].mins[a] <= maxs[a] + 0.1; ++from) {
            const FacePolygon &face = faces_[*from];
            bool apart = false;
            for (int c = 0; c < 3; ++c)
                apart |= face.mins[c] > maxs[c] + 0.1 || face.maxs[c] < mins[c] - 0.1;
            if (apart)
                continue;
            if (edges_.empty())
                edgePlanes(side.winding, side.plane.normal, edges_);
            const double area = overlap(face.points, face.area, edges_, clip_);
            if (area <= kMinOverlap)
                continue;
            shown_.push_back(&face);
            if (first && face.texInfo != first->texInfo && !cut)
                cut = between(first->points, face.points, side.plane.normal);
            if (!first)
                first = &face;
            if (area > best) {
                best = area;
                side.label = face.texInfo;
            }
        }
        for (const FacePolygon *face : shown_)
            placed_[face->face] |= face->texInfo == side.label;
    }
    return cut;
}

// Labels every cell's sides, cutting cells until each side shows one texture.
void Quake1Reader::labelAll()
{
    std::vector<Cell> &cells = tree_.cells();
    std::vector<int> cuts(cells.size(), 0);
    Cell front, back;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        for (;;) {
            const std::optional<Plane> cut = labelSides(cells[i]);
            if (!cut || cuts[i] >= kMaxCuts)
                break;
            splitCell(cells[i], *cut, nextCut_, front, back);
            if (front.sides.size() < 4 || back.sides.size() < 4) {
                // No cut after all: the cell stays whole, but for a sliver.
                cells[i] = std::move(front.sides.size() < back.sides.size() ? back : front);
                break;
            }
            nextCut_ += 2;
            cells[i] = std::move(back);
            ++cuts[i];
            cells.push_back(std::move(front));
            cuts.push_back(cuts[i]);
        }
    }
}

// What a side that shows nothing gets: the neutral texture, or a liquid's or
// the sky's own, since the compiler takes a volume's contents from its textures.
std::uint32_t Quake1Reader::hiddenTexture(const Cell &cell) const
{
    if (!liquid(cell.contents) && cell.contents != q1::kSky)
        return extra(0);
    for (const CellSide &side : cell.sides)
        if (side.label >= 0)
            return std::uint32_t(bsp_.texInfo[std::size_t(side.label)].mipTex);
    if (cell.contents == q1::kSky)
        return extra(5);
    return extra(cell.contents == q1::kSlime ? 3 : cell.contents == q1::kLava ? 4 : 2);
}

void Quake1Reader::addBrush(const Cell &cell, Vec3 origin)
{
    shaper_.clear();
    sideOf_.clear();
    for (std::size_t i = 0; i < cell.sides.size(); ++i) {
        Plane moved = cell.sides[i].plane;
        moved.dist += dot(moved.normal, origin);
        if (!shaper_.add(moved, std::int32_t(i)).merged)
            sideOf_.push_back(i);
    }
    if (!shaper_.shape()) {
        ++stats_.skippedBrushes;
        return;
    }
    const std::uint32_t hidden = hiddenTexture(cell);
    const auto first = static_cast<std::uint32_t>(geometry_.sides.size());
    for (std::size_t i = 0; i < shaper_.sideCount(); ++i) {
        if (!shaper_.kept(i))
            continue;
        MapSide side;
        side.plane = shaper_.plane(i);
        side.points = shaper_.points(i);
        side.texture = hidden;
        const std::int32_t label = cell.sides[sideOf_[i]].label;
        if (label >= 0) {
            const Q1TexInfo info = bsp_.texInfo[std::size_t(label)];
            side.texture = std::uint32_t(info.mipTex);
            // Each texinfo's axes once for the entity.
            std::int32_t &axesAt = axesOf_[std::size_t(label)];
            if (axesAt < 0) {
                // A model's texture offsets are about its origin, as its planes.
                TexelAxes axes;
                for (int r = 0; r < 2; ++r) {
                    axes.axis[r] = {info.vecs[r][0], info.vecs[r][1], info.vecs[r][2]};
                    axes.offset[r] = double(info.vecs[r][3]) - dot(axes.axis[r], origin);
                }
                axesAt = std::int32_t(geometry_.axes.size());
                geometry_.axes.push_back(axes);
            }
            side.mapping = {MappingKind::Axes, std::uint32_t(axesAt)};
        }
        geometry_.sides.push_back(side);
    }
    geometry_.brushes.push_back(
        {first, static_cast<std::uint32_t>(geometry_.sides.size()) - first, false});
}

// The entity's brushes, rebuilt from its model's tree, and its origin brush.
Result<bool> Quake1Reader::buildEntity(std::size_t e, const Entity &entity,
                                       std::optional<std::size_t> model)
{
    geometry_.sides.clear();
    geometry_.brushes.clear();
    geometry_.axes.clear();
    geometry_.origin = {};
    geometry_.textureNames = names_;
    if (!model)
        return false;
    if (e > 0 && !entity.value("origin").empty()) {
        auto origin = parseOrigin(entity.value("origin"));
        if (!origin)
            return fail("entidade " + str(std::int64_t(e)) + ": \"origin\" inválida");
        geometry_.origin = *origin;
    }
    const Q1Model m = bsp_.models[*model];
    // The compiler stores a model's bounds a unit inside its brushes'.
    const Vec3 mins{m.mins[0] - 1.0, m.mins[1] - 1.0, m.mins[2] - 1.0},
        maxs{m.maxs[0] + 1.0, m.maxs[1] + 1.0, m.maxs[2] + 1.0};
    if (!isFinite(mins) || !isFinite(maxs))
        return fail("modelo " + str(std::int64_t(*model)) + ": limites com número não finito");
    const std::uint64_t most = 4 * (bsp_.nodes.size() + bsp_.leafContents.size()) + 4096;
    if (auto r = tree_.build(bsp_.tree(), m.headNode[0], mins, maxs, q1::kEmpty, steps_, most); !r)
        return fail("modelo " + str(std::int64_t(*model)) + ": " + r.error().message);
    if (auto r = loadFaces(*model); !r)
        return r.takeError();
    labelAll();
    // What a large map holds at once: the faces go before the cells are
    // joined, and each cell as soon as it is written.
    faces_ = {};
    facesOn_ = {};
    tree_.merge();
    std::size_t sides = 0;
    for (const Cell &cell : tree_.cells())
        sides += cell.sides.size();
    geometry_.sides.reserve(sides + 6);
    axesOf_.assign(bsp_.texInfo.size(), -1);
    for (Cell &cell : tree_.cells()) {
        addBrush(cell, geometry_.origin);
        cell.sides = {};
    }
    const Vec3 o = geometry_.origin;
    if (e > 0 && (o.x != 0 || o.y != 0 || o.z != 0))
        addOriginBrush(shaper_, geometry_, o, extra(1), 0);
    return true;
}

Result<void> Quake1Reader::run(const std::vector<Entity> &entities, const ProgressFn &progress)
{
    const auto modelOf = modelsOf(entities, bsp_.models.size());
    MapInfo info;
    info.game = bsp_.halfLife() ? "Half-Life" : "Quake";
    info.valveFormat = "Valve";
    info.sideFlags = false;
    info.textEstimate = bsp_.faces.size() * 400 + bsp_.entities.size() * 2;
    sink_.begin(info);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        auto carries = buildEntity(e, entities[e], modelOf[e]);
        if (!carries)
            return carries.takeError();
        const std::size_t written = stats_.brushes;
        sink_.entity({entities[e].pairs, modelOf[e] && e > 0}, *carries ? &geometry_ : nullptr);
        // The origin brush is the converter's own, not one of the map's.
        const Vec3 o = geometry_.origin;
        if (*carries && e > 0 && (o.x != 0 || o.y != 0 || o.z != 0) && stats_.brushes > written)
            --stats_.brushes;
        for (const char p : placed_)
            stats_.texturedFaces += p != 0;
        std::fill(placed_.begin(), placed_.end(), 0);
    }
    stats_.entities = entities.size();
    if (progress && stats_.skippedBrushes > 0)
        progress(str(std::int64_t(stats_.skippedBrushes)) + " brushes planos demais omitidos");
    if (progress)
        progress(str(std::int64_t(stats_.texturedFaces)) + " de " + str(std::int64_t(facesSeen_)) +
                 " faces do BSP no lado de um brush, com sua textura");
    return {};
}

} // namespace

Result<void> readQuake1(std::span<const std::byte> data, MapSink &sink, ConvertStats &stats,
                        const ProgressFn &progress)
{
    auto bsp = readQ1Bsp(data);
    if (!bsp)
        return bsp.takeError();
    auto entities = parseEntities(bsp->entities);
    if (!entities)
        return entities.takeError();
    static constexpr const char *kinds[] = {
        "BSP do Quake (versão 29)", "BSP do Half-Life (versão 30)", "BSP2 (Quake)", "2PSB (Quake)"};
    stats.version = bsp->halfLife() ? 30 : 29;
    if (progress)
        progress(std::string(kinds[int(bsp->kind)]) + ": " + str(std::int64_t(entities->size())) +
                 " entidades, " + str(std::int64_t(bsp->models.size())) + " modelos, " +
                 str(std::int64_t(bsp->leafContents.size())) + " folhas; brushes refeitos " +
                 "da árvore");
    Quake1Reader reader(*bsp, sink, stats);
    return reader.run(*entities, progress);
}

} // namespace bsp2map
