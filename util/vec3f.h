// vec3f.h: the three-component single-precision vector of the geometry helpers.
//
// Contents:
//   Vec3f  three floats x, y, z, stored consecutively (12 bytes, no padding)
#ifndef MARROWIND_UTIL_VEC3F_H
#define MARROWIND_UTIL_VEC3F_H

struct Vec3f {
    float x;
    float y;
    float z;
};

static_assert(sizeof(Vec3f) == 3 * sizeof(float), "Vec3f rows are packed arrays of floats");

#endif
