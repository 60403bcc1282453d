#include "mapcheck.h"

#include <QFile>
#include <QHash>

#include <zip.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <string_view>

namespace check {
namespace {

double length(const Vec &a) { return std::sqrt(dot(a, a)); }
Vec normalize(const Vec &a) { return scale(a, 1 / length(a)); }
using Matrix = double[2][3];

// Quoted strings of any bytes, bare words, braces and parentheses; `//` comments are skipped.
class Parser {
public:
    explicit Parser(std::string_view s)
    {
        constexpr std::string_view single = "{}()";
        const auto word = [&](size_t i) {
            return i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && single.find(s[i]) == s.npos && s[i] != '"';
        };
        for (size_t i = 0, end; i < s.size(); i = end) {
            end = i + 1;
            if (s.substr(i, 2) == "//") {
                end = s.find('\n', i);
            } else if (s[i] == '"') {
                if ((end = s.find('"', i + 1)) == s.npos) {
                    error = "unclosed quote";
                    break;
                }
                tokens.push_back({s.substr(i + 1, end++ - i - 1), true});
            } else if (word(i) || single.find(s[i]) != s.npos) {
                while (word(i) && word(end))
                    ++end;
                tokens.push_back({s.substr(i, end - i), false});
            }
        }
    }

    bool done() const { return next >= tokens.size(); }
    bool is(std::string_view word) const { return !done() && !tokens[next].second && tokens[next].first == word; }
    bool quoted() const { return !done() && tokens[next].second; }
    QByteArray take() { return done() ? QByteArray() : bytes(tokens[next++].first); }
    static QByteArray bytes(std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); }
    bool fail(const char *what) { return error = error.isEmpty() ? QString("%1 at token %2").arg(what).arg(next) : error, false; }
    bool expect(std::string_view word) { return is(word) ? (++next, true) : fail("unexpected token"); }

    // Numbers up to the next word or brace; inside parentheses, which are dropped, when `grouped`.
    bool numbers(std::vector<double> &v, bool grouped)
    {
        v.clear();
        for (int depth = 0; !done() && !quoted() && !is("{") && !is("}"); ++next) {
            if (grouped && (is("(") || is(")"))) {
                depth += is("(") ? 1 : -1;
                continue;
            }
            const std::string_view t = tokens[next].first;
            const auto r = std::from_chars(t.data(), t.data() + t.size(), v.emplace_back());
            if (r.ec != std::errc() || r.ptr != t.data() + t.size())
                return v.pop_back(), depth == 0 || fail("bad number");
        }
        return true;
    }

    bool keys(Keys &keys)
    {
        for (QByteArray key; quoted(); keys.append({key, take()}))
            if (key = take(); !quoted())
                return fail("key without value");
        return true;
    }

    // Classic faces: 3 points, shader, offsets, rotation, scales, contents, flags, value;
    // brushDef faces: 3 points, a 2x3 matrix, shader, contents, flags, value.
    bool brush(std::vector<Face> &faces, bool brushDef)
    {
        for (std::vector<double> v, rest; !is("}");) {
            Face &f = faces.emplace_back();
            if (!numbers(v, true) || v.size() != (brushDef ? 15u : 9u) || done() || is("("))
                return fail("bad face");
            f.shader = take();
            if (!numbers(rest, false))
                return false;
            for (size_t k = 0; k < v.size(); ++k)
                (k < 9 ? f.points[k / 3][k % 3] : f.matrix[(k - 9) / 3][k % 3]) = v[k];
            f.brushDef = brushDef;
            f.contents = rest.size() >= 3 ? int(rest[rest.size() - 3]) : 0;
        }
        return expect("}");
    }

    // shader ( width height 0 0 0 ) ( width rows of ( height points of ( x y z s t ) ) )
    bool patch(Patch &p)
    {
        std::vector<double> v;
        if (!expect("{") || done() || (p.shader = take(), !numbers(v, true)) || v.size() < 5)
            return fail("bad patch");
        p.width = int(v[0]);
        p.height = int(v[1]);
        if (v.size() != 5 + size_t(p.width) * size_t(p.height) * 5)
            return fail("patch size differs from its points");
        p.rows.resize(size_t(p.width));
        for (int k = 0; k < p.width * p.height; ++k)
            p.rows[size_t(k / p.height)].emplace_back(v.begin() + 5 + 5 * k, v.begin() + 10 + 5 * k);
        return expect("}") && expect("}");
    }

