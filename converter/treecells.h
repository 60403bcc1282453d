// Brushes rebuilt from a BSP tree, for formats that keep no brushes: each
// leaf that is not empty is a convex cell, bounded by the planes on its path
// and by the model's box; neighbouring cells are then joined wherever their
// union stays convex, so that the solid stays exactly the same in fewer brushes.
#pragma once

#include "convresult.h"
#include "geometry.h"

#include <cstdint>
#include <span>
#include <vector>

namespace bsp2map {

struct TreeNode {
    std::int32_t plane;
    std::int32_t children[2]; // in front, behind; a leaf is -1 - its index
};

struct BspTree {
    std::span<const Plane> planes;
    std::span<const TreeNode> nodes;
    std::span<const std::int32_t> leafContents;
};

struct CellSide {
    Plane plane;        // facing out of the cell
    std::int32_t key;   // the same plane facing the same way has the same key; -1: the box's
    std::int32_t label; // what shows on it, as its reader tells; -1: nothing
    Winding winding;
};

struct Cell {
    std::int32_t contents;
    std::vector<CellSide> sides;
};

// The part of `cell` behind `plane` (`back`) and in front of it (`front`),
// each closed by a side on it whose key is `key`, facing out, or key ^ 1 for
// the front's; `cell` is left with none. A part the cell does not reach is
// left with few sides or none.
void splitCell(Cell &cell, const Plane &plane, std::int32_t key, Cell &front, Cell &back);

class TreeCells {
public:
    // How deep a path may go: deeper than any map, and far short of running out of stack.
    static constexpr int kMaxDepth = 1024;

    // The cells of the leaves under `head` whose contents are not `empty`,
    // within the box. A node met twice, an index out of range or a path
    // deeper than kMaxDepth is an error; `steps` counts the nodes walked
    // and is bounded by `maxSteps` over every call.
    Result<void> build(const BspTree &tree, std::int32_t head, Vec3 mins, Vec3 maxs,
                       std::int32_t empty, std::uint64_t &steps, std::uint64_t maxSteps);

    std::vector<Cell> &cells() { return cells_; }

    // The key of the sides on a tree plane, facing along its normal or against
    // it: the same for planes the file gives twice, either way round. Keys
    // from the tree's size up are free for the caller's own planes.
    std::int32_t key(std::int32_t plane, bool reversed) const
    {
        return keys_[std::size_t(plane)] ^ (reversed ? 1 : 0);
    }

    // Joins neighbours of the same contents whose union is convex and whose
    // labels do not differ on any plane, until no two can be.
    void merge();

private:
    void keyPlanes(std::span<const Plane> planes);

    std::vector<Cell> cells_;
    std::vector<std::int32_t> keys_;
    std::vector<std::uint32_t> seen_; // the walk that last met each node
    std::uint32_t walk_ = 0;
};

} // namespace bsp2map
