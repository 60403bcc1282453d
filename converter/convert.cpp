#include "convert.h"

#include "bsp.h"
#include "entities.h"
#include "geometry.h"
#include "numbers.h"
#include "texture.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bsp2map {
namespace {

// Points closer than this to a clipping plane count as on it.
constexpr double kClipEpsilon = 1e-3;
// A side bounds a face when its polygon is at least this wide; bevels leave
// slivers of about the clip epsilon, or nothing.
constexpr double kMinFaceWidth = 0.01;
// Triangles match a face within these.
constexpr double kMatchNormalDot = 0.9999;
constexpr double kMatchDist = 0.1;
constexpr double kMatchInside = 0.05;
constexpr double kDistCell = 1.0;
// Clipping every side of a brush by every other costs the square of its side
// count; this bounds what a hostile file can ask for, far above any real map.
constexpr std::uint64_t kMaxClipWork = std::uint64_t(1) << 28;
constexpr std::uint64_t kMaxMatchWork = std::uint64_t(1) << 30;

struct Side {
    std::int32_t planeNum;
    std::int32_t shader;
    Plane plane;
};

struct Face {
    std::int32_t shader;
    std::uint32_t canonShader;
    Plane plane;
    std::uint32_t firstPoint, pointCount; // its winding, in Model::points
    std::array<Vec3, 3> points;           // as written
    Vec3 mapNormal;                       // what an editor computes from them
    TexMatrix tex;
    bool textured = false;
};

struct BuiltBrush {
    std::uint32_t firstFace, faceCount;
    std::uint32_t contents;
};

struct Triangle {
    Vec3 p[3];
    float st[3][2];
};

std::string str(std::size_t n) { return std::to_string(n); }

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

// The three corners of the largest triangle in the polygon.
std::array<Vec3, 3> widestTriangle(const Vec3 *w, std::size_t n)
{
    std::array<std::size_t, 3> best{0, 1, 2};
    double bestArea = -1;
    if (n <= 24) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j)
                for (std::size_t k = j + 1; k < n; ++k) {
                    const double a = length(cross(w[j] - w[i], w[k] - w[i]));
                    if (a > bestArea) {
                        bestArea = a;
                        best = {i, j, k};
                    }
                }
    } else {
        // Farthest pair, then the point farthest from their line.
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                const double d = dot(w[j] - w[i], w[j] - w[i]);
                if (d > bestArea) {
                    bestArea = d;
                    best[0] = i;
                    best[1] = j;
                }
            }
        bestArea = -1;
        for (std::size_t k = 0; k < n; ++k) {
            const double a = length(cross(w[best[1]] - w[best[0]], w[k] - w[best[0]]));
            if (a > bestArea) {
                bestArea = a;
                best[2] = k;
            }
        }
    }
    return {w[best[0]], w[best[1]], w[best[2]]};
}

Vec3 compilerNormal(const std::array<Vec3, 3> &p)
{
    const Vec3 n = cross(p[0] - p[1], p[2] - p[1]);
    const double len = length(n);
    return len > 0 ? n * (1 / len) : Vec3{};
}

// A coordinate within a hair of a whole number is written as that number when
// the plane still comes out the same: the map reads as the mapper made it.
void snapPoints(std::array<Vec3, 3> &p, const Plane &plane)
{
    std::array<Vec3, 3> snapped = p;
    bool changed = false;
    for (Vec3 &v : snapped)
        for (int k = 0; k < 3; ++k) {
            const double r = std::round(v[k]);
            if (r != v[k] && std::abs(r - v[k]) < 1e-4) {
                v[k] = r;
                changed = true;
            }
        }
    if (!changed)
        return;
    const Vec3 n = compilerNormal(snapped);
    for (int k = 0; k < 3; ++k)
        if (std::abs(n[k] - plane.normal[k]) > 1e-7)
            return;
    for (const Vec3 &v : snapped)
        if (std::abs(plane.distanceTo(v)) > 1e-4)
            return;
    p = snapped;
}