    bool entity(Entity &e)
    {
        bool ok = expect("{");
        while (ok && !is("}")) {
            if (done() || !keys(e.keys))
                return fail("unclosed entity");
            if (is("}"))
                break;
            ok = expect("{");
            const bool brushDef = ok && is("brushDef"), patchDef = ok && is("patchDef2");
            next += brushDef || patchDef;
            ok = ok && (patchDef   ? patch(e.patches.emplace_back())
                        : brushDef ? expect("{") && brush(e.brushes.emplace_back(), true) && expect("}")
                                   : brush(e.brushes.emplace_back(), false));
        }
        return ok && expect("}");
    }

    std::vector<std::pair<std::string_view, bool>> tokens; // text, quoted
    size_t next = 0;
    QString error;
};

Winding baseWinding(const Bsp::Plane &p)
{
    const int axis = std::abs(p.normal[2]) > std::max(std::abs(p.normal[0]), std::abs(p.normal[1])) ? 2 : 0;
    Vec up = axis == 2 ? Vec{1, 0, 0} : Vec{0, 0, 1};
    up = scale(normalize(sub(up, scale(p.normal, dot(up, p.normal)))), 1 << 20);
    const Vec right = cross(up, p.normal), o = scale(p.normal, p.dist);
    return {add(sub(o, right), up), add(add(o, right), up), sub(add(o, right), up), sub(sub(o, right), up)};
}

// Keeps the part behind the plane.
Winding clip(const Winding &w, const Bsp::Plane &p)
{
    constexpr double eps = 1e-9;
    Winding out;
    for (size_t k = 0; k < w.size(); ++k) {
        const Vec &a = w[k], &b = w[(k + 1) % w.size()];
        const double da = dot(p.normal, a) - p.dist, db = dot(p.normal, b) - p.dist;
        if (da <= eps)
            out.push_back(a);
        if ((da < -eps && db > eps) || (da > eps && db < -eps))
            out.push_back(add(a, scale(sub(b, a), da / (da - db))));
    }
    return out;
}

// The plane of a map face by the map compiler's rule.
Bsp::Plane facePlane(const Face &f)
{
    const Vec n = normalize(cross(sub(f.points[0], f.points[1]), sub(f.points[2], f.points[1])));
    return {n, dot(f.points[0], n)};
}

bool samePlane(const Bsp::Plane &a, const Bsp::Plane &b)
{
    const Vec d = sub(a.normal, b.normal);
    return std::abs(d[0]) <= 1e-5 && std::abs(d[1]) <= 1e-5 && std::abs(d[2]) <= 1e-5 && std::abs(a.dist - b.dist) <= 0.01;
}

// How far the compiler's snapping to 1/8 unit moves a drawn vertex off its face.
constexpr double snap = 0.125;

bool inside(const Winding &w, const Vec &n, const Vec &c)
{
    int front = 0, back = 0;
    for (size_t k = 0; k < w.size(); ++k) {
        const Vec e = sub(w[(k + 1) % w.size()], w[k]);
        const double side = dot(cross(e, sub(c, w[k])), n) / std::max(length(e), 1e-9);
        front += side > snap;
        back += side < -snap;
    }
    return front == 0 || back == 0;
}

// A drawn triangle in the axis base of the face it lies on: where an editor
// puts its corners in the texture plane, and their st.
struct Drawn {
    double x[3], y[3], st[3][2];
    double area() const { return (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]); }
};

Drawn inAxisBase(const Face &f, const Vec (&v)[3], const float (&st)[3][2])
{
    Vec n = facePlane(f).normal;
    for (double &c : n)
        c = std::abs(c) < 1e-6 ? 0 : c;
    const double rotY = -std::atan2(n[2], std::sqrt(n[0] * n[0] + n[1] * n[1])), rotZ = std::atan2(n[1], n[0]);
    const Vec s{-std::sin(rotZ), std::cos(rotZ), 0};
    const Vec t{-std::sin(rotY) * std::cos(rotZ), -std::sin(rotY) * std::sin(rotZ), -std::cos(rotY)};
    Drawn d;
    for (int k = 0; k < 3; ++k)
        d.x[k] = dot(v[k], s), d.y[k] = dot(v[k], t), d.st[k][0] = st[k][0], d.st[k][1] = st[k][1];
    return d;
}

