#include "mapcheck.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <zip.h>

#include <cstring>
#include <map>
#include <numeric>
#include <set>

namespace check {
namespace {

using Matrix = double[2][3];

// The standard form's axial planes, the first nearest a face's normal giving its texture axes:
// the plane's axis and sign, then those of s and of t.
constexpr int axial[6][6] = {{2, 1, 0, 1, 1, -1},  {2, -1, 0, 1, 1, -1}, {0, 1, 1, 1, 2, -1},
                             {0, -1, 1, 1, 2, -1}, {1, 1, 0, 1, 2, -1},  {1, -1, 0, 1, 2, -1}};
const int *nearestAxial(const Vec &n)
{
    const int *best = axial[0];
    for (const int *a : axial)
        best = n[size_t(a[0])] * a[1] > n[size_t(best[0])] * best[1] ? a : best;
    return best;
}

// The standard form's texture axes for a face on a plane with `normal`: xoff yoff rotation
// xscale yscale.
void classicAxes(const Vec &normal, const double (&x)[5], double (&vecs)[2][4])
{
    const int *a = nearestAxial(normal);
    const double turn = x[2] * M_PI / 180, c = std::cos(turn), s = std::sin(turn);
    const double scale[2] = {x[3] == 0 ? 1 : x[3], x[4] == 0 ? 1 : x[4]};
    vecs[0][0] = vecs[0][1] = vecs[0][2] = vecs[1][0] = vecs[1][1] = vecs[1][2] = 0;
    vecs[0][a[2]] = c * a[3] / scale[0], vecs[0][a[4]] = s * a[3] / scale[0];
    vecs[1][a[2]] = -s * a[5] / scale[1], vecs[1][a[4]] = c * a[5] / scale[1];
    vecs[0][3] = x[0], vecs[1][3] = x[1];
}

// Quoted strings of any bytes, words, braces and parentheses; `//` comments
// are skipped. What does not read is thrown as its reason.
class Parser {
public:
    explicit Parser(const QByteArray &text)
    {
        static const QRegularExpression token(R"re("([^"]*)"|//.*|[{}()]|[^\s{}()"]+|")re");
        for (const QRegularExpressionMatch &m : token.globalMatch(QString::fromLatin1(text)))
            if (!m.captured().startsWith("//"))
                tokens.push_back(
                    {m.hasCaptured(1) ? m.captured(1) : m.captured(), m.hasCaptured(1)});
            else if (tokens.empty())
                header << m.captured().trimmed().toLatin1();
    }

    bool done() const { return next >= tokens.size(); }
    bool accept(const char *word)
    {
        return !done() && tokens[next] == Token{word, false} && ++next;
    }
    void expect(const char *word) { accept(word) || fail(word); }
    bool fail(const char *what) const
    {
        throw QString("%1 expected at token %2").arg(what).arg(next);
    }
    QByteArray take(bool quoted)
    {
        if (done() || tokens[next].second != quoted)
            fail(quoted ? "a quoted value" : "a word");
        return tokens[next++].first.toLatin1();
    }

    // Numbers up to the next other token; the brackets in `skip` are passed over.
    std::vector<double> numbers(const char *skip)
    {
        std::vector<double> v;
        for (bool ok = true; !done() && !tokens[next].second; ++next) {
            if (tokens[next].first.size() == 1 && QLatin1String(skip).contains(tokens[next].first))
                continue;
            if (v.push_back(tokens[next].first.toDouble(&ok)); !ok)
                return v.pop_back(), v;
        }
        return v;
    }

    // Brushes hold faces: classic ones 3 points, shader, offsets, rotation, scales,
    // contents, flags, value; Valve ones 3 points, shader, [ u offset ] [ v offset ],
    // rotation, scales, contents, flags, value; brushDef ones 3 points, a 2x3 matrix,
    // shader, contents, flags, value. Patches: { shader ( width height 0 0 0 ) ( width rows of (
    // height points of ( x y z s t ) ) ) }.
    Entity entity()
    {
        Entity e;
        for (expect("{"); !accept("}");) {
            if (!done() && tokens[next].second) {
                const QByteArray key = take(true);
                e.keys.append({key, take(true)});
                continue;
            }
            expect("{");
            if (accept("patchDef2")) {
                expect("{");
                Patch &p = e.patches.emplace_back();
                p.shader = take(false);
                const std::vector<double> v = numbers("()");
                if (v.size() < 5 || v.size() != 5 + 5 * size_t(v[0] * v[1]))
                    fail("a patch");
                p.width = int(v[0]), p.height = int(v[1]), p.points.assign(v.begin() + 5, v.end());
                expect("}"), expect("}");
                continue;
            }
            const bool brushDef = accept("brushDef") && (expect("{"), true);
            for (auto &faces = e.brushes.emplace_back(); !accept("}");) {
                const std::vector<double> v = numbers("()");
                Face &f = faces.emplace_back();
                f.shader = take(false);
                f.brushDef = brushDef, f.valve = !done() && tokens[next] == Token{"[", false};
                std::vector<double> r = numbers(f.valve ? "[]" : "");
                const size_t n = brushDef ? 3 : f.valve ? 14 : 8;
                if (!brushDef && r.size() == n - 3) // Quake's faces end at the scales
                    r.resize(n);
                if (v.size() != (brushDef ? 15u : 9u) || r.size() != n)
                    fail("a face");
                for (size_t k = 0; k < v.size(); ++k)
                    (k < 9 ? f.points[k / 3][k % 3] : f.matrix[(k - 9) / 3][k % 3]) = v[k];
                // Flags may be written unsigned.
                f.contents = int(qint64(r[n - 3])), f.flags = int(qint64(r[n - 2]));
                f.value = int(qint64(r[n - 1]));
                for (size_t k = 0; k < 8 && f.valve; ++k)
                    f.vecs[k / 4][k % 4] = k % 4 == 3 ? r[k] : r[k] / r[9 + k / 4];
                if (!f.valve && !brushDef)
                    classicAxes(facePlane(f).normal, {r[0], r[1], r[2], r[3], r[4]}, f.vecs);
            }
            brushDef && (expect("}"), true);
        }
        return e;
    }

    using Token = std::pair<QString, bool>; // text, quoted
    std::vector<Token> tokens;
    QByteArrayList header;
    size_t next = 0;
};

Winding baseWinding(const Bsp::Plane &p)
{
    const Vec &n = p.normal;
    const bool upright = std::abs(n[2]) > std::max(std::abs(n[0]), std::abs(n[1]));
    const Vec away = (upright ? Vec{1, 0, 0} : Vec{0, 0, 1}) - n * n[upright ? 0 : 2];
    const Vec up = away * (1 / length(away));
    const Vec right = cross(up, n) * (1 << 20), o = n * p.dist, far = up * (1 << 20);
    return {o - right + far, o + right + far, o + right - far, o - right - far};
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
            out.push_back(a + (b - a) * (da / (da - db)));
    }
    return out;
}

// A texture mapping as it falls on a plane: nothing along the axis the standard form
// projects along, the offset moved so that every point of the plane keeps its texel.
std::array<double, 8> onPlane(const double (&v)[2][4], const Bsp::Plane &p)
{
    const size_t a = size_t(nearestAxial(p.normal)[0]);
    std::array<double, 8> m;
    for (size_t i = 0; i < 2; ++i) {
        const double along = v[i][a] / p.normal[a];
        for (size_t k = 0; k < 3; ++k)
            m[4 * i + k] = v[i][k] - p.normal[k] * along;
        m[4 * i + 3] = v[i][3] + along * p.dist;
    }
    return m;
}

bool sameMapping(const double (&a)[2][4], const double (&b)[2][4], const Bsp::Plane &p)
{
    const std::array<double, 8> x = onPlane(a, p), y = onPlane(b, p);
    return std::equal(x.begin(), x.end(), y.begin(),
                      [](double c, double d) { return std::abs(c - d) <= 1e-4; });
}

// The standard form turns and scales the axial axes: it holds a mapping whose axes,
// projected, are at right angles.
bool classicHolds(const double (&v)[2][4], const Bsp::Plane &p)
{
    const std::array<double, 8> m = onPlane(v, p);
    const Vec s{m[0], m[1], m[2]}, t{m[4], m[5], m[6]};
    return std::abs(dot(s, t)) <= 1e-4 * length(s) * length(t) && length(s) * length(t) > 0;
}

// How far the compiler's snapping to 1/8 unit moves a drawn vertex off its face.
constexpr double snap = 0.125;

bool inside(const Winding &w, const Vec &n, const Vec &c)
{
    int front = 0, back = 0;
    for (size_t k = 0; k < w.size(); ++k) {
        const Vec e = w[(k + 1) % w.size()] - w[k];
        const double side = dot(cross(e, c - w[k]), n) / std::max(length(e), 1e-9);
        front += side > snap;
        back += side < -snap;
    }
    return front == 0 || back == 0;
}

// A drawn triangle in the axis base of the face it lies on: where an editor
// puts its corners in the texture plane, and their st.
struct Drawn {
    double x[3], y[3], st[3][2];
};

void axisBase(Vec n, Vec &s, Vec &t)
{
    for (double &c : n)
        c = std::abs(c) < 1e-6 ? 0 : c;
    const double rotY = -std::atan2(n[2], std::hypot(n[0], n[1])), rotZ = std::atan2(n[1], n[0]);
    s = {-std::sin(rotZ), std::cos(rotZ), 0};
    t = {-std::sin(rotY) * std::cos(rotZ), -std::sin(rotY) * std::sin(rotZ), -std::cos(rotY)};
}

Drawn inAxisBase(const Face &f, const Vec (&v)[3], const float (&st)[3][2])
{
    Vec s, t;
    axisBase(facePlane(f).normal, s, t);
    Drawn d;
    for (int k = 0; k < 3; ++k)
        d.x[k] = dot(v[k], s), d.y[k] = dot(v[k], t), d.st[k][0] = st[k][0], d.st[k][1] = st[k][1];
    return d;
}

// The st difference at each corner, in repeats, between a texture matrix and
// the BSP, once the triangle's whole-repeat shift is taken off.
std::array<double, 3> cornerErrors(const Matrix &m, const Drawn &d)
{
    std::array<double, 3> errors{};
    for (int c = 0; c < 2; ++c) {
        double diff[3];
        for (int k = 0; k < 3; ++k)
            diff[k] = m[c][0] * d.x[k] + m[c][1] * d.y[k] + m[c][2] - d.st[k][c];
        const double shift = std::round((diff[0] + diff[1] + diff[2]) / 3);
        for (size_t k = 0; k < 3; ++k)
            errors[k] = std::max(errors[k], std::abs(diff[k] - shift));
    }
    return errors;
}

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
            const auto [at, inserted] = first.insert({{d.x[k], d.y[k], d.st[k][0], d.st[k][1]}, i});
            parent[root(i)] = root(at->second);
        }
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = root(i);
    return parent;
}

// Whether corner k of triangle i was given up for others: no affine mapping fits
// it together with another triangle's corners, or with three corners of one
// piece that the matrix fits, whatever whole repeat it sits from them. Four
// points in the plane have weights l, sum l = 0, sum l p = 0, so any mapping's
// errors e there satisfy |sum l st| = |sum l e| <= max|e| sum |l|.
bool givenUp(const std::vector<Drawn> &triangles, const std::vector<std::array<double, 3>> &errors,
             const std::vector<size_t> &piece, size_t i, int k, double tolerance)
{
    struct Point {
        double x, y, st[2], far;
    };
    const Drawn &c = triangles[i];
    const Point at{c.x[k], c.y[k], {c.st[k][0], c.st[k][1]}, 0};
    // The fitted corners by piece, then each other triangle's own.
    std::map<size_t, std::vector<Point>> groups;
    for (size_t j = 0; j < triangles.size(); ++j)
        for (int m = 0; m < 3; ++m) {
            const Drawn &d = triangles[j];
            const Point p{
                d.x[m], d.y[m], {d.st[m][0], d.st[m][1]}, std::hypot(d.x[m] - at.x, d.y[m] - at.y)};
            if (errors[j][size_t(m)] <= tolerance && p.far > 0)
                groups[piece[j]].push_back(p);
            if (j != i)
                groups[triangles.size() + j].push_back(p);
        }
    const auto area = [](const Point &a, const Point &b, const Point &e) {
        return (b.x - a.x) * (e.y - a.y) - (e.x - a.x) * (b.y - a.y);
    };
    for (auto &[key, group] : groups) {
        std::sort(group.begin(), group.end(), [](auto &a, auto &b) { return a.far < b.far; });
        const auto same = [](auto &a, auto &b) { return a.x == b.x && a.y == b.y; };
        group.erase(std::unique(group.begin(), group.end(), same), group.end());
        // The nearest and the farthest are enough to find a contradiction that is there.
        if (constexpr size_t ends = 8; group.size() > 2 * ends)
            group.erase(group.begin() + ends, group.end() - ends);
        for (size_t a = 0; a < group.size(); ++a)
            for (size_t b = a + 1; b < group.size(); ++b)
                for (size_t e = b + 1; e < group.size(); ++e) {
                    const Point *q[4] = {&at, &group[a], &group[b], &group[e]};
                    const double l[4] = {area(*q[1], *q[2], *q[3]), -area(*q[0], *q[2], *q[3]),
                                         area(*q[0], *q[1], *q[3]), -area(*q[0], *q[1], *q[2])};
                    double sum = 0, st[2] = {};
                    for (int n = 0; n < 4; ++n) {
                        sum += std::abs(l[n]);
                        st[0] += l[n] * q[n]->st[0], st[1] += l[n] * q[n]->st[1];
                    }
                    for (const double x : st)
                        if (std::abs(x - (l[0] ? std::round(x / l[0]) * l[0] : 0)) >
                            tolerance * sum)
                            return true;
                }
    }
    return false;
}

// How far the corners reach beyond the plane; infinite for an open solid,
// which keeps corners of the base windings.
double beyond(const std::vector<Winding> &corners, const Bsp::Plane &p)
{
    double reach = -INFINITY;
    for (const Winding &w : corners)
        for (const Vec &c : w)
            reach = std::max(reach, length(c) > (1 << 19) ? INFINITY : dot(p.normal, c) - p.dist);
    return reach;
}

// A brush worth writing: its corners close a solid at least 0.01 thick across each plane.
bool closedSolid(const std::vector<Bsp::Plane> &planes, const std::vector<Winding> &corners)
{
    return std::all_of(planes.begin(), planes.end(), [&](const Bsp::Plane &p) {
        const double across = beyond(corners, {p.normal * -1, -p.dist});
        return across >= 0.01 && across < INFINITY;
    });
}

QByteArray point(const Vec &p)
{
    return QString::asprintf("%g %g %g", p[0], p[1], p[2]).toLatin1();
}

std::vector<Bsp::Plane> planesOf(const std::vector<Face> &faces)
{
    std::vector<Bsp::Plane> planes;
    for (const Face &x : faces)
        planes.push_back(facePlane(x));
    return planes;
}

template <class... T> void say(Fidelity &f, const char *format, T... args)
{
    f.problems << QString::asprintf(format, args...);
}

class Comparison {
public:
    const Bsp &bsp;
    const bool classic, valve;
    Fidelity &f;