class Converter {
public:
    Converter(const Bsp &bsp, const ConvertOptions &options, std::string &out, ConvertStats &stats)
        : bsp_(bsp)
        , options_(options)
        , out_(out)
        , stats_(stats)
        , planeChecked_(bsp.planes.size(), 0)
        , shaderChecked_(bsp.shaders.size(), 0)
        , canonShader_(bsp.shaders.size(), 0)
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
    Result<void> checkModel(std::size_t index, std::uint64_t &work);
    Result<void> emitModel(std::size_t index, Vec3 origin, std::size_t &brushNumber);
    Result<void> buildBrushes(const RawModel &model, Vec3 origin);
    Result<void> collectTriangles(const RawModel &model, Vec3 origin);
    Result<void> matchTriangles();
    void fitTextures();
    Result<void> writeBrushes(std::size_t &brushNumber);
    Result<void> writePatches(const RawModel &model, Vec3 origin, std::size_t &brushNumber);
    Result<void> checkVertex(std::int64_t index);
    void appendPoint(Vec3 p);

    const Bsp &bsp_;
    const ConvertOptions &options_;
    std::string &out_;
    ConvertStats &stats_;
    std::vector<std::int8_t> planeChecked_;
    std::vector<std::int8_t> shaderChecked_;
    std::vector<std::uint32_t> canonShader_;

    // One model at a time; kept to reuse their storage.
    std::vector<Face> faces_;
    std::vector<BuiltBrush> brushes_;
    std::vector<Vec3> points_;
    std::vector<Triangle> triangles_;
    std::vector<std::uint32_t> triangleShader_; // canonical shader per triangle
    std::vector<std::pair<std::uint32_t, std::uint32_t>> matches_; // face, triangle
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
        state = validName(writtenName(nameOf(static_cast<std::size_t>(index)))) ? 1 : -1;
    }
    if (state < 0)
        return fail("shader " + std::to_string(index) + ": nome vazio ou com espaços, aspas ou controles");
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
        return fail("plano " + std::to_string(index) + " inválido (normal não unitária ou número não finito)");
    return p;
}

Result<void> Converter::checkVertex(std::int64_t index)
{
    const RawVertex v = bsp_.vertices[static_cast<std::size_t>(index)];
    for (float f : {v.xyz[0], v.xyz[1], v.xyz[2], v.st[0], v.st[1]})
        if (!std::isfinite(f))
            return fail("vértice " + std::to_string(index) + " com número não finito");
    return {};
}

// Ranges and the cost of a model, before any of it is built.
Result<void> Converter::checkModel(std::size_t index, std::uint64_t &work)
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
        work += std::uint64_t(brush.numSides) * std::uint64_t(brush.numSides);
    }
    if (work > kMaxClipWork)
        return fail("brushes com lados demais: trabalho além do razoável para qualquer mapa");
    return {};
}

Result<void> Converter::run(const std::vector<Entity> &entities, const ProgressFn &progress)
{
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
    std::uint64_t work = 0;
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

    out_.reserve(out_.size() + bsp_.brushSides.size() * 140 + bsp_.vertices.size() * 20 +
                 bsp_.entities.size() * 2);
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const Entity &entity = entities[e];
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
        progress(str(stats_.skippedBrushes) + " brushes sem nenhuma face omitidos");
    return {};
}