// The st difference at each corner, in repeats, between a texture matrix and
// the BSP, once the whole-repeat shift that suits the triangle best is taken off.
std::array<double, 3> cornerErrors(const Matrix &m, const Drawn &d)
{
    std::array<double, 3> errors{}, best{}, e;
    for (int c = 0; c < 2; ++c) {
        double diff[3], bestWorst = std::numeric_limits<double>::infinity();
        for (int k = 0; k < 3; ++k)
            diff[k] = m[c][0] * d.x[k] + m[c][1] * d.y[k] + m[c][2] - d.st[k][c];
        for (const double at : diff) {
            for (int k = 0; k < 3; ++k)
                e[size_t(k)] = std::abs(diff[k] - std::round(at));
            if (std::max({e[0], e[1], e[2]}) < bestWorst)
                bestWorst = std::max({e[0], e[1], e[2]}), best = e;
        }
        for (size_t k = 0; k < 3; ++k)
            errors[k] = std::max(errors[k], best[k]);
    }
    return errors;
}

// A triangle's own mapping, and the barycentric coordinates of points in it;
// nothing when its corners span no area.
struct Exact {
    Matrix m;
    double x0, y0, inv[2][2]; // (x - x0, y - y0) to the weights of corners 1 and 2

    static std::optional<Exact> of(const Drawn &d)
    {
        const double a = d.x[1] - d.x[0], b = d.x[2] - d.x[0], c = d.y[1] - d.y[0], e = d.y[2] - d.y[0], det = d.area();
        if (!(std::abs(det) > 1e-3))
            return std::nullopt;
        Exact r{{}, d.x[0], d.y[0], {{e / det, -b / det}, {-c / det, a / det}}};
        for (size_t row = 0; row < 2; ++row) {
            const double d1 = d.st[1][row] - d.st[0][row], d2 = d.st[2][row] - d.st[0][row];
            r.m[row][0] = d1 * r.inv[0][0] + d2 * r.inv[1][0];
            r.m[row][1] = d1 * r.inv[0][1] + d2 * r.inv[1][1];
            r.m[row][2] = d.st[0][row] - r.m[row][0] * d.x[0] - r.m[row][1] * d.y[0];
        }
        return r;
    }

    // Whether no affine mapping brings this triangle's corners and the point
    // (x, y, st) all within `tolerance` of a repeat: any mapping within it at the
    // corners is within tolerance times the point's absolute weights there.
    bool excludes(double x, double y, const double (&st)[2], double tolerance) const
    {
        const double w1 = inv[0][0] * (x - x0) + inv[0][1] * (y - y0), w2 = inv[1][0] * (x - x0) + inv[1][1] * (y - y0);
        const double reach = tolerance * (1 + std::abs(1 - w1 - w2) + std::abs(w1) + std::abs(w2));
        for (size_t row = 0; row < 2; ++row)
            if (const double off = m[row][0] * x + m[row][1] * y + m[row][2] - st[row]; std::abs(off - std::round(off)) > reach)
                return true;
        return false;
    }
};