    // The brushes of an entity, and the surfaces of model `m` unless it is -1; Quake 2's
    // rotating entities have `origins` origin brushes.
    void model(int m, const std::vector<int> &brushes, const Vec &origin, const Entity &e,
               int origins)
    {
        std::vector<const std::vector<Face> *> written;
        for (const std::vector<Face> &faces : e.brushes)
            if (bsp.quake2() && !faces.empty() && faces[0].contents & 0x01000000)
                originBrush(faces, origin);
            else
                written.push_back(&faces);
        if (const size_t n = e.brushes.size() - written.size(); n != size_t(origins))
            say(f, "model %d: %zu origin brushes, not %d", m, n, origins);
        size_t next = 0;
        for (const int b : brushes) {
            // Its planes, moved out of the model to `origin`.
            const auto [firstSide, sides, contents] = bsp.brushes[size_t(b)];
            std::vector<Bsp::Plane> planes;
            for (int s = firstSide; s < firstSide + sides; ++s) {
                const Bsp::Plane &p = bsp.planes[size_t(bsp.sides[size_t(s)][0])];
                planes.push_back({p.normal, p.dist + dot(p.normal, origin)});
            }
            if (!closedSolid(planes, sideWindings(planes)))
                continue;
            // Each plane once, if the solid of the others reaches beyond it.
            for (size_t k = 0; k < planes.size(); ++k) {
                const auto same = [&](const Bsp::Plane &p) { return samePlane(p, planes[k]); };
                std::vector<Bsp::Plane> others;
                std::remove_copy_if(planes.begin(), planes.end(), std::back_inserter(others), same);
                if (std::none_of(planes.begin(), planes.begin() + qsizetype(k), same))
                    ++(beyond(sideWindings(others), planes[k]) > 0.01 ? f.sidesWithFaces
                                                                      : f.bevels);
            }
            ++f.brushesBsp;
            // Structural brushes build the tree: an opaque one never stands in a leaf
            // with a cluster, and one that does was detail.
            const bool detail =
                (contents & 0x08000000) ||
                (m == 0 && bsp.open.contains(b) && (contents & 1) && !(contents & 0x30000000));
            f.detailBsp += detail;
            if (next++ < written.size())
                f.contents.push_back(contents),
                    compareBrush(b, planes, detail, *written[next - 1], origin);
        }
        f.brushesMap += int(written.size());
        if (next != written.size())
            say(f, "model %d: %zu brushes written, not %zu", m, written.size(), next);
        f.patchesMap += int(e.patches.size());
        if (m < 0)
            return;
        size_t patches = 0;
        for (int s = bsp.models[size_t(m)][0];
             s < bsp.models[size_t(m)][0] + bsp.models[size_t(m)][1]; ++s) {
            const Bsp::Surface &surface = bsp.surfaces[size_t(s)];
            const Bsp::Shader &shader = bsp.shaders[size_t(surface.shader)];
            if (surface.type == 2 &&
                (++f.patchesBsp,
                 patches >= e.patches.size() || !samePatch(e.patches[patches++], surface, origin)))
                say(f, "model %d: patch surface %d differs", m, s);
            else if (surface.type == 1 && !(shader.surfaceFlags & 0x80))
                triangles(surface, origin, byShader[shader.name]);
        }
        for (auto it = drawn.begin(); it != drawn.end(); ++it)
            judgeTexture(*it.key(), it.value());
    }

