// The brush stage that every reader shares: a brush's planes in, a plane
// given twice taken once, the sides that keep its solid closed and within
// kSolidTolerance of the file's chosen (the compiler's bevels left out), and
// three points for each side to write.
#pragma once

#include "geometry.h"
#include "mapdata.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace bsp2map {

// How much a written brush's solid may differ from the file's: a side may be
// left out when the solid reaches no further beyond it, and a brush thinner
// than this is left out whole.
constexpr double kSolidTolerance = 0.01;
// Clipping every side of a brush by every other costs the square of its side
// count; readers bound a file's sum of it by this, far above any real map.
constexpr std::uint64_t kMaxClipWork = std::uint64_t(1) << 28;

// The normal an editor takes from three points as written.
Vec3 pointsNormal(const std::array<Vec3, 3> &p);

// One brush at a time; the storage is kept from brush to brush.
class BrushShaper {
public:
    struct Added {
        std::size_t side;
        bool merged; // the brush had that plane already
    };

    void clear();
    // A side on `plane`, which the file numbers `planeNum`: the same number,
    // or a plane within a hair, joins the side that has it.
    Added add(const Plane &plane, std::int32_t planeNum);

    // Clips each side by all the others and chooses the sides to write: those
    // with a face, and any other the solid needs to stay closed and no larger
    // than the brush. False when the brush has no solid worth the name:
    // empty, open, or thinner than the tolerance.
    bool shape();

    std::size_t sideCount() const { return planes_.size(); }
    const Plane &plane(std::size_t side) const { return planes_[side].plane; }
    bool kept(std::size_t side) const { return keep_[side] != 0; }
    // Its face is wide enough for its corners to give its plane.
    bool wide(std::size_t side) const { return wide_[side] != 0; }
    std::span<const Vec3> corners(std::size_t side) const
    {
        return std::span(corners_).subspan(cornerStart_[side],
                                           cornerStart_[side + 1] - cornerStart_[side]);
    }
    // Three points on a kept side's plane, turning about its normal as an
    // editor reads them: its face's widest triangle, or for a face too thin,
    // points far apart around the solid's middle.
    std::array<Vec3, 3> points(std::size_t side);

private:
    std::vector<ClipPlane> planes_;
    std::vector<std::int32_t> planeNums_;
    // The sides' polygons' corners, those of side i from cornerStart_[i].
    std::vector<Vec3> corners_;
    std::vector<std::uint32_t> cornerStart_;
    std::vector<double> faceAreas_;
    std::vector<char> wide_, keep_;
    std::vector<std::uint32_t> everySide_;
    Vec3 centre_;
    bool haveCentre_ = false;
    Winding winding_;
    ClipBuffers clip_;
};

// Adds to `geometry` the cube a recompile takes a brush entity's centre of
// turning from: 16 units about `origin`, every side `texture` with `contents`.
void addOriginBrush(BrushShaper &shaper, ModelGeometry &geometry, Vec3 origin,
                    std::uint32_t texture, std::int32_t contents);

} // namespace bsp2map