// Triangles joined by corners at one place with one st form a seamless piece:
// a mapping that fits their shared corners gives them all one whole-repeat
// shift. Each triangle's piece, by union-find.
std::vector<size_t> pieces(const std::vector<Drawn> &triangles)
{
    std::vector<size_t> parent(triangles.size());
    std::iota(parent.begin(), parent.end(), size_t(0));
    const auto root = [&](size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    std::map<std::array<double, 4>, size_t> first;
    for (size_t i = 0; i < triangles.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            const Drawn &d = triangles[i];
            if (const auto [at, inserted] = first.insert({{d.x[k], d.y[k], d.st[k][0], d.st[k][1]}, i}); !inserted)
                parent[root(i)] = root(at->second);
        }
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = root(i);
    return parent;
}

// Whether corner k of triangle i was given up for others: three corners of its
// piece that the matrix fits, which no affine mapping can fit together with
// it. Four points in the plane have weights l, sum l = 0, sum l p = 0, so any
// mapping's errors e there satisfy |sum l st| = |sum l e| <= max|e| sum |l|.
bool givenUp(const std::vector<Drawn> &triangles, const std::vector<std::array<double, 3>> &errors,
             const std::vector<size_t> &piece, size_t i, int k, double tolerance)
{
    struct Point { double x, y, st[2], far; };
    const Drawn &c = triangles[i];
    std::vector<Point> fitted;
    for (size_t j = 0; j < triangles.size(); ++j)
        for (int m = 0; m < 3 && piece[j] == piece[i]; ++m) {
            const Drawn &d = triangles[j];
            const double far = std::hypot(d.x[m] - c.x[k], d.y[m] - c.y[k]);
            if (errors[j][size_t(m)] <= tolerance && far > 0)
                fitted.push_back({d.x[m], d.y[m], {d.st[m][0], d.st[m][1]}, far});
        }
    std::sort(fitted.begin(), fitted.end(), [](const Point &a, const Point &b) { return a.far < b.far; });
    fitted.erase(std::unique(fitted.begin(), fitted.end(), [](const Point &a, const Point &b) { return a.x == b.x && a.y == b.y; }),
                 fitted.end());
    // The nearest and the farthest are enough to find a contradiction that is there.
    if (constexpr size_t ends = 8; fitted.size() > 2 * ends)
        fitted.erase(fitted.begin() + ends, fitted.end() - ends);
    const Point at{c.x[k], c.y[k], {c.st[k][0], c.st[k][1]}, 0};
    const auto area = [](const Point &a, const Point &b, const Point &e) { return (b.x - a.x) * (e.y - a.y) - (e.x - a.x) * (b.y - a.y); };
    for (size_t a = 0; a < fitted.size(); ++a)
        for (size_t b = a + 1; b < fitted.size(); ++b)
            for (size_t e = b + 1; e < fitted.size(); ++e) {
                const Point *q[4] = {&at, &fitted[a], &fitted[b], &fitted[e]};
                const double l[4] = {area(*q[1], *q[2], *q[3]), -area(*q[0], *q[2], *q[3]), area(*q[0], *q[1], *q[3]),
                                     -area(*q[0], *q[1], *q[2])};
                const double sum = std::abs(l[0]) + std::abs(l[1]) + std::abs(l[2]) + std::abs(l[3]);
                for (int row = 0; row < 2 && sum > 0; ++row)
                    if (std::abs(l[0] * q[0]->st[row] + l[1] * q[1]->st[row] + l[2] * q[2]->st[row] + l[3] * q[3]->st[row]) >
                        tolerance * sum)
                        return true;
            }
    return false;
}

QByteArray withoutPrefix(const QByteArray &name) { return name.startsWith("textures/") ? name.mid(9) : name; }
template <class T> T field(const QByteArray &b, qint64 at)
{
    T v;
    std::memcpy(&v, b.constData() + at, sizeof v);
    return v;
}

} // namespace

std::vector<Winding> sideWindings(const std::vector<Bsp::Plane> &planes, double grow)
{
    std::vector<Winding> out;
    for (size_t i = 0; i < planes.size(); ++i) {
        Winding w = baseWinding(planes[i]);
        for (size_t j = 0; j < planes.size() && w.size() >= 3; ++j)
            w = j == i ? w : clip(w, {planes[j].normal, planes[j].dist + grow});
        out.push_back(w.size() >= 3 ? w : Winding());
    }
    return out;
}

bool boundsFace(const Winding &w)
{
    double area = 0, across = 0;
    for (size_t k = 2; k < w.size(); ++k)
        area += length(cross(sub(w[k - 1], w[0]), sub(w[k], w[0]))) / 2;
    for (const Vec &a : w)
        for (const Vec &b : w)
            across = std::max(across, length(sub(a, b)));
    return area > 1e-3 && area / across > 0.01; // about its width
}