    // A new brush of origin contents, closed and centred on the entity's origin.
    void originBrush(const std::vector<Face> &faces, const Vec &origin)
    {
        const std::vector<Bsp::Plane> planes = planesOf(faces);
        const std::vector<Winding> corners = sideWindings(planes);
        const auto [lo, hi] = bounds(corners);
        ++f.originBrushes;
        if (!closedSolid(planes, corners) || length((lo + hi) * 0.5 - origin) > 0.01)
            say(f, "origin brush at (%s) not an origin brush around (%s)",
                point(faces[0].points[0]).data(), point(origin).data());
    }

    // Every corner of a face's triangles must be within 1e-3 of a repeat, save
    // those that no affine mapping can bring there together with other corners
    // of the face that fit: the compiler snaps some vertices after texturing
    // them. A face with more than a quarter of its corners given up is wrong.
    void judgeTexture(const Face &face, const std::vector<Drawn> &triangles)
    {
        constexpr double tolerance = 1e-3;
        std::vector<std::array<double, 3>> errors;
        for (const Drawn &d : triangles)
            errors.push_back(cornerErrors(face.matrix, d));
        const std::vector<size_t> piece = pieces(triangles);
        int fits = 0, excused = 0;
        for (size_t i = 0; i < triangles.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                const double error = errors[i][size_t(k)];
                if (error <= tolerance)
                    ++fits;
                else if (givenUp(triangles, errors, piece, i, k, tolerance))
                    ++excused;
                else
                    say(f, "texture off by %g at (%g %g) on a face at (%s)", error,
                        triangles[i].x[k], triangles[i].y[k], point(face.points[0]).data());
            }
        if (4 * excused > fits + excused)
            say(f, "texture fits %d corners, gives up %d on a face at (%s)", fits, excused,
                point(face.points[0]).data());
        f.cornersExcused += excused;
        f.facesJudged += 1;
    }

