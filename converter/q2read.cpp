#include "q2read.h"

#include "brushes.h"
#include "entities.h"
#include "q2bsp.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace bsp2map {
namespace {

std::string str(std::int64_t n)
{
    return std::to_string(n);
}

// The stock Quake 2 textures of the sides the reader makes itself.
constexpr std::string_view kOriginTexture = "e1u1/origin";
constexpr std::string_view kClipTexture = "e1u1/clip";

bool rotating(const Entity &entity)
{
    const std::string_view name = entity.value("classname");
    return name == "func_rotating" || name == "func_door_rotating";
}

std::optional<std::int64_t> wholeNumber(std::string_view text)
{
    std::int64_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return n;
}

class Quake2Reader {
public:
    Quake2Reader(const Q2Bsp &bsp, MapSink &sink, ConvertStats &stats)
        : bsp_(bsp)
        , sink_(sink)
        , stats_(stats)
        , planeChecked_(bsp.planes.size(), 0)
        , texChecked_(bsp.texInfo.size(), 0)
        , names_(bsp.texInfo.size() + 2)
        , nodeSeen_(bsp.nodes.size(), 0)
        , brushSeen_(bsp.brushes.size(), 0)
        , owner_(bsp.brushes.size(), kWorld)
        , modelBrushes_(bsp.models.size())
    {
        names_[originTexture()] = kOriginTexture;
        names_[clipTexture()] = kClipTexture;
    }

    Result<void> run(const std::vector<Entity> &entities, const ProgressFn &progress);

private:
    static constexpr std::size_t kWorld = SIZE_MAX;
    struct Work {
        std::uint64_t steps = 0, listed = 0, sides = 0, clips = 0;
    };

    std::uint32_t originTexture() const { return static_cast<std::uint32_t>(names_.size() - 2); }
    std::uint32_t clipTexture() const { return static_cast<std::uint32_t>(names_.size() - 1); }
    Result<Plane> plane(std::int64_t index);
    Result<void> checkTexInfo(std::int64_t index, std::size_t side);
    Result<void> walkModel(std::size_t model, Work &work);
    Result<void> visitLeaf(std::int64_t leaf, std::uint32_t stamp, std::vector<std::uint32_t> &out,
                           Work &work);
    Result<void> checkBrushes(std::size_t model, Work &work);
    Result<void> placePortals(const std::vector<Entity> &entities, const ProgressFn &progress);
    Result<std::int64_t> portalOf(std::uint32_t brush);
    Result<std::int64_t> areaAt(Vec3 point);
    Result<bool> shapeBrush(std::uint32_t brush, Vec3 origin);
    Result<void> addBrush(std::uint32_t brush, Vec3 origin);
    void addSide(std::size_t i, std::int32_t contents, std::uint32_t fallback, Vec3 origin);
    Result<bool> buildEntity(std::size_t e, const Entity &entity, std::optional<std::size_t> model);