Parsed<Bsp> readBsp(const QByteArray &b)
{
    if (b.size() < 144 || !b.startsWith("IBSP") || (field<int>(b, 4) != 46 && field<int>(b, 4) != 47))
        return {{}, "not an IBSP 46/47 file"};
    qint64 offset[17], size[17];
    for (int i = 0; i < 17; ++i)
        if (offset[i] = field<qint32>(b, 8 + 8 * i), size[i] = field<qint32>(b, 12 + 8 * i);
            offset[i] < 0 || size[i] < 0 || offset[i] + size[i] > b.size())
            return {{}, QString("lump %1 lies outside the file").arg(i)};
    // Each record of `lump`, with its ints.
    const auto records = [&](int lump, int bytes, auto read) {
        for (qint64 at = offset[lump]; at + bytes <= offset[lump] + size[lump]; at += bytes)
            read(at, [&](int k) { return field<qint32>(b, at + 4 * k); });
    };
    Parsed<Bsp> r;
    Bsp &bsp = r.value;
    records(1, 72, [&](qint64 at, auto i) {
        bsp.shaders.push_back({QByteArray(b.constData() + at, qsizetype(strnlen(b.constData() + at, 64))), i(16), i(17)});
    });
    records(2, 16, [&](qint64 at, auto) {
        bsp.planes.push_back({{field<float>(b, at), field<float>(b, at + 4), field<float>(b, at + 8)}, field<float>(b, at + 12)});
    });
    records(7, 40, [&](qint64, auto i) { bsp.models.push_back({i(6), i(7), i(8), i(9)}); });
    records(8, 12, [&](qint64, auto i) { bsp.brushes.push_back({i(0), i(1), i(2)}); });
    records(9, 8, [&](qint64, auto i) { bsp.sides.push_back({i(0), i(1)}); });
    records(10, 44, [&](qint64 at, auto) { bsp.vertices.push_back(field<Bsp::Vertex>(b, at)); });
    records(11, 4, [&](qint64, auto i) { bsp.indexes.push_back(i(0)); });
    records(13, 104, [&](qint64, auto i) { bsp.surfaces.push_back({i(0), i(2), i(3), i(4), i(5), i(6), i(24), i(25)}); });
    const QByteArray text = b.mid(offset[0], size[0]);
    Parser p(std::string_view(text.constData(), strnlen(text.constData(), size_t(text.size()))));
    while (p.error.isEmpty() && !p.done())
        p.expect("{") && p.keys(bsp.entities.emplace_back()) && p.expect("}");
    r.error = p.error;
    return r;
}

Parsed<Map> readMap(const QByteArray &text)
{
    Parser p(std::string_view(text.constData(), size_t(text.size())));
    Parsed<Map> r;
    while (p.error.isEmpty() && !p.done())
        p.entity(r.value.emplace_back());
    r.error = p.error;
    return r;
}

namespace {

class Comparison {
public:
    Comparison(const Bsp &bsp, bool classic, Fidelity &f) : bsp(bsp), classic(classic), f(f) {}

    void problem(const QString &what)
    {
        if (f.problemCount++ < 12)
            f.problems << what;
    }

    void model(int m, const Vec &origin, const Entity &e)
    {
        const Bsp::Model &model = bsp.models[size_t(m)];
        size_t next = 0;
        for (int b = model.firstBrush; b < model.firstBrush + model.brushes; ++b) {
            const Bsp::Brush &brush = bsp.brushes[size_t(b)];
            std::vector<Bsp::Plane> planes;
            for (int s = brush.firstSide; s < brush.firstSide + brush.sides; ++s) {
                planes.push_back(bsp.planes[size_t(bsp.sides[size_t(s)].plane)]);
                planes.back().dist += dot(planes.back().normal, origin);
            }
            const std::vector<Winding> windings = sideWindings(planes);
            std::vector<size_t> faced;
            for (size_t k = 0; k < planes.size(); ++k)
                if (boundsFace(windings[k]))
                    f.sidesWithFaces += std::none_of(faced.begin(), faced.end(), [&](size_t j) { return samePlane(planes[j], planes[k]); }),
                        faced.push_back(k);
            if (faced.empty())
                continue;
            ++f.brushesBsp;
            if (next < e.brushes.size())
                compareBrush(b, planes, faced, e.brushes[next++]);
            else
                problem(QString("model %1: brush %2 missing").arg(m).arg(b));
        }
        f.brushesMap += int(e.brushes.size());
        if (next != e.brushes.size())
            problem(QString("model %1: %2 brushes, not %3").arg(m).arg(e.brushes.size()).arg(next));
        size_t patches = 0;
        for (int s = model.firstSurface; s < model.firstSurface + model.surfaces; ++s) {
            const Bsp::Surface &surface = bsp.surfaces[size_t(s)];
            const Bsp::Shader &shader = bsp.shaders[size_t(surface.shader)];
            if (surface.type == 2 && (++f.patchesBsp, patches >= e.patches.size() || !samePatch(e.patches[patches++], surface, origin)))
                problem(QString("model %1: patch surface %2 differs").arg(m).arg(s));
            else if (surface.type == 1 && !(shader.surfaceFlags & 0x80))
                triangles(surface, origin, byShader[shader.name]);
        }
        f.patchesMap += int(e.patches.size());
        for (auto it = drawn.begin(); it != drawn.end(); ++it)
            judgeTexture(*it.key(), it.value());
        placed.clear();
        byShader.clear();
        drawn.clear();
    }