    void compareBrush(int b, const std::vector<Bsp::Plane> &planes, bool detail,
                      const std::vector<Face> &faces, const Vec &origin)
    {
        const auto [firstSide, sides, contents] = bsp.brushes[size_t(b)];
        f.detailMap += !faces.empty() && faces[0].contents & 0x08000000;
        // Sides that touch the brush, bevels too, may each give a face.
        const std::vector<Winding> touching = sideWindings(planes, 0.01);
        const std::vector<Bsp::Plane> own = planesOf(faces);
        for (const Face &x : faces) {
            bool textured = false, approximated = false;
            for (size_t k = 0; k < planes.size() && !(textured && bsp.quake2()); ++k) {
                if (touching[k].empty() || !samePlane(own[size_t(&x - faces.data())], planes[k]))
                    continue;
                const Bsp::Shader &s = bsp.shaders[size_t(bsp.sides[size_t(firstSide) + k][1])];
                if (x.shader != s.name)
                    continue;
                if (bsp.quake2())
                    textured = texinfoFits(x, s, planes[k], origin, approximated);
                else
                    textured = true, placed.push_back({touching[k], planes[k], &x}),
                    byShader[s.name].push_back(placed.size() - 1);
            }
            ++f.faces;
            f.facesApproximated += textured && approximated;
            if (!textured)
                say(f, "brush %d: face %s at (%s) matches no side of its texture", b,
                    x.shader.data(), point(x.points[0]).data());
            if (bool(x.contents & 0x08000000) != detail)
                say(f, "brush %d: detail flag %s", b, detail ? "lost" : "added");
            if (bsp.quake2() && x.contents != contents)
                say(f, "brush %d: contents %#x, not %#x", b, x.contents, contents);
            if (x.brushDef != (!classic && !valve) || x.valve != valve)
                say(f, "brush %d: face in the wrong form", b);
        }
        // The faces written must close a solid, and a side may be left out only when
        // that solid reaches no further than 0.01 beyond it.
        const std::vector<Winding> corners = sideWindings(own);
        if (!closedSolid(own, corners))
            return say(f, "brush %d: its faces close no solid", b);
        for (size_t k = 0; k < planes.size(); ++k)
            if (const double out = beyond(corners, planes[k]); out > 0.01)
                say(f, "brush %d: side %zu left out, %g units of brush past it", b, k, out);
    }

