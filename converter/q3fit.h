// A stage of the Quake III reader: each face's brush-primitives matrix fitted
// to the triangles matched to it. A triangle that two coplanar faces share
// goes to the one whose matrix it fits, and the other is fitted again without
// it; a face with no triangles of its own takes the matrix of a textured face
// it touches on its plane, with its shader.
#pragma once

#include "convert.h"
#include "mapdata.h"
#include "q3match.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace bsp2map {

// One model at a time; the storage is kept from model to model.
class TextureFit {
public:
    // Sets the mappings of the sides whose faces match triangles, or touch
    // one that does; the matrices they point to go to `matrices`.
    void run(const TriangleMatch &match, std::span<MapSide> sides,
             std::vector<TexMatrix> &matrices, ConvertStats &stats);

private:
    enum State : std::uint8_t { None, Fitted, Inherited };
    // Fits each face with matches that `wanted` lists, or every one when it is empty.
    void fitFaces(const std::vector<char> &wanted);
    // Takes a triangle that several faces share from all but the one it fits
    // best; returns the faces that lost one.
    std::vector<char> settleShared();
    void inherit(ConvertStats &stats);

    const TriangleMatch *match_ = nullptr;
    std::span<MapSide> sides_;
    std::vector<TexMatrix> *matrices_ = nullptr;
    std::vector<std::uint8_t> state_;
    std::vector<char> used_; // a match that counts for its face
    std::vector<TexSample> samples_;
    // Triangle and match; matches are fewer than the matching work allows.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byTriangle_, byTriangleSorted_;
    std::vector<std::uint32_t> starts_;
    std::vector<const IndexEntry *> sources_;
};

} // namespace bsp2map