    // Every corner of a face's triangles must be within 1e-3 of a repeat, save
    // those that no affine mapping can bring there together with another
    // triangle of the face: the compiler snaps some vertices after texturing
    // them. Either way the face's matrix must fit as many corners as the best
    // of its triangles' own mappings.
    void judgeTexture(const Face &face, const std::vector<Drawn> &triangles)
    {
        constexpr double tolerance = 1e-3;
        // The largest triangles' own mappings are the witnesses; a few dozen will do.
        std::vector<std::pair<double, size_t>> bySize;
        std::vector<std::optional<Exact>> exact;
        std::vector<std::array<double, 3>> errors;
        for (size_t i = 0; i < triangles.size(); ++i) {
            exact.push_back(Exact::of(triangles[i]));
            bySize.push_back({-std::abs(triangles[i].area()), i});
            errors.push_back(cornerErrors(face.matrix, triangles[i]));
        }
        std::sort(bySize.begin(), bySize.end());
        bySize.resize(std::min<size_t>(bySize.size(), 48));
        const std::vector<size_t> piece = pieces(triangles);
        int fits = 0, excused = 0, best = 0;
        const int corners = int(3 * triangles.size());
        for (size_t i = 0; i < triangles.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                const double error = errors[i][size_t(k)];
                const Drawn &d = triangles[i];
                const auto unreachable = [&](const auto &w) {
                    return w.second != i && exact[w.second] && exact[w.second]->excludes(d.x[k], d.y[k], d.st[k], tolerance);
                };
                if (error > tolerance && (std::any_of(bySize.begin(), bySize.end(), unreachable) ||
                                          givenUp(triangles, errors, piece, i, k, tolerance))) {
                    ++excused;
                    continue;
                }
                fits += error <= tolerance;
                f.textureError = std::max(f.textureError, error);
                if (error > tolerance)
                    problem(QString("texture off by %1 at (%2 %3) on a face at (%4), no corners of it disagreeing")
                                .arg(error).arg(d.x[k]).arg(d.y[k]).arg(point(face.points[0])));
            }
        for (const auto &w : bySize) {
            int own = 0;
            for (const Drawn &d : triangles)
                for (const double e : exact[w.second] ? cornerErrors(exact[w.second]->m, d) : std::array{1.0, 1.0, 1.0})
                    own += e <= tolerance;
            best = std::max(best, own);
        }
        if (fits < best)
            problem(QString("texture fits %1 of %2 corners on a face at (%3), one triangle's own mapping %4")
                        .arg(fits).arg(corners).arg(point(face.points[0])).arg(best));
        (4 * excused > corners ? (++f.facesUnrepresentable, f.cornersUnrepresentable) : f.cornersExcused) += excused;
    }