    // Whether a face carries a side's texinfo, which Quake 2 keeps around the origin, or
    // what the standard form can hold of it.
    bool texinfoFits(const Face &x, const Bsp::Shader &s, const Bsp::Plane &p, const Vec &origin,
                     bool &approximated) const
    {
        double vecs[2][4];
        for (size_t i = 0; i < 2; ++i) {
            std::copy(s.vecs[i], s.vecs[i] + 4, vecs[i]);
            vecs[i][3] -= dot({vecs[i][0], vecs[i][1], vecs[i][2]}, origin);
        }
        approximated = classic && !classicHolds(vecs, p);
        return x.flags == s.surfaceFlags && x.value == s.value &&
               (approximated || sameMapping(x.vecs, vecs, p));
    }

    // Points exact as floats, after the model's origin; st within a whole-repeat shift for the
    // patch.
    bool samePatch(const Patch &p, const Bsp::Surface &s, const Vec &origin)
    {
        if (p.shader != bsp.shaders[size_t(s.shader)].name || p.width != s.width ||
            p.height != s.height || s.width * s.height > s.verts)
            return false;
        double shift[2] = {};
        for (int i = 0; i < s.width; ++i)
            for (int j = 0; j < s.height; ++j) {
                const double *point = &p.points[size_t(5 * (i * s.height + j))];
                const Bsp::Vertex &v = bsp.vertices[size_t(s.firstVert + j * s.width + i)];
                for (size_t k = 0; k < 3; ++k)
                    if (float(point[k]) != float(double(v.xyz[k]) + origin[k]))
                        return false;
                for (size_t c = 0; c < 2; ++c)
                    if (shift[c] = i == 0 && j == 0 ? std::round(point[3 + c] - v.st[c]) : shift[c];
                        std::abs(point[3 + c] - shift[c] - v.st[c]) >
                        1e-6 * (1 + std::abs(v.st[c])))
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
            for (int k = 0; k < 3; ++k) {
                const int at = s.firstVert + bsp.indexes[size_t(s.firstIndex + t + k)];
                const Bsp::Vertex &x = bsp.vertices[size_t(at)];
                v[k] = Vec{x.xyz[0], x.xyz[1], x.xyz[2]} + origin;
                std::copy(x.st, x.st + 2, st[k]);
            }
            const double longest =
                std::max({length(v[1] - v[0]), length(v[2] - v[1]), length(v[0] - v[2])});
            // Clockwise seen from the front; a sliver along an edge carries no texture direction
            // across it.
            const Vec normal = cross(v[2] - v[0], v[1] - v[0]),
                      centre = (v[0] + v[1] + v[2]) * (1.0 / 3);
            if (length(normal) < 0.5 * longest)
                continue;
            ++f.triangles;
            double best = INFINITY;
            const Face *face = nullptr;
            for (const size_t i : faces) {
                const Placed &p = placed[i];
                bool on = dot(normal, p.plane.normal) > 0;
                for (const Vec &x : v)
                    on = on && std::abs(dot(p.plane.normal, x) - p.plane.dist) <= snap;
                if (!on || !inside(p.winding, p.plane.normal, centre))
                    continue;
                const auto e = classic ? std::array<double, 3>{}
                                       : cornerErrors(p.face->matrix, inAxisBase(*p.face, v, st));
                if (std::max({e[0], e[1], e[2]}) < best)
                    best = std::max({e[0], e[1], e[2]}), face = p.face;
            }
            if (face && ++f.trianglesOnFaces && !classic)
                drawn[face].push_back(inAxisBase(*face, v, st));
        }
    }

