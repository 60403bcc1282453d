// An independent reader of IBSP files and .map text, and a comparison of the
// two, written from the file layouts alone so that it shares no mistake with
// the converter it judges.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSet>
#include <QSize>
#include <QStringList>

#include <array>
#include <cmath>
#include <functional>
#include <string_view>
#include <vector>

namespace check {

struct Vec : std::array<double, 3> {
    friend Vec operator+(Vec a, Vec b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
    friend Vec operator-(Vec a, Vec b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
    friend Vec operator*(Vec a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
    friend double dot(Vec a, Vec b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
    friend double length(Vec a) { return std::sqrt(dot(a, a)); }
    friend Vec cross(Vec a, Vec b)
    {
        return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    }
};
using Winding = std::vector<Vec>;
using Keys = QList<QPair<QByteArray, QByteArray>>;

// What reading can give: a value, or why not.
template <class T> struct Parsed {
    T value{};
    QString error;
    bool ok() const { return error.isEmpty(); }
};

struct Bsp {
    int version = 46; // 38: Quake 2
    // In Quake 2 a texinfo: no contents, a value, and texture axes in texels.
    struct Shader {
        QByteArray name;
        int surfaceFlags = 0, contentFlags = 0, value = 0;
        double vecs[2][4] = {};
    };
    struct Plane {
        Vec normal;
        double dist = 0;
    };
    struct Vertex {
        float xyz[3], st[2];
    };
    struct Surface {
        int shader, type, firstVert, verts, firstIndex, indexes, width, height;
    };
    QList<Keys> entities;
    std::vector<Shader> shaders;
    std::vector<Plane> planes;
    std::vector<std::array<int, 3>> models;         // first surface, surfaces, head node
    std::vector<std::vector<int>> modelBrushes;     // each model's, in the order of the lump
    std::vector<std::array<int, 3>> brushes, sides; // first side, sides, contents; plane, shader
    QSet<int> open;                                 // brushes that a leaf with a cluster lists
    std::vector<Vertex> vertices;
    std::vector<int> indexes;
    std::vector<Surface> surfaces;
    bool quake2() const { return version == 38; }
};

struct Face {
    std::array<Vec, 3> points;
    double matrix[2][3] = {}; // brushDef's
    double vecs[2][4] = {};   // the others', in texels: s = dot(p, vecs[0]) + vecs[0][3]
    bool brushDef = false, valve = false;
    QByteArray shader;
    int contents = 0, flags = 0, value = 0;
};
struct Patch {
    QByteArray shader;
    int width = 0, height = 0;
    std::vector<double> points; // x y z s t, width rows of height points
};
struct Entity {
    Keys keys;
    std::vector<std::vector<Face>> brushes;
    std::vector<Patch> patches;
};
struct Map : std::vector<Entity> {
    QByteArrayList header; // the comment lines before the first entity
};

// A lump's place in its file, from the directory entry `k`, which starts at `directory`.
struct Lump {
    qint64 at = 0, size = 0;
};
Lump lumpOf(const QByteArray &bytes, int k, int directory = 8);
// The leading fields of each `size`-byte record of a lump, a letter each: i int32, U uint32,
// s int16, u uint16, f float, x four bytes passed over. Bytes past the file read as 0.
template <class T = double>
std::vector<std::vector<T>> records(const QByteArray &bytes, Lump lump, std::string_view types,
                                    int size);
QByteArray nameAt(const QByteArray &bytes, qint64 at, int size); // NUL-padded
QByteArray valueOf(const Keys &keys, const QByteArray &key);
bool samePlane(const Bsp::Plane &a, const Bsp::Plane &b);
std::pair<Vec, Vec> bounds(const std::vector<Winding> &windings);
// The leaf (-1 - its index) that `p` falls in down a tree of plane, front, back from `node`;
// `nearest` is how close it passed a plane. A node number when the walk does not end.
int leafAt(const std::vector<std::array<int, 3>> &nodes, const std::vector<Bsp::Plane> &planes,
           int node, const Vec &p, double &nearest);

Bsp readBsp(const QByteArray &bytes); // a well-formed one
Parsed<Map> readMap(const QByteArray &text);

// Each side's winding, clipped by the other sides moved out by `grow`.
std::vector<Winding> sideWindings(const std::vector<Bsp::Plane> &planes, double grow = 0);
// Not the sliver that a bevel plane, stored in floats, shaves off its brush.
bool boundsFace(const Winding &w);
// The plane of a map face by the map compiler's rule.
Bsp::Plane facePlane(const Face &f);

struct Fidelity {
    // brushesBsp: those with a closed solid thicker than 0.01; sidesWithFaces: each plane
    // once, those without which the solid would reach more than 0.01 further; triangles: visible
    // planar ones, slivers left out.
    int brushesBsp = 0, brushesMap = 0, faces = 0, sidesWithFaces = 0, patchesBsp = 0,
        patchesMap = 0, triangles = 0, trianglesOnFaces = 0, detailBsp = 0, detailMap = 0;
    std::vector<int> contents; // of the BSP brush of each written brush, in the map's order
    // Corners no affine mapping fits together with the rest of their face; more than a
    // quarter of a face's is a problem.
    int cornersExcused = 0;
    // Sides that may go without a face, bevels; Quake 2: classic faces whose texinfo that
    // form cannot hold, origin brushes written (not in brushesMap), area portal brushes.
    int bevels = 0, facesApproximated = 0, originBrushes = 0, portals = 0;
    // Faces judged by their triangles, those of an assumed size.
    int facesJudged = 0, facesAssumedSize = 0;
    QStringList problems;
};

// Compares a BSP with the .map made from it: in the standard form when `classic`, else
// brushDef for Quake III and Valve 220 for Quake 2, or for Quake III when `images` give
// the sizes its texel axes are judged by (64 x 64 where they find none).
Fidelity compare(const Bsp &bsp, const Map &map, bool classic = false,
                 const std::function<QSize(const QByteArray &)> *images = nullptr);

QByteArray unzip(const QString &zip, const QString &name); // the names, one a line, for ""
bool writeZip(const QString &zip, const QList<QPair<QByteArray, QByteArray>> &files);

} // namespace check