    void compareBrush(int b, const std::vector<Bsp::Plane> &planes, const std::vector<size_t> &faced, const std::vector<Face> &faces)
    {
        const Bsp::Brush &brush = bsp.brushes[size_t(b)];
        // Sides that touch the brush, bevels too, may each give a face.
        const std::vector<Winding> touching = sideWindings(planes, 0.01);
        std::vector<Bsp::Plane> kept;
        std::vector<bool> isKept(planes.size());
        for (const Face &x : faces) {
            bool textured = false;
            for (size_t k = 0; k < planes.size(); ++k) {
                if (touching[k].empty() || !samePlane(facePlane(x), planes[k]))
                    continue;
                isKept[k] = isKept[k] || (kept.push_back(planes[k]), true);
                const QByteArray shader = bsp.shaders[size_t(bsp.sides[size_t(brush.firstSide) + k].shader)].name;
                if (x.shader == withoutPrefix(shader) && (textured = true))
                    placed.push_back({touching[k], planes[k], &x}), byShader[shader].push_back(placed.size() - 1);
            }
            ++f.faces;
            f.facesTextured += textured;
            if (!textured)
                problem(QString("brush %1: face %2 at (%3) matches no side of its shader").arg(b).arg(x.shader, point(x.points[0])));
            if ((x.contents ^ bsp.shaders[size_t(brush.shader)].contentFlags) & 0x08000000)
                problem(QString("brush %1: detail flag lost").arg(b));
            if (x.brushDef == classic)
                problem(QString("brush %1: face in the wrong form").arg(b));
        }
        // A face may be left out only when the sides kept shape the brush without it.
        const std::vector<Winding> corners = sideWindings(kept);
        for (const size_t k : faced) {
            double out = 0;
            for (const Winding &w : corners)
                for (const Vec &p : w)
                    out = std::max(out, isKept[k] ? 0 : dot(planes[k].normal, p) - planes[k].dist);
            if (out > 0.01)
                problem(QString("brush %1: side %2 left out, %3 units of brush past it").arg(b).arg(k).arg(out));
        }
    }

    static QString point(const Vec &p) { return QString("%1 %2 %3").arg(p[0]).arg(p[1]).arg(p[2]); }

    // Points exact as floats, after the model's origin; st within a whole-repeat shift for the patch.
    bool samePatch(const Patch &p, const Bsp::Surface &s, const Vec &origin)
    {
        if (p.shader != withoutPrefix(bsp.shaders[size_t(s.shader)].name) || p.width != s.width || p.height != s.height ||
            p.rows.size() != size_t(s.width) || s.width * s.height > s.verts)
            return false;
        double shift[2] = {};
        for (int i = 0; i < s.width; ++i)
            for (int j = 0; j < s.height; ++j) {
                if (p.rows[size_t(i)].size() != size_t(s.height))
                    return false;
                const std::vector<double> &point = p.rows[size_t(i)][size_t(j)];
                const Bsp::Vertex &v = bsp.vertices[size_t(s.firstVert + j * s.width + i)];
                for (size_t k = 0; k < 3; ++k)
                    if (float(point[k]) != float(double(v.xyz[k]) + origin[k]))
                        return false;
                for (size_t c = 0; c < 2; ++c)
                    if (shift[c] = i == 0 && j == 0 ? std::round(point[3 + c] - v.st[c]) : shift[c];
                        std::abs(point[3 + c] - shift[c] - v.st[c]) > 1e-6 * (1 + std::abs(v.st[c])))
                        return false;
            }
        return true;
    }

    // Each triangle goes to the face of its shader it lies on that its texture fits best.
    void triangles(const Bsp::Surface &s, const Vec &origin, const std::vector<size_t> &faces)
    {
        for (int t = 0; t + 2 < s.indexes; t += 3) {
            Vec v[3];
            float st[3][2];
            double longest = 0;
            for (int k = 0; k < 3; ++k) {
                const Bsp::Vertex &x = bsp.vertices[size_t(s.firstVert + bsp.indexes[size_t(s.firstIndex + t + k)])];
                v[k] = add({x.xyz[0], x.xyz[1], x.xyz[2]}, origin);
                std::copy(x.st, x.st + 2, st[k]);
            }
            for (int k = 0; k < 3; ++k)
                longest = std::max(longest, length(sub(v[k], v[(k + 1) % 3])));
            // Clockwise seen from the front; a sliver along an edge carries no texture direction across it.
            const Vec normal = cross(sub(v[2], v[0]), sub(v[1], v[0])), centre = scale(add(add(v[0], v[1]), v[2]), 1.0 / 3);
            if (length(normal) < 0.5 * longest)
                continue;
            ++f.triangles;
            double best = std::numeric_limits<double>::infinity();
            const Face *face = nullptr;
            for (const size_t i : faces) {
                const Placed &p = placed[i];
                bool on = dot(normal, p.plane.normal) > 0;
                for (const Vec &x : v)
                    on = on && std::abs(dot(p.plane.normal, x) - p.plane.dist) <= snap;
                if (!on || !inside(p.winding, p.plane.normal, centre))
                    continue;
                const std::array<double, 3> e = classic ? std::array<double, 3>{} : cornerErrors(p.face->matrix, inAxisBase(*p.face, v, st));
                if (std::max({e[0], e[1], e[2]}) < best)
                    best = std::max({e[0], e[1], e[2]}), face = p.face;
            }
            if (face && ++f.trianglesOnFaces && !classic)
                drawn[face].push_back(inAxisBase(*face, v, st));
        }
    }

