// Texel axes in the forms that write them. The classic form gives shift,
// rotation and scale over base axes that the face's normal picks from six;
// Valve 220 gives each axis itself, with its offset and scale.
#pragma once

#include "imagesizes.h"
#include "mapdata.h"

namespace bsp2map {

// The classic form's base axes for a face: of the six axial planes, the one
// its normal faces most, and the two axes across it.
void classicBase(Vec3 normal, Vec3 &u, Vec3 &v);

struct ClassicTexture {
    double shift[2];
    double rotation; // degrees
    double scale[2];
};

// The shift, rotation and scale whose base axes give `axes` over the face on
// `plane`: false when no such exist (the axes are sheared or one is zero),
// and `out` is then the nearest that does.
bool classicFromAxes(const Plane &plane, const TexelAxes &axes, ClassicTexture &out);

struct ValveTexture {
    Vec3 axis[2];
    double offset[2];
    double scale[2];
};

// Each axis as its direction and scale: axis = v / |v|, scale = 1 / |v|.
// False when an axis is zero.
bool valveFromAxes(const TexelAxes &axes, ValveTexture &out);

// A brush-primitives matrix over a face with `normal` as texel axes: each
// row, scaled by the image's width or height, over the face's axis base.
// False when an axis comes out zero.
bool valveFromMatrix(Vec3 normal, const TexMatrix &matrix, ImageSize image, ValveTexture &out);

} // namespace bsp2map
