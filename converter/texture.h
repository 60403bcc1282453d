// Texture projections in the brush-primitives form: a 2x3 matrix over the
// face's axis base, found from the compiled draw triangles.
#pragma once

#include "mapdata.h"

#include <optional>
#include <span>

namespace bsp2map {

// One draw triangle: its corners and their texture coordinates.
struct TexSample {
    Vec3 p[3];
    double st[3][2];
};

// The axis base an editor derives from a face normal.
void axisBase(Vec3 normal, Vec3 &texS, Vec3 &texT);

TexMatrix defaultTexMatrix();

// The projection that reproduces the samples' texture coordinates, each
// triangle up to a whole number of repeats; nothing when no triangle is usable.
std::optional<TexMatrix> fitTexture(Vec3 normal, std::span<const TexSample> samples);

// The worst corner of a sample off `tex`, in repeats, once the whole-repeat
// shift that suits it best is taken off.
double worstCornerError(Vec3 normal, const TexMatrix &tex, const TexSample &sample);

} // namespace bsp2map