    struct Placed { Winding winding; Bsp::Plane plane; const Face *face; };
    const Bsp &bsp;
    const bool classic;
    Fidelity &f;
    std::vector<Placed> placed; // the faces of the current model
    QHash<QByteArray, std::vector<size_t>> byShader; // the faces of each shader
    QHash<const Face *, std::vector<Drawn>> drawn; // each face's triangles
};

} // namespace

Fidelity compare(const Bsp &bsp, const Map &map, bool classic)
{
    Fidelity f;
    Comparison c(bsp, classic, f);
    f.entities = int(bsp.entities.size());
    if (map.size() != size_t(f.entities))
        c.problem(QString("%1 entities, not %2").arg(map.size()).arg(f.entities));
    for (qsizetype e = 0; e < bsp.entities.size() && size_t(e) < map.size(); ++e) {
        Keys expected;
        int model = e == 0 ? 0 : -1;
        Vec origin{};
        for (const auto &[key, value] : bsp.entities[e]) {
            const QList<QByteArray> xyz = value.simplified().split(' ');
            if (key == "model" && value.startsWith('*'))
                model = value.mid(1).toInt();
            else
                expected.append({key, value});
            if (key == "origin" && xyz.size() == 3)
                origin = {xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()};
        }
        if (map[size_t(e)].keys != expected)
            c.problem(QString("entity %1 differs").arg(e));
        f.entitiesOk += map[size_t(e)].keys == expected;
        if (model >= 0 && size_t(model) < bsp.models.size())
            c.model(model, model == 0 ? Vec{} : origin, map[size_t(e)]);
    }
    return f;
}

QString Fidelity::header()
{
    return "map              entities   brushes map/BSP  faces map/BSP  textured  tex.error  excused  not repr. "
           "patches   triangles on faces/all";
}

QString Fidelity::row(const QString &name) const
{
    return QString::asprintf("%-16s %4d/%-4d %7d/%-7d %6d/%-6d %7.2f%% %10.2e %6d   %3d (%3d) %4d/%-4d %7d/%-7d",
                             qPrintable(name), entitiesOk, entities, brushesMap, brushesBsp, faces, sidesWithFaces,
                             faces ? 100.0 * facesTextured / faces : 100.0, textureError, cornersExcused,
                             facesUnrepresentable, cornersUnrepresentable, patchesMap, patchesBsp, trianglesOnFaces, triangles);
}

static zip_t *openZip(const QString &zip, int flags)
{
    int error = 0;
    return zip_open(QFile::encodeName(zip).constData(), flags, &error);
}

QStringList zipEntries(const QString &zip)
{
    QStringList names;
    zip_t *z = openZip(zip, ZIP_RDONLY);
    for (zip_int64_t i = 0; z && i < zip_get_num_entries(z, 0); ++i)
        names << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    return z && zip_close(z) == 0 ? names : QStringList();
}

QByteArray zipEntry(const QString &zip, const QString &name)
{
    QByteArray data;
    zip_stat_t st;
    zip_t *z = openZip(zip, ZIP_RDONLY);
    zip_file_t *f = z && zip_stat(z, name.toUtf8().constData(), 0, &st) == 0 ? zip_fopen_index(z, st.index, 0) : nullptr;
    if (f && (data.resize(qsizetype(st.size)), zip_fread(f, data.data(), st.size) != zip_int64_t(st.size)))
        data.clear();
    return (f && zip_fclose(f)), (z && zip_close(z)), data;
}

bool writeZip(const QString &zip, const QList<QPair<QByteArray, QByteArray>> &files)
{
    zip_t *z = openZip(zip, ZIP_CREATE | ZIP_TRUNCATE);
    bool ok = z != nullptr;
    for (const auto &[name, data] : files) {
        zip_source_t *s = ok ? zip_source_buffer(z, data.constData(), zip_uint64_t(data.size()), 0) : nullptr;
        ok = s && zip_file_add(z, name.constData(), s, ZIP_FL_ENC_RAW) >= 0;
    }
    return z && zip_close(z) == 0 && ok;
}

} // namespace check