    struct Placed {
        Winding winding;
        Bsp::Plane plane;
        const Face *face;
    };
    std::vector<Placed> placed;                      // the faces of the current model
    QHash<QByteArray, std::vector<size_t>> byShader; // the faces of each shader
    QHash<const Face *, std::vector<Drawn>> drawn;   // each face's triangles
};

void readQuake3(const QByteArray &b, Bsp &bsp)
{
    const Lump shaders = lumpOf(b, 1);
    for (const auto &r : records<int>(b, shaders, std::string(16, 'x') + "ii", 72)) {
        const QByteArray name = nameAt(b, shaders.at + 72 * qint64(bsp.shaders.size()), 64);
        bsp.shaders.push_back({name.mid(name.startsWith("textures/") ? 9 : 0), r[0], r[1]});
    }
    const auto listed = records<int>(b, lumpOf(b, 6), "i", 4);
    for (const auto &r : records<int>(b, lumpOf(b, 4), "ixxxxxxxxxii", 48))
        for (int k = r[1]; k < r[1] + r[2] && r[0] >= 0; ++k)
            bsp.open.insert(listed[size_t(k)][0]);
    for (const auto &r : records<int>(b, lumpOf(b, 7), "xxxxxxiiii", 40)) {
        bsp.models.push_back({r[0], r[1], 0});
        std::vector<int> &brushes = bsp.modelBrushes.emplace_back(size_t(r[3]));
        std::iota(brushes.begin(), brushes.end(), r[2]);
    }
    for (const auto &r : records<int>(b, lumpOf(b, 9), "ii", 8))
        bsp.sides.push_back({r[0], r[1]});
    for (const auto &r : records(b, lumpOf(b, 10), "fffff", 44))
        bsp.vertices.push_back(
            {{float(r[0]), float(r[1]), float(r[2])}, {float(r[3]), float(r[4])}});
    for (const auto &r : records<int>(b, lumpOf(b, 11), "i", 4))
        bsp.indexes.push_back(r[0]);
    for (const auto &r :
         records<int>(b, lumpOf(b, 13), "ixiiiii" + std::string(17, 'x') + "ii", 104))
        bsp.surfaces.push_back({r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]});
}

void readQuake2(const QByteArray &b, Bsp &bsp)
{
    const Lump texinfo = lumpOf(b, 5);
    for (const auto &r : records(b, texinfo, "ffffffffii", 76)) {
        const qint64 at = texinfo.at + 76 * qint64(bsp.shaders.size());
        Bsp::Shader &s =
            bsp.shaders.emplace_back(Bsp::Shader{nameAt(b, at + 40, 32), int(r[8]), 0, int(r[9])});
        std::copy(r.begin(), r.begin() + 8, &s.vecs[0][0]);
    }
    bsp.shaders.emplace_back(); // for sides without a texinfo
    for (const auto &r : records<int>(b, lumpOf(b, 15), "us", 4))
        bsp.sides.push_back({r[0], r[1] < 0 ? int(bsp.shaders.size()) - 1 : r[1]});
    const auto nodes = records<int>(b, lumpOf(b, 4), "xii", 28);       // front, back
    const auto leaves = records<int>(b, lumpOf(b, 8), "xxxxxxuu", 28); // first brush, brushes
    const auto listed = records<int>(b, lumpOf(b, 10), "u", 2);
    // A model's brushes are those the leaves of its tree list, each once.
    for (const auto &r : records<int>(b, lumpOf(b, 13), "xxxxxxxxxi", 48)) {
        std::set<int> brushes;
        for (std::vector<int> todo{r[0]}; !todo.empty();) {
            const int n = todo.back();
            todo.pop_back();
            if (n >= 0)
                todo.insert(todo.end(), {nodes[size_t(n)][0], nodes[size_t(n)][1]});
            for (int k = 0; n < 0 && k < leaves[size_t(-1 - n)][1]; ++k)
                brushes.insert(listed[size_t(leaves[size_t(-1 - n)][0] + k)][0]);
        }
        bsp.models.push_back({0, 0, r[0]});
        bsp.modelBrushes.emplace_back(brushes.begin(), brushes.end());
    }
}

} // namespace

Lump lumpOf(const QByteArray &b, int k, int directory)
{
    const auto r = records<int>(b, {directory + 8 * k, 8}, "ii", 8);
    return {r[0][0], r[0][1]};
}

