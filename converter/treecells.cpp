#include "treecells.h"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

namespace bsp2map {
namespace {

// Points closer than this to a plane count as on it.
constexpr double kOnPlane = 1e-3;
// A side whose polygon has less area than this is a sliver of clipping, not a side.
constexpr double kMinArea = 1e-4;

std::string str(std::int64_t n)
{
    return std::to_string(n);
}

Plane reversed(const Plane &p)
{
    return {p.normal * -1, -p.dist};
}

// Each side's polygon, cut from its plane by all the others; sides left with
// none are dropped.
void shape(Cell &cell)
{
    Winding scratch;
    std::vector<CellSide> kept;
    for (std::size_t i = 0; i < cell.sides.size(); ++i) {
        CellSide side = cell.sides[i];
        baseWinding(side.plane, side.winding);
        for (std::size_t j = 0; j < cell.sides.size() && side.winding.size() >= 3; ++j)
            if (j != i)
                clipToBack(side.winding, cell.sides[j].plane, kOnPlane, scratch);
        if (side.winding.size() >= 3 && windingArea(side.winding) > kMinArea)
            kept.push_back(std::move(side));
    }
    cell.sides = std::move(kept);
}

Cell boxCell(Vec3 mins, Vec3 maxs)
{
    Cell box{0, {}};
    for (int k = 0; k < 6; ++k) {
        Vec3 n;
        n[k / 2] = k % 2 ? -1 : 1;
        box.sides.push_back({{n, k % 2 ? -mins[k / 2] : maxs[k / 2]}, -1, -1, {}});
    }
    shape(box);
    return box;
}

struct Bounds {
    Vec3 mins{1e30, 1e30, 1e30}, maxs{-1e30, -1e30, -1e30};
    void add(Vec3 p)
    {
        for (int k = 0; k < 3; ++k) {
            mins[k] = std::min(mins[k], p[k]);
            maxs[k] = std::max(maxs[k], p[k]);
        }
    }
    bool touches(const Bounds &o) const
    {
        for (int k = 0; k < 3; ++k)
            if (mins[k] > o.maxs[k] + kOnPlane || o.mins[k] > maxs[k] + kOnPlane)
                return false;
        return true;
    }
};

// What joining needs of a cell, kept beside it.
struct Shape {
    Bounds bounds;
    bool alive = true;
};

Shape shapeOf(const Cell &cell)
{
    Shape s;
    for (const CellSide &side : cell.sides)
        for (const Vec3 &p : side.winding)
            s.bounds.add(p);
    return s;
}

bool allBehind(const Cell &cell, const Plane &plane)
{
    for (const CellSide &side : cell.sides)
        for (const Vec3 &p : side.winding)
            if (plane.distanceTo(p) > kOnPlane)
                return false;
    return true;
}

// Two cells, one behind a plane and one in front, make a convex whole only
// when their sides on it are the same polygon: the whole's cut by the plane.
bool sameFace(const CellSide &side, const Cell &other)
{
    const double area = windingArea(side.winding);
    return std::any_of(other.sides.begin(), other.sides.end(), [&](const CellSide &s) {
        return s.key == (side.key ^ 1) &&
               std::abs(windingArea(s.winding) - area) <= kOnPlane * (1 + area);
    });
}

bool samePlane(const CellSide &a, const CellSide &b)
{
    if (a.key >= 0 || b.key >= 0)
        return a.key == b.key;
    return a.plane.dist == b.plane.dist && a.plane.normal.x == b.plane.normal.x &&
           a.plane.normal.y == b.plane.normal.y && a.plane.normal.z == b.plane.normal.z;
}

// The union of a and b as one cell, if it is convex and no plane would show
// two things; `key` is that of a's side on the plane between them. Convex
// exactly when each of a's other planes has all of b behind it, and the other
// way round: cut by the plane, the union gives back a and b.
bool join(const Cell &a, const Cell &b, std::int32_t key, Cell &out)
{
    const auto apart = [](const CellSide &side, const Cell &other, std::int32_t between) {
        return side.key != between && !allBehind(other, side.plane);
    };
    if (std::any_of(a.sides.begin(), a.sides.end(), [&](auto &s) { return apart(s, b, key); }) ||
        std::any_of(b.sides.begin(), b.sides.end(), [&](auto &s) { return apart(s, a, key ^ 1); }))
        return false;
    out.contents = a.contents;
    out.sides.clear();
    for (const CellSide &side : a.sides)
        if (side.key != key)
            out.sides.push_back(side);
    for (const CellSide &side : b.sides) {
        if (side.key == (key ^ 1))
            continue;
        const auto same = std::find_if(out.sides.begin(), out.sides.end(),
                                       [&](const CellSide &s) { return samePlane(s, side); });
        if (same == out.sides.end()) {
            out.sides.push_back(side);
        } else if (side.label >= 0) {
            if (same->label >= 0 && same->label != side.label)
                return false;
            same->label = side.label;
        }
    }
    shape(out);
    return true;
}

} // namespace

void splitCell(Cell &cell, const Plane &plane, std::int32_t key, Cell &front, Cell &back)
{
    front.contents = back.contents = cell.contents;
    front.sides.clear();
    back.sides.clear();
    bool reachesFront = false, reachesBack = false;
    for (const CellSide &side : cell.sides)
        for (const Vec3 &p : side.winding) {
            const double d = plane.distanceTo(p);
            reachesFront |= d > kOnPlane;
            reachesBack |= d < -kOnPlane;
        }
    if (!reachesFront || !reachesBack) {
        std::swap((reachesFront ? front : back).sides, cell.sides);
        cell.sides.clear();
        return;
    }
    const Plane ahead = reversed(plane);
    Winding cap, scratch;
    baseWinding(plane, cap);
    for (CellSide &side : cell.sides) {
        clipToBack(cap, side.plane, kOnPlane, scratch);
        bool anyFront = false, anyBack = false;
        for (const Vec3 &p : side.winding) {
            const double d = plane.distanceTo(p);
            anyFront |= d > kOnPlane;
            anyBack |= d < -kOnPlane;
        }
        // Moved whole to the part it lies in; a side the plane cuts is cut in two.
        if (anyFront && anyBack) {
            CellSide part = side;
            clipToBack(part.winding, ahead, kOnPlane, scratch);
            if (part.winding.size() >= 3 && windingArea(part.winding) > kMinArea)
                front.sides.push_back(std::move(part));
            clipToBack(side.winding, plane, kOnPlane, scratch);
            if (side.winding.size() >= 3 && windingArea(side.winding) > kMinArea)
                back.sides.push_back(std::move(side));
        } else if (!anyFront && !anyBack) {
            front.sides.push_back(side);
            back.sides.push_back(std::move(side));
        } else {
            (anyFront ? front : back).sides.push_back(std::move(side));
        }
    }
    cell.sides.clear();
    if (cap.size() < 3)
        return;
    back.sides.push_back({plane, key, -1, cap});
    std::reverse(cap.begin(), cap.end());
    front.sides.push_back({ahead, key < 0 ? key : key ^ 1, -1, std::move(cap)});
}

void TreeCells::keyPlanes(std::span<const Plane> planes)
{
    using Exact = std::tuple<double, double, double, double>;
    std::map<Exact, std::int32_t> first;
    keys_.clear();
    for (std::size_t i = 0; i < planes.size(); ++i) {
        const Plane &p = planes[i];
        const auto found = first.find({-p.normal.x, -p.normal.y, -p.normal.z, -p.dist});
        if (found != first.end()) {
            keys_.push_back(found->second ^ 1);
            continue;
        }
        keys_.push_back(
            first.try_emplace({p.normal.x, p.normal.y, p.normal.z, p.dist}, std::int32_t(i * 2))
                .first->second);
    }
}

Result<void> TreeCells::build(const BspTree &tree, std::int32_t head, Vec3 mins, Vec3 maxs,
                              std::int32_t empty, std::uint64_t &steps, std::uint64_t maxSteps)
{
    cells_.clear();
    if (keys_.size() != tree.planes.size())
        keyPlanes(tree.planes);
    seen_.resize(tree.nodes.size(), 0);
    ++walk_;
    struct Pending {
        std::int32_t child;
        int depth;
        Cell cell;
    };
    std::vector<Pending> stack;
    stack.push_back({head, 0, boxCell(mins, maxs)});
    while (!stack.empty()) {
        Pending at = std::move(stack.back());
        stack.pop_back();
        if (at.cell.sides.size() < 4)
            continue;
        if (at.child < 0) {
            const std::int64_t leaf = -1 - std::int64_t(at.child);
            if (leaf >= std::int64_t(tree.leafContents.size()))
                return fail("folha " + str(leaf) + " fora do intervalo (0.." +
                            str(std::int64_t(tree.leafContents.size())) + ")");
            at.cell.contents = tree.leafContents[static_cast<std::size_t>(leaf)];
            if (at.cell.contents != empty)
                cells_.push_back(std::move(at.cell));
            continue;
        }
        if (std::size_t(at.child) >= tree.nodes.size())
            return fail("nó " + str(at.child) + " fora do intervalo (0.." +
                        str(std::int64_t(tree.nodes.size())) + ")");
        if (at.depth >= kMaxDepth)
            return fail("árvore profunda demais (mais de " + str(kMaxDepth) + " níveis)");
        // A tree meets each node once: a second time is a cycle, which would never end.
        auto &seen = seen_[static_cast<std::size_t>(at.child)];
        if (seen == walk_)
            return fail("a árvore passa duas vezes pelo nó " + str(at.child) + " (ciclo)");
        seen = walk_;
        if (++steps > maxSteps)
            return fail("modelos repetem a árvore além do razoável");
        const TreeNode node = tree.nodes[static_cast<std::size_t>(at.child)];
        if (node.plane < 0 || std::size_t(node.plane) >= tree.planes.size())
            return fail("nó " + str(at.child) + ": plano " + str(node.plane) +
                        " fora do intervalo (0.." + str(std::int64_t(tree.planes.size())) + ")");
        Pending front{node.children[0], at.depth + 1, {}}, back{node.children[1], at.depth + 1, {}};
        splitCell(at.cell, tree.planes[static_cast<std::size_t>(node.plane)],
                  key(node.plane, false), front.cell, back.cell);
        stack.push_back(std::move(back));
        stack.push_back(std::move(front));
    }
    return {};
}

void TreeCells::merge()
{
    std::vector<Shape> shapes;
    shapes.reserve(cells_.size());
    // The cell by each keyed side's plane and middle: two that can join have the
    // same polygon on the plane between them, and no two cells the same side.
    std::unordered_map<std::uint64_t, std::uint32_t> byFace;
    const auto faceKey = [](const CellSide &side, std::int32_t key) {
        Vec3 middle;
        for (const Vec3 &p : side.winding)
            middle = middle + p * (1.0 / double(side.winding.size()));
        std::uint64_t h = std::uint64_t(std::uint32_t(key));
        for (int k = 0; k < 3; ++k)
            h = h * 0x9E3779B97F4A7C15ull + std::uint64_t(std::int64_t(nearest(middle[k] * 16)));
        return h;
    };
    const auto list = [&](std::uint32_t i) {
        for (const CellSide &side : cells_[i].sides)
            if (side.key >= 0)
                byFace[faceKey(side, side.key)] = i;
    };
    byFace.reserve(cells_.size() * 8);
    for (std::uint32_t i = 0; i < cells_.size(); ++i) {
        shapes.push_back(shapeOf(cells_[i]));
        list(i);
    }
    Cell joined;
    for (std::uint32_t i = 0; i < cells_.size(); ++i) {
        for (bool again = shapes[i].alive; again;) {
            again = false;
            for (std::size_t s = 0; s < cells_[i].sides.size() && !again; ++s) {
                const std::int32_t key = cells_[i].sides[s].key;
                const auto found =
                    key < 0 ? byFace.end() : byFace.find(faceKey(cells_[i].sides[s], key ^ 1));
                if (found == byFace.end())
                    continue;
                const std::uint32_t j = found->second;
                if (j == i || !shapes[j].alive || cells_[j].contents != cells_[i].contents ||
                    !shapes[i].bounds.touches(shapes[j].bounds) ||
                    !sameFace(cells_[i].sides[s], cells_[j]) ||
                    !join(cells_[i], cells_[j], key, joined))
                    continue;
                std::swap(cells_[i], joined);
                shapes[i] = shapeOf(cells_[i]);
                shapes[j].alive = false;
                list(i);
                again = true;
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cells_.size(); ++i)
        if (shapes[i].alive && kept++ != i)
            cells_[kept - 1] = std::move(cells_[i]);
    cells_.resize(kept);
}

} // namespace bsp2map
