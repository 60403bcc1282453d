#include "q3fit.h"

#include "brushes.h"
#include "prefault.h"
#include "texture.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bsp2map {

void TextureFit::run(const TriangleMatch &match, std::span<MapSide> sides,
                     std::vector<TexMatrix> &matrices, ConvertStats &stats)
{
    match_ = &match;
    sides_ = sides;
    matrices_ = &matrices;
    state_.assign(sides.size(), None);
    const std::vector<Match> &matches = match.matches();
    // The back of a two-sided face may carry a mirrored projection; it counts
    // only when the face has no triangles of its own way.
    used_.assign(matches.size(), 0);
    for (std::size_t m = 0; m < matches.size();) {
        const std::uint32_t f = matches[m].face;
        const bool turned = matches[m].turned;
        for (; m < matches.size() && matches[m].face == f; ++m)
            used_[m] = matches[m].turned == turned;
    }
    // Sized for the face with the most triangles: a terrain face may have
    // thousands, and growing would touch fresh pages twice over.
    std::size_t mostSamples = 0, matchedFaces = 0;
    for (std::size_t m = 0, begin = 0; m <= matches.size(); ++m)
        if (m == matches.size() || matches[m].face != matches[begin].face) {
            mostSamples = std::max(mostSamples, m - begin);
            matchedFaces += m > begin;
            begin = m;
        }
    reserveFilled(matrices, matchedFaces);
    samples_.reserve(mostSamples);
    fitFaces({});
    if (const std::vector<char> refit = settleShared(); !refit.empty())
        fitFaces(refit);
    stats.texturedFaces += static_cast<std::size_t>(std::count(state_.begin(), state_.end(), Fitted));
    inherit(stats);
}

void TextureFit::fitFaces(const std::vector<char> &wanted)
{
    const std::vector<Match> &matches = match_->matches();
    for (std::size_t m = 0; m < matches.size();) {
        const std::uint32_t f = matches[m].face;
        samples_.clear();
        for (; m < matches.size() && matches[m].face == f; ++m)
            if (used_[m])
                samples_.push_back(match_->sample(matches[m].triangle));
        if (!wanted.empty() && !wanted[f])
            continue;
        MapSide &side = sides_[f];
        if (auto tex = fitTexture(pointsNormal(side.points), samples_)) {
            if (state_[f] != Fitted) {
                side.mapping = {MappingKind::Matrix, static_cast<std::uint32_t>(matrices_->size())};
                matrices_->push_back(*tex);
            } else {
                (*matrices_)[side.mapping.index] = *tex;
            }
            state_[f] = Fitted;
        }
    }
}

// A triangle on two coplanar faces, where their windings touch or overlap,
// belongs to the one whose projection it fits; the other is fitted again
// without it.
std::vector<char> TextureFit::settleShared()
{
    const std::vector<Match> &matches = match_->matches();
    byTriangle_.clear();
    reserveFilled(byTriangle_, matches.size());
    for (std::size_t m = 0; m < matches.size(); ++m)
        if (used_[m])
            byTriangle_.push_back({matches[m].triangle, static_cast<std::uint32_t>(m)});
    sortByKey(
        byTriangle_, match_->triangleCount(),
        [](const auto &entry) { return std::size_t(entry.first); }, byTriangleSorted_, starts_);
    std::vector<char> refit;
    for (std::size_t begin = 0; begin < byTriangle_.size();) {
        std::size_t end = begin + 1;
        while (end < byTriangle_.size() && byTriangle_[end].first == byTriangle_[begin].first)
            ++end;
        if (end - begin > 1) {
            std::size_t keep = byTriangle_[begin].second;
            double keepError = std::numeric_limits<double>::infinity();
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t m = byTriangle_[i].second;
                const std::uint32_t f = matches[m].face;
                const MapSide &side = sides_[f];
                // A face no triangle could fit has no projection to compare.
                const double error =
                    state_[f] == Fitted
                        ? worstCornerError(pointsNormal(side.points),
                                           (*matrices_)[side.mapping.index],
                                           match_->sample(matches[m].triangle))
                        : std::numeric_limits<double>::infinity();
                if (error < keepError) {
                    keepError = error;
                    keep = m;
                }
            }
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t m = byTriangle_[i].second;
                if (m == keep)
                    continue;
                used_[m] = 0;
                refit.resize(sides_.size(), 0);
                refit[matches[m].face] = 1;
            }
        }
        begin = end;
    }
    return refit;
}

// A face with no triangles of its own that touches a textured face on the
// same plane with the same shader takes that face's projection: hidden parts
// of a wall line up with the visible ones, as the mapper had them.
void TextureFit::inherit(ConvertStats &stats)
{
    const std::vector<IndexEntry> &index = match_->index();
    // The index is sorted by key: each run is one shader, plane and grid cube.
    for (std::size_t begin = 0; begin < index.size();) {
        std::size_t end = begin + 1;
        while (end < index.size() && index[end].key == index[begin].key)
            ++end;
        sources_.clear();
        for (std::size_t i = begin; i < end; ++i)
            if (state_[index[i].face] == Fitted)
                sources_.push_back(&index[i]);
        for (std::size_t i = begin; i < end && !sources_.empty(); ++i) {
            const IndexEntry &entry = index[i];
            if (state_[entry.face] != None)
                continue;
            MapSide &side = sides_[entry.face];
            for (const IndexEntry *other : sources_) {
                const Plane &plane = side.plane, &otherPlane = sides_[other->face].plane;
                if (dot(otherPlane.normal, plane.normal) < 1 - 1e-9 ||
                    std::abs(otherPlane.dist - plane.dist) > 1e-3)
                    continue;
                bool touching = true;
                for (int k = 0; k < 3; ++k)
                    touching =
                        touching && other->lo[k] <= entry.hi[k] && entry.lo[k] <= other->hi[k];
                if (!touching)
                    continue;
                side.mapping = sides_[other->face].mapping;
                state_[entry.face] = Inherited;
                ++stats.inheritedFaces;
                break;
            }
        }
        begin = end;
    }
}

} // namespace bsp2map