template <class T>
std::vector<std::vector<T>> records(const QByteArray &b, Lump lump, std::string_view types,
                                    int size)
{
    const auto field = [&]<class F>(qint64 at, F v) {
        if (at >= 0 && at + qint64(sizeof v) <= b.size())
            std::memcpy(&v, b.constData() + at, sizeof v);
        return T(v);
    };
    std::vector<std::vector<T>> rows;
    for (qint64 at = lump.at; at + size <= lump.at + lump.size; at += size) {
        std::vector<T> &r = rows.emplace_back();
        for (qint64 o = at; const char c : types) {
            if (c != 'x')
                r.push_back(c == 'i'   ? field(o, qint32())
                            : c == 'U' ? field(o, quint32())
                            : c == 's' ? field(o, qint16())
                            : c == 'u' ? field(o, quint16())
                                       : field(o, float()));
            o += c == 's' || c == 'u' ? 2 : 4;
        }
    }
    return rows;
}
template std::vector<std::vector<int>> records(const QByteArray &, Lump, std::string_view, int);
template std::vector<std::vector<double>> records(const QByteArray &, Lump, std::string_view, int);

QByteArray nameAt(const QByteArray &b, qint64 at, int size)
{
    const QByteArray name = b.mid(at, size);
    return name.first(qsizetype(qstrnlen(name.constData(), size_t(name.size()))));
}

QByteArray valueOf(const Keys &keys, const QByteArray &key)
{
    const auto at = std::find_if(keys.begin(), keys.end(), [&](auto &k) { return k.first == key; });
    return at == keys.end() ? QByteArray() : at->second;
}

bool samePlane(const Bsp::Plane &a, const Bsp::Plane &b)
{
    const Vec d = a.normal - b.normal;
    return std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])}) <= 1e-5 &&
           std::abs(a.dist - b.dist) <= 0.01;
}

std::pair<Vec, Vec> bounds(const std::vector<Winding> &windings)
{
    Vec lo{INFINITY, INFINITY, INFINITY}, hi = lo * -1;
    for (const Winding &w : windings)
        for (const Vec &c : w)
            for (size_t a = 0; a < 3; ++a)
                lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
    return {lo, hi};
}

int leafAt(const std::vector<std::array<int, 3>> &nodes, const std::vector<Bsp::Plane> &planes,
           int node, const Vec &p, double &nearest)
{
    nearest = INFINITY;
    for (size_t steps = 0; node >= 0 && steps <= nodes.size(); ++steps) {
        const Bsp::Plane &x = planes[size_t(nodes[size_t(node)][0])];
        const double d = dot(x.normal, p) - x.dist;
        nearest = std::min(nearest, std::abs(d));
        node = nodes[size_t(node)][d >= 0 ? 1 : 2];
    }
    return node;
}

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

Bsp::Plane facePlane(const Face &f)
{
    const auto &p = f.points;
    const Vec c = cross(p[0] - p[1], p[2] - p[1]), n = c * (1 / length(c));
    return {n, dot(p[0], n)};
}

bool boundsFace(const Winding &w)
{
    double area = 0, across = 0;
    for (size_t k = 2; k < w.size(); ++k)
        area += length(cross(w[k - 1] - w[0], w[k] - w[0])) / 2;
    for (const Vec &a : w)
        for (const Vec &b : w)
            across = std::max(across, length(a - b));
    return area > 1e-3 && area / across > 0.01; // about its width
}

Bsp readBsp(const QByteArray &b)
{
    Bsp bsp;
    bsp.version = records<int>(b, {4, 4}, "i", 4)[0][0];
    for (const auto &r :
         records(b, lumpOf(b, bsp.quake2() ? 1 : 2), "ffff", bsp.quake2() ? 20 : 16))
        bsp.planes.push_back({{r[0], r[1], r[2]}, r[3]});
    bsp.quake2() ? readQuake2(b, bsp) : readQuake3(b, bsp);
    // First side, sides, and contents or, in Quake III, the shader that gives them.
    for (const auto &r : records<int>(b, lumpOf(b, bsp.quake2() ? 14 : 8), "iii", 12))
        bsp.brushes.push_back(
            {r[0], r[1], bsp.quake2() ? r[2] : bsp.shaders[size_t(r[2])].contentFlags});
    const Lump text = lumpOf(b, 0);
    // Up to the first NUL; a text edited after compiling may have none.
    for (Parser p(nameAt(b, text.at, int(text.size))); !p.done();)
        bsp.entities.append(p.entity().keys);
    return bsp;
}

Parsed<Map> readMap(const QByteArray &text)
{
    Parsed<Map> r;
    try {
        Parser p(text);
        for (r.value.header = p.header; !p.done();)
            r.value.push_back(p.entity());
    } catch (const QString &error) {
        r.error = error;
    }
    return r;
}

// Quake III texel axes as the matrix in repeats over the face's axis base, by the image's size
// as the compiler takes it: the shader under textures/, else as named, else 64 x 64.
Map inRepeats(Map map, const std::function<QSize(const QByteArray &)> &images, Fidelity &f)
{
    for (Entity &e : map)
        for (std::vector<Face> &faces : e.brushes)
            for (Face &x : faces) {
                QSize size = images("textures/" + x.shader);
                size = size.isValid() ? size : images(x.shader);
                if (!size.isValid())
                    size = {64, 64}, ++f.facesAssumedSize;
                const double extent[2] = {double(size.width()), double(size.height())};
                const Bsp::Plane p = facePlane(x);
                Vec s, t;
                axisBase(p.normal, s, t);
                for (size_t r = 0; r < 2; ++r) {
                    const Vec v{x.vecs[r][0], x.vecs[r][1], x.vecs[r][2]};
                    x.matrix[r][0] = dot(v, s) / extent[r], x.matrix[r][1] = dot(v, t) / extent[r];
                    x.matrix[r][2] = (x.vecs[r][3] + p.dist * dot(v, p.normal)) / extent[r];
                }
            }
    return map;
}