    const Q2Bsp &bsp_;
    MapSink &sink_;
    ConvertStats &stats_;
    std::vector<std::int8_t> planeChecked_, texChecked_;
    // Texinfo names as written, then the origin and the clip texture.
    std::vector<std::string_view> names_;
    // The last walk that met each node and each brush.
    std::vector<std::uint32_t> nodeSeen_, brushSeen_;
    std::vector<std::int64_t> stack_;
    // The entity an area portal brush goes to; the others stay where their model is.
    std::vector<std::size_t> owner_;
    std::vector<std::pair<std::size_t, std::uint32_t>> portals_; // entity, brush, by entity
    std::vector<std::vector<std::uint32_t>> modelBrushes_; // of each model used, in lump order
    std::vector<std::int16_t> sideTexInfo_;                // of each side of the brush being shaped
    BrushShaper shaper_;
    ModelGeometry geometry_;
};

Result<Plane> Quake2Reader::plane(std::int64_t index)
{
    if (!bsp_.planes.contains(index))
        return fail("plano " + str(index) + " fora do intervalo (0.." +
                    str(std::int64_t(bsp_.planes.size())) + ")");
    const Q2Plane raw = bsp_.planes[static_cast<std::size_t>(index)];
    const Plane p{{raw.normal[0], raw.normal[1], raw.normal[2]}, raw.dist};
    auto &state = planeChecked_[static_cast<std::size_t>(index)];
    if (state == 0)
        state = isFinite(p.normal) && std::isfinite(p.dist) && std::abs(length(p.normal) - 1) < 0.01
                    ? 1
                    : -1;
    if (state < 0)
        return fail("plano " + str(index) + " inválido (normal não unitária ou número não finito)");
    return p;
}

Result<void> Quake2Reader::checkTexInfo(std::int64_t index, std::size_t side)
{
    if (index == -1)
        return {};
    if (!bsp_.texInfo.contains(index))
        return fail("lado " + str(std::int64_t(side)) + ": texinfo " + str(index) +
                    " fora do intervalo (0.." + str(std::int64_t(bsp_.texInfo.size())) + ")");
    const auto i = static_cast<std::size_t>(index);
    if (texChecked_[i] == 0) {
        const Q2TexInfo info = bsp_.texInfo[i];
        double sum = 0;
        for (const auto &row : info.vecs)
            for (const float v : row)
                sum += v;
        // Where it lies in the file, so that it outlives the record's copy.
        names_[i] =
            std::string_view(reinterpret_cast<const char *>(bsp_.texInfo.recordAddress(i)) + 40,
                             texInfoName(info).size());
        texChecked_[i] = !std::isfinite(sum) ? -2 : writableName(names_[i]) ? 1 : -1;
    }
    if (texChecked_[i] == -2)
        return fail("texinfo " + str(index) + " com número não finito");
    if (texChecked_[i] < 0)
        return fail("texinfo " + str(index) +
                    ": nome de textura vazio ou com espaços, aspas "
                    "ou controles");
    return {};
}

// The brushes the leaves of a model's tree list, each once, in the lump's order.
Result<void> Quake2Reader::walkModel(std::size_t model, Work &work)
{
    const auto stamp = static_cast<std::uint32_t>(model + 1);
    std::vector<std::uint32_t> &out = modelBrushes_[model];
    stack_.assign(1, bsp_.models[model].headNode);
    while (!stack_.empty()) {
        const std::int64_t child = stack_.back();
        stack_.pop_back();
        if (child < 0) {
            if (auto r = visitLeaf(-1 - child, stamp, out, work); !r)
                return r;
            continue;
        }
        if (!bsp_.nodes.contains(child))
            return fail("modelo " + str(std::int64_t(model)) + ": nó " + str(child) +
                        " fora do intervalo (0.." + str(std::int64_t(bsp_.nodes.size())) + ")");
        // A tree meets each node once: a second time is a cycle, which would never end.
        auto &seen = nodeSeen_[static_cast<std::size_t>(child)];
        if (seen == stamp)
            return fail("modelo " + str(std::int64_t(model)) +
                        ": a árvore passa duas vezes pelo nó " + str(child) + " (ciclo)");
        seen = stamp;
        const Q2Node node = bsp_.nodes[static_cast<std::size_t>(child)];
        stack_.push_back(node.children[1]);
        stack_.push_back(node.children[0]);
        // Models do not share nodes: walks that add up to more ask for work out of all
        // proportion to the file.
        if (++work.steps > 4 * (bsp_.nodes.size() + bsp_.leaves.size()) + 4096)
            return fail("modelos repetem a árvore além do razoável");
    }
    std::sort(out.begin(), out.end());
    return {};
}

Result<void> Quake2Reader::visitLeaf(std::int64_t index, std::uint32_t stamp,
                                     std::vector<std::uint32_t> &out, Work &work)
{
    if (!bsp_.leaves.contains(index))
        return fail("folha " + str(index) + " fora do intervalo (0.." +
                    str(std::int64_t(bsp_.leaves.size())) + ")");
    const Q2Leaf leaf = bsp_.leaves[static_cast<std::size_t>(index)];
    if (!bsp_.leafBrushes.containsRange(leaf.firstLeafBrush, leaf.numLeafBrushes))
        return fail("folha " + str(index) + ": brushes fora do intervalo");
    work.listed += leaf.numLeafBrushes;
    if (work.listed > 4 * bsp_.leafBrushes.size() + 4096)
        return fail("folhas repetem brushes além do razoável");
    for (std::size_t k = 0; k < leaf.numLeafBrushes; ++k) {
        const std::uint16_t b = bsp_.leafBrushes[leaf.firstLeafBrush + k];
        if (!bsp_.brushes.contains(b))
            return fail("folha " + str(index) + ": brush " + str(b) + " fora do intervalo (0.." +
                        str(std::int64_t(bsp_.brushes.size())) + ")");
        if (brushSeen_[b] != stamp)
            out.push_back(b);
        brushSeen_[b] = stamp;
    }
    return {};
}

// Ranges and the cost of a model's brushes, before any of it is built.
Result<void> Quake2Reader::checkBrushes(std::size_t model, Work &work)
{
    for (const std::uint32_t b : modelBrushes_[model]) {
        const Q2Brush brush = bsp_.brushes[b];
        if (!bsp_.brushSides.containsRange(brush.firstSide, brush.numSides))
            return fail("brush " + str(b) + ": lados fora do intervalo");
        work.sides += static_cast<std::uint64_t>(brush.numSides);
        work.clips += std::uint64_t(brush.numSides) * std::uint64_t(brush.numSides);
        if (work.sides > 4 * bsp_.brushSides.size() + 4096 || work.clips > kMaxClipWork)
            return fail("brushes ou modelos repetem lados além do razoável");
    }
    return {};
}

// The brush's planes, each once, moved out to `origin`; false when no solid is left.
Result<bool> Quake2Reader::shapeBrush(std::uint32_t b, Vec3 origin)
{
    const Q2Brush brush = bsp_.brushes[b];
    shaper_.clear();
    sideTexInfo_.clear();
    for (std::int32_t s = 0; s < brush.numSides; ++s) {
        const std::size_t index = static_cast<std::size_t>(brush.firstSide) + s;
        const Q2BrushSide raw = bsp_.brushSides[index];
        auto p = plane(raw.plane);
        if (!p)
            return fail("lado " + str(std::int64_t(index)) + ": " + p.error().message);
        if (auto r = checkTexInfo(raw.texInfo, index); !r)
            return r.takeError();
        Plane moved = *p;
        moved.dist += dot(moved.normal, origin);
        const BrushShaper::Added added = shaper_.add(moved, raw.plane);
        // A plane given twice is one side, textured if either is.
        if (!added.merged)
            sideTexInfo_.push_back(raw.texInfo);
        else if (sideTexInfo_[added.side] < 0)
            sideTexInfo_[added.side] = raw.texInfo;
    }
    return shaper_.shape();
}

Result<void> Quake2Reader::addBrush(std::uint32_t b, Vec3 origin)
{
    auto shaped = shapeBrush(b, origin);
    if (!shaped)
        return shaped.takeError();
    if (!*shaped) {
        ++stats_.skippedBrushes;
        return {};
    }
    // A side the compiler made no face for may still be needed to close the solid: it
    // shows the brush's own texture, drawn nowhere.
    const auto textured = std::find_if(sideTexInfo_.begin(), sideTexInfo_.end(),
                                       [](std::int16_t t) { return t >= 0; });
    const std::uint32_t fallback =
        textured == sideTexInfo_.end() ? clipTexture() : static_cast<std::uint32_t>(*textured);
    const std::int32_t contents = bsp_.brushes[b].contents;
    const auto first = static_cast<std::uint32_t>(geometry_.sides.size());
    for (std::size_t i = 0; i < shaper_.sideCount(); ++i)
        if (shaper_.kept(i))
            addSide(i, contents, fallback, origin);
    const auto count = static_cast<std::uint32_t>(geometry_.sides.size()) - first;
    geometry_.brushes.push_back({first, count, (contents & q2::kDetail) != 0});
    return {};
}

void Quake2Reader::addSide(std::size_t i, std::int32_t contents, std::uint32_t fallback,
                           Vec3 origin)
{
    MapSide side;
    side.plane = shaper_.plane(i);
    side.points = shaper_.points(i);
    side.contents = contents;
    const std::int16_t t = sideTexInfo_[i];
    if (t < 0) {
        side.texture = fallback;
        side.flags = q2::kNoDraw;
        geometry_.sides.push_back(side);
        return;
    }
    const Q2TexInfo info = bsp_.texInfo[static_cast<std::size_t>(t)];
    side.texture = static_cast<std::uint32_t>(t);
    side.flags = info.flags;
    side.value = info.value;
    // The compiler keeps a model's texture offsets about its origin, as its planes.
    TexelAxes axes;
    for (int r = 0; r < 2; ++r) {
        axes.axis[r] = {info.vecs[r][0], info.vecs[r][1], info.vecs[r][2]};
        axes.offset[r] = double(info.vecs[r][3]) - dot(axes.axis[r], origin);
    }
    side.mapping = {MappingKind::Axes, static_cast<std::uint32_t>(geometry_.axes.size())};
    geometry_.axes.push_back(axes);
    geometry_.sides.push_back(side);
}

// Which area a point is in, by the world's tree.
Result<std::int64_t> Quake2Reader::areaAt(Vec3 point)
{
    std::int64_t n = bsp_.models[0].headNode;
    // The world's tree was walked without a cycle; a path is no longer than its nodes.
    for (std::size_t steps = 0; n >= 0 && steps <= bsp_.nodes.size(); ++steps) {
        const Q2Node node = bsp_.nodes[static_cast<std::size_t>(n)];
        auto p = plane(node.plane);
        if (!p)
            return fail("nó " + str(n) + ": " + p.error().message);
        n = node.children[p->distanceTo(point) >= 0 ? 0 : 1];
        if (n >= 0 && !bsp_.nodes.contains(n))
            return fail("nó " + str(n) + " fora do intervalo");
    }
    if (n >= 0 || !bsp_.leaves.contains(-1 - n))
        return fail("a árvore do mundo não leva a uma folha");
    return bsp_.leaves[static_cast<std::size_t>(-1 - n)].area;
}

// The portal between the two areas that points just outside the brush's faces are in,
// or -1 for none.
Result<std::int64_t> Quake2Reader::portalOf(std::uint32_t b)
{
    auto shaped = shapeBrush(b, {});
    if (!shaped)
        return shaped.takeError();
    std::int64_t areas[2] = {-1, -1};
    for (std::size_t i = 0; *shaped && i < shaper_.sideCount(); ++i) {
        const std::span<const Vec3> corners = shaper_.corners(i);
        if (!shaper_.kept(i) || corners.empty())
            continue;
        Vec3 centre;
        for (const Vec3 &c : corners)
            centre = centre + c * (1.0 / double(corners.size()));
        auto area = areaAt(centre + shaper_.plane(i).normal);
        if (!area)
            return area.takeError();
        if (*area <= 0 || *area == areas[0] || *area == areas[1])
            continue;
        if (areas[1] >= 0)
            return -1; // more than two
        areas[areas[0] >= 0] = *area;
    }
    if (areas[1] < 0 || !bsp_.areas.contains(areas[0]))
        return -1;
    const Q2Area area = bsp_.areas[static_cast<std::size_t>(areas[0])];
    if (!bsp_.areaPortals.containsRange(area.firstPortal, area.numPortals))
        return fail("área " + str(areas[0]) + ": portais fora do intervalo");
    for (std::int32_t k = 0; k < area.numPortals; ++k) {
        const Q2AreaPortal portal =
            bsp_.areaPortals[static_cast<std::size_t>(area.firstPortal) + k];
        if (portal.otherArea == areas[1])
            return portal.portal;
    }
    return -1;
}

// Area portal brushes go back from the world to the func_areaportal whose
// "style" numbers their portal.
Result<void> Quake2Reader::placePortals(const std::vector<Entity> &entities,
                                        const ProgressFn &progress)
{
    std::size_t left = 0;
    for (const std::uint32_t b : modelBrushes_[0]) {
        if (!(bsp_.brushes[b].contents & q2::kAreaPortal))
            continue;
        auto portal = portalOf(b);
        if (!portal)
            return portal.takeError();
        for (std::size_t e = 1; e < entities.size() && *portal >= 0; ++e)
            if (entities[e].value("classname") == "func_areaportal" &&
                wholeNumber(entities[e].value("style")) == *portal) {
                owner_[b] = e;
                portals_.push_back({e, b});
                break;
            }
        left += owner_[b] == kWorld;
    }
    std::stable_sort(portals_.begin(), portals_.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    if (progress && left > 0)
        progress(str(std::int64_t(left)) + " brushes de area portal sem func_areaportal " +
                 "ficam no worldspawn");
    return {};
}

// The entity's brushes: its model's, its portal brushes, its origin brush.
// False when it has none to carry.
Result<bool> Quake2Reader::buildEntity(std::size_t e, const Entity &entity,
                                       std::optional<std::size_t> model)
{
    geometry_.sides.clear();
    geometry_.brushes.clear();
    geometry_.axes.clear();
    geometry_.origin = {};
    geometry_.textureNames = names_;
    if (model && e > 0 && !entity.value("origin").empty()) {
        auto origin = parseOrigin(entity.value("origin"));
        if (!origin)
            return fail("entidade " + str(std::int64_t(e)) + ": \"origin\" inválida");
        geometry_.origin = *origin;
    }
    bool carries = model.has_value();
    for (const std::uint32_t b :
         model ? std::span(modelBrushes_[*model]) : std::span<std::uint32_t>())
        if (owner_[b] == kWorld)
            if (auto r = addBrush(b, geometry_.origin); !r)
                return r.takeError();
    const auto own =
        std::equal_range(portals_.begin(), portals_.end(), std::pair(e, 0u),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto at = own.first; at != own.second; ++at) {
        carries = true;
        if (auto r = addBrush(at->second, {}); !r)
            return r.takeError();
    }
    if (model && e > 0 && rotating(entity))
        addOriginBrush(shaper_, geometry_, geometry_.origin, originTexture(), q2::kOrigin);
    return carries;
}

Result<void> Quake2Reader::run(const std::vector<Entity> &entities, const ProgressFn &progress)
{
    const auto modelOf = modelsOf(entities, bsp_.models.size());
    std::vector<char> walked(bsp_.models.size(), 0);
    Work work;
    std::size_t brushTotal = 0;
    for (const auto &m : modelOf) {
        if (!m)
            continue;
        if (!walked[*m])
            if (auto r = walkModel(*m, work); !r)
                return r;
        walked[*m] = 1;
        if (auto r = checkBrushes(*m, work); !r)
            return r;
        brushTotal += modelBrushes_[*m].size();
    }
    stats_.unusedModels = static_cast<std::size_t>(std::count(walked.begin(), walked.end(), 0));
    if (progress) {
        progress("reconstruindo " + str(std::int64_t(brushTotal)) + " brushes de " +
                 str(std::int64_t(entities.size())) + " entidades");
        if (stats_.unusedModels > 0)
            progress(str(std::int64_t(stats_.unusedModels)) +
                     " modelos de brush sem entidade não convertidos");
    }
    if (auto r = placePortals(entities, progress); !r)
        return r;
    MapInfo info;
    info.game = "Quake 2";
    info.valveFormat = "Quake2 (Valve)";
    info.textEstimate = bsp_.brushSides.size() * 140 + bsp_.entities.size() * 2;
    sink_.begin(info);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        auto carries = buildEntity(e, entities[e], modelOf[e]);
        if (!carries)
            return carries.takeError();
        const std::size_t written = stats_.brushes;
        sink_.entity({entities[e].pairs, modelOf[e] && e > 0}, *carries ? &geometry_ : nullptr);
        // The origin brush is the converter's own, not one of the map's.
        if (modelOf[e] && e > 0 && rotating(entities[e]) && stats_.brushes > written)
            --stats_.brushes;
    }
    stats_.entities = entities.size();
    if (progress && stats_.skippedBrushes > 0)
        progress(str(std::int64_t(stats_.skippedBrushes)) +
                 " brushes vazios, planos ou abertos omitidos");
    return {};
}

} // namespace

Result<void> readQuake2(std::span<const std::byte> data, MapSink &sink, ConvertStats &stats,
                        const ProgressFn &progress)
{
    auto bsp = readQ2Bsp(data);
    if (!bsp)
        return bsp.takeError();
    auto entities = parseEntities(bsp->entities);
    if (!entities)
        return entities.takeError();
    stats.version = 38;
    if (progress)
        progress("IBSP 38 (Quake 2): " + str(std::int64_t(entities->size())) + " entidades, " +
                 str(std::int64_t(bsp->models.size())) + " modelos, " +
                 str(std::int64_t(bsp->brushes.size())) + " brushes, " +
                 str(std::int64_t(bsp->brushSides.size())) + " lados");
    Quake2Reader reader(*bsp, sink, stats);
    return reader.run(*entities, progress);
}

} // namespace bsp2map