Result<void> Converter::emitModel(std::size_t index, Vec3 origin, std::size_t &brushNumber)
{
    const RawModel model = bsp_.models[index];
    if (auto r = buildBrushes(model, origin); !r)
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

Result<void> Converter::buildBrushes(const RawModel &model, Vec3 origin)
{
    faces_.clear();
    brushes_.clear();
    points_.clear();
    std::vector<Side> sides;
    std::vector<std::uint8_t> sideIsNoshader;
    Winding w, scratch;
    for (std::int64_t b = model.firstBrush; b < std::int64_t(model.firstBrush) + model.numBrushes;
         ++b) {
        const RawBrush brush = bsp_.brushes[static_cast<std::size_t>(b)];
        if (auto r = checkShader(brush.shader, "brush", static_cast<std::size_t>(b)); !r)
            return r;
        const RawShader brushShader = bsp_.shaders[static_cast<std::size_t>(brush.shader)];
        // Duplicate planes give one side, preferring a real shader over "noshader".
        sides.clear();
        for (std::int32_t s = 0; s < brush.numSides; ++s) {
            const std::size_t sideIndex = static_cast<std::size_t>(brush.firstSide) + s;
            const RawBrushSide raw = bsp_.brushSides[sideIndex];
            auto p = plane(raw.plane);
            if (!p)
                return fail("lado " + str(sideIndex) + ": " + p.error());
            if (auto r = checkShader(raw.shader, "lado", sideIndex); !r)
                return r;
            Plane world = *p;
            world.dist += dot(world.normal, origin);
            bool duplicate = false;
            for (Side &kept : sides) {
                const bool same =
                    kept.planeNum == raw.plane ||
                    (std::abs(kept.plane.normal.x - world.normal.x) < 1e-6 &&
                     std::abs(kept.plane.normal.y - world.normal.y) < 1e-6 &&
                     std::abs(kept.plane.normal.z - world.normal.z) < 1e-6 &&
                     std::abs(kept.plane.dist - world.dist) < 1e-4);
                if (!same)
                    continue;
                duplicate = true;
                if (nameOf(static_cast<std::size_t>(kept.shader)) == "noshader" &&
                    nameOf(static_cast<std::size_t>(raw.shader)) != "noshader")
                    kept.shader = raw.shader;
                break;
            }
            if (!duplicate)
                sides.push_back({raw.plane, raw.shader, world});
        }

        const auto firstFace = static_cast<std::uint32_t>(faces_.size());
        for (std::size_t i = 0; i < sides.size(); ++i) {
            baseWinding(sides[i].plane, w);
            for (std::size_t j = 0; j < sides.size() && !w.empty(); ++j) {
                if (j != i)
                    clipToBack(w, sides[j].plane, kClipEpsilon, scratch);
            }
            if (w.size() < 3 || windingWidth(w) < kMinFaceWidth)
                continue;
            Face face;
            face.shader = sides[i].shader;
            face.canonShader = canonShader_[static_cast<std::size_t>(sides[i].shader)];
            face.plane = sides[i].plane;
            face.firstPoint = static_cast<std::uint32_t>(points_.size());
            face.pointCount = static_cast<std::uint32_t>(w.size());
            points_.insert(points_.end(), w.begin(), w.end());
            face.points = widestTriangle(w.data(), w.size());
            if (dot(compilerNormal(face.points), face.plane.normal) < 0)
                std::swap(face.points[0], face.points[2]);
            snapPoints(face.points, face.plane);
            face.mapNormal = compilerNormal(face.points);
            faces_.push_back(face);
        }
        const auto faceCount = static_cast<std::uint32_t>(faces_.size()) - firstFace;
        if (faceCount == 0) {
            ++stats_.skippedBrushes;
            continue;
        }
        brushes_.push_back({firstFace, faceCount,
                            static_cast<std::uint32_t>(brushShader.contentFlags & kDetailContents)});
    }
    return {};
}

Result<void> Converter::collectTriangles(const RawModel &model, Vec3 origin)
{
    triangles_.clear();
    triangleShader_.clear();
    for (std::int64_t s = model.firstSurface;
         s < std::int64_t(model.firstSurface) + model.numSurfaces; ++s) {
        const RawSurface surface = bsp_.surfaces[static_cast<std::size_t>(s)];
        if (surface.type != Planar)
            continue;
        const std::string name = "superfície " + std::to_string(s);
        if (auto r = checkShader(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
            return r;
        if (!bsp_.vertices.containsRange(surface.firstVert, surface.numVerts))
            return fail(name + ": vértices fora do intervalo");
        if (!bsp_.indexes.containsRange(surface.firstIndex, surface.numIndexes))
            return fail(name + ": índices fora do intervalo");
        if (surface.numIndexes % 3 != 0)
            return fail(name + ": número de índices não é múltiplo de 3");
        const RawShader shader = bsp_.shaders[static_cast<std::size_t>(surface.shader)];
        if (shader.surfaceFlags & kNodrawSurface)
            continue;
        for (std::int32_t v = 0; v < surface.numVerts; ++v)
            if (auto r = checkVertex(std::int64_t(surface.firstVert) + v); !r)
                return r;
        for (std::int32_t i = 0; i < surface.numIndexes; i += 3) {
            Triangle tri;
            for (int k = 0; k < 3; ++k) {
                const std::int32_t index =
                    bsp_.indexes[static_cast<std::size_t>(surface.firstIndex) + i + k];
                if (index < 0 || index >= surface.numVerts)
                    return fail(name + ": índice " + std::to_string(index) + " fora do intervalo");
                const RawVertex v =
                    bsp_.vertices[static_cast<std::size_t>(surface.firstVert) + index];
                tri.p[k] = Vec3{v.xyz[0], v.xyz[1], v.xyz[2]} + origin;
                tri.st[k][0] = v.st[0];
                tri.st[k][1] = v.st[1];
            }
            triangles_.push_back(tri);
            triangleShader_.push_back(canonShader_[static_cast<std::size_t>(surface.shader)]);
        }
    }
    return {};
}

Result<void> Converter::matchTriangles()
{
    matches_.clear();
    auto cellOf = [](double dist) {
        return static_cast<std::int64_t>(std::clamp(std::floor(dist / kDistCell), -1e15, 1e15));
    };
    auto keyOf = [](std::uint32_t shader, std::int64_t cell) {
        return (std::uint64_t(shader) << 40) ^ (std::uint64_t(cell) & ((std::uint64_t(1) << 40) - 1));
    };
    std::vector<std::pair<std::uint64_t, std::uint32_t>> index;
    index.reserve(faces_.size());
    for (std::uint32_t f = 0; f < faces_.size(); ++f)
        index.emplace_back(keyOf(faces_[f].canonShader, cellOf(faces_[f].plane.dist)), f);
    std::sort(index.begin(), index.end());

    std::uint64_t work = 0;
    for (std::uint32_t t = 0; t < triangles_.size(); ++t) {
        const Triangle &tri = triangles_[t];
        Vec3 n = cross(tri.p[2] - tri.p[0], tri.p[1] - tri.p[0]);
        const double len = length(n);
        if (!(len > 1e-9))
            continue;
        n = n * (1 / len);
        const Vec3 centre = (tri.p[0] + tri.p[1] + tri.p[2]) * (1.0 / 3);
        const double dist = dot(n, centre);
        const std::int64_t lo = cellOf(dist - kMatchDist), hi = cellOf(dist + kMatchDist);
        for (std::int64_t cell = lo; cell <= hi; ++cell) {
            const std::uint64_t key = keyOf(triangleShader_[t], cell);
            auto it = std::lower_bound(index.begin(), index.end(),
                                       std::pair<std::uint64_t, std::uint32_t>(key, 0));
            for (; it != index.end() && it->first == key; ++it) {
                const Face &face = faces_[it->second];
                if (++work > kMaxMatchWork)
                    return fail("triângulos e faces demais no mesmo plano: trabalho além do razoável");
                if (dot(face.plane.normal, n) < kMatchNormalDot)
                    continue;
                if (std::abs(face.plane.distanceTo(centre)) > kMatchDist)
                    continue;
                // Inside the face's polygon, whichever way it winds.
                const Vec3 *w = points_.data() + face.firstPoint;
                const std::size_t count = face.pointCount;
                Vec3 sum;
                for (std::size_t i = 1; i + 1 < count; ++i)
                    sum = sum + cross(w[i] - w[0], w[i + 1] - w[0]);
                const double orient = dot(sum, face.plane.normal) >= 0 ? 1 : -1;
                bool inside = true;
                for (std::size_t i = 0; i < count && inside; ++i) {
                    const Vec3 a = w[i], b = w[i + 1 == count ? 0 : i + 1];
                    const Vec3 edge = b - a;
                    const double side = orient * dot(cross(edge, centre - a), face.plane.normal);
                    inside = side >= -kMatchInside * length(edge);
                }
                if (inside)
                    matches_.emplace_back(it->second, t);
            }
        }
    }
    std::sort(matches_.begin(), matches_.end());
    return {};
}

void Converter::fitTextures()
{
    std::vector<TexSample> samples;
    for (std::size_t m = 0; m < matches_.size();) {
        const std::uint32_t f = matches_[m].first;
        samples.clear();
        for (; m < matches_.size() && matches_[m].first == f; ++m) {
            const Triangle &tri = triangles_[matches_[m].second];
            TexSample sample;
            for (int k = 0; k < 3; ++k) {
                sample.p[k] = tri.p[k];
                sample.st[k][0] = tri.st[k][0];
                sample.st[k][1] = tri.st[k][1];
            }
            samples.push_back(sample);
        }
        Face &face = faces_[f];
        if (auto tex = fitTexture(face.mapNormal, samples)) {
            face.tex = *tex;
            face.textured = true;
        }
    }
}

void Converter::appendPoint(Vec3 p)
{
    out_ += "( ";
    appendNumber(out_, p.x);
    out_ += ' ';
    appendNumber(out_, p.y);
    out_ += ' ';
    appendNumber(out_, p.z);
    out_ += " )";
}

Result<void> Converter::writeBrushes(std::size_t &brushNumber)
{
    for (const BuiltBrush &brush : brushes_) {
        out_ += "// brush ";
        appendNumber(out_, static_cast<long long>(brushNumber++));
        out_ += options_.classic ? "\n{\n" : "\n{\nbrushDef\n{\n";
        for (std::uint32_t i = 0; i < brush.faceCount; ++i) {
            const Face &face = faces_[brush.firstFace + i];
            for (const Vec3 &p : face.points) {
                appendPoint(p);
                out_ += ' ';
            }
            if (!options_.classic) {
                const TexMatrix tex = face.textured ? face.tex : defaultTexMatrix();
                out_ += "( ( ";
                for (int row = 0; row < 2; ++row) {
                    if (row == 1)
                        out_ += " ) ( ";
                    for (int col = 0; col < 3; ++col) {
                        if (col > 0)
                            out_ += ' ';
                        appendNumber(out_, tex.m[row][col]);
                    }
                }
                out_ += " ) ) ";
            }
            out_ += writtenName(nameOf(static_cast<std::size_t>(face.shader)));
            out_ += options_.classic ? " 0 0 0 0.5 0.5 " : " ";
            appendNumber(out_, static_cast<long long>(brush.contents));
            out_ += " 0 0\n";
            ++stats_.faces;
            if (face.textured)
                ++stats_.texturedFaces;
        }
        out_ += options_.classic ? "}\n" : "}\n}\n";
        ++stats_.brushes;
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
        const std::string name = "patch (superfície " + std::to_string(s) + ")";
        if (auto r = checkShader(surface.shader, "superfície", static_cast<std::size_t>(s)); !r)
            return r;
        const std::int64_t width = surface.patchWidth, height = surface.patchHeight;
        if (width < 3 || height < 3 || width % 2 == 0 || height % 2 == 0)
            return fail(name + ": tamanho " + std::to_string(width) + "x" +
                        std::to_string(height) + " inválido (precisa ser ímpar, 3 ou mais)");
        if (!bsp_.vertices.containsRange(surface.firstVert, surface.numVerts))
            return fail(name + ": vértices fora do intervalo");
        if (width * height > surface.numVerts)
            return fail(name + ": " + std::to_string(width) + "x" + std::to_string(height) +
                        " pontos de controle, mas só " + std::to_string(surface.numVerts) +
                        " vértices");
        for (std::int64_t v = 0; v < width * height; ++v)
            if (auto r = checkVertex(surface.firstVert + v); !r)
                return r;

        out_ += "// brush ";
        appendNumber(out_, static_cast<long long>(brushNumber++));
        out_ += "\n{\npatchDef2\n{\n";
        out_ += writtenName(nameOf(static_cast<std::size_t>(surface.shader)));
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
                out_ += "( ";
                for (int k = 0; k < 3; ++k) {
                    if (shifted)
                        appendNumber(out_, double(v.xyz[k]) + origin[k]);
                    else
                        appendNumber(out_, v.xyz[k]);
                    out_ += ' ';
                }
                appendNumber(out_, v.st[0]);
                out_ += ' ';
                appendNumber(out_, v.st[1]);
                out_ += " ) ";
            }
            out_ += ")\n";
        }
        out_ += ")\n}\n}\n";
        ++stats_.patches;
    }
    return {};
}

} // namespace

Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                std::string &mapText, const ProgressFn &progress)
{
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
    Converter converter(*bsp, options, mapText, stats);
    if (auto r = converter.run(*entities, progress); !r)
        return r.takeError();
    return stats;
}

} // namespace bsp2map