Fidelity compare(const Bsp &bsp, const Map &written, bool classic,
                 const std::function<QSize(const QByteArray &)> *images)
{
    Fidelity f;
    const size_t entities = size_t(bsp.entities.size());
    const bool valve = (bsp.quake2() || images) && !classic;
    const Map map = valve && !bsp.quake2() ? inRepeats(written, *images, f) : written;
    const QPair<QByteArray, QByteArray> version{"mapversion", "220"};
    if (map.size() != entities)
        say(f, "%zu entities, not %zu", map.size(), entities);
    const QByteArray game = bsp.quake2() ? "2" : "3";
    if (valve && map.header.mid(0, 2) != QByteArrayList{"// Game: Quake " + game,
                                                        "// Format: Quake" + game + " (Valve)"})
        say(f, "not headed as a map of its game in the Valve form");
    // Quake 2 compiles area portals into the world; each brush goes back to a portal
    // entity, in the order of both.
    const auto isPortal = [&](int b) { return bsp.quake2() && bsp.brushes[size_t(b)][2] & 0x8000; };
    std::vector<int> portals;
    for (const int b : bsp.modelBrushes.empty() ? std::vector<int>() : bsp.modelBrushes[0])
        if (isPortal(b))
            portals.push_back(b);
    for (size_t e = 0; e < entities && e < map.size(); ++e) {
        const Keys &keys = bsp.entities[qsizetype(e)];
        const QByteArray model = valueOf(keys, "model"), classname = valueOf(keys, "classname");
        const int m = e == 0 ? 0 : model.startsWith('*') ? model.mid(1).toInt() : -1;
        std::vector<int> brushes =
            size_t(m) < bsp.models.size() ? bsp.modelBrushes[size_t(m)] : std::vector<int>();
        std::erase_if(brushes, [&](int b) { return m == 0 && isPortal(b); });
        if (classname == "func_areaportal" && size_t(f.portals) < portals.size())
            brushes.push_back(portals[size_t(f.portals++)]);
        Keys expected = keys, written = map[e].keys;
        expected.removeIf(
            [](const auto &k) { return k.first == "model" && k.second.startsWith('*'); });
        if (valve && e == 0 && (expected.removeOne(version), !written.removeOne(version)))
            say(f, "worldspawn without \"mapversion\" \"220\"");
        if (written != expected)
            say(f, "entity %zu differs", e);
        const QList<QByteArray> xyz = valueOf(keys, "origin").simplified().split(' ');
        const Vec origin = m > 0 && xyz.size() == 3
                               ? Vec{xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()}
                               : Vec{};
        const bool rotating = bsp.quake2() && m > 0 &&
                              (classname == "func_rotating" || classname == "func_door_rotating");
        Comparison{bsp, classic, valve, f, {}, {}, {}}.model(size_t(m) < bsp.models.size() ? m : -1,
                                                             brushes, origin, map[e], rotating);
    }
    if (size_t(f.portals) != portals.size())
        say(f, "%zu area portal brushes without their entity", portals.size() - size_t(f.portals));
    if (f.patchesMap != f.patchesBsp)
        say(f, "%d patches, not %d", f.patchesMap, f.patchesBsp);
    return f;
}

QByteArray unzip(const QString &zip, const QString &name)
{
    QByteArray data;
    zip_t *z = zip_open(QFile::encodeName(zip).constData(), ZIP_RDONLY, nullptr);
    zip_stat_t st;
    for (zip_int64_t i = 0; z && name.isEmpty() && i < zip_get_num_entries(z, 0); ++i)
        data += zip_get_name(z, zip_uint64_t(i), 0) + QByteArray("\n");
    if (z && !name.isEmpty() && zip_stat(z, name.toUtf8().constData(), 0, &st) == 0) {
        zip_file_t *f = zip_fopen_index(z, st.index, 0);
        data.resize(qsizetype(st.size));
        data.resize(qsizetype(zip_fread(f, data.data(), st.size)));
        zip_fclose(f);
    }
    if (z)
        zip_close(z);
    return data;
}

bool writeZip(const QString &zip, const QList<QPair<QByteArray, QByteArray>> &files)
{
    zip_t *z = zip_open(QFile::encodeName(zip).constData(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    // Stored as they are, so that a test can find and change an entry's bytes.
    for (const auto &[name, data] : files) {
        zip_source_t *source = zip_source_buffer(z, data.constData(), zip_uint64_t(data.size()), 0);
        const zip_int64_t at = zip_file_add(z, name.constData(), source, ZIP_FL_ENC_RAW);
        zip_set_file_compression(z, zip_uint64_t(at), ZIP_CM_STORE, 0);
    }
    return zip_close(z) == 0;
}

} // namespace check
