// The colour and position helpers of the object kit.
#include "module/kit.h"

#include <cmath>

namespace vantor {

namespace {

// A colour component times 255, truncated toward zero; beyond the 32-bit range (and NaN, as 0)
// it saturates instead of converting undefinedly.
int32_t component(float v) {
    double scaled = static_cast<double>(v) * 255.0;
    if (std::isnan(scaled)) return 0;
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

}  // namespace

void set_colour(IColour* c, float r, float g, float b, float a) {
    c->put_Red(r);
    c->put_Green(g);
    c->put_Blue(b);
    c->put_Alpha(a);
}

D3DCOLORVALUE read_colour(IColour* c) {
    D3DCOLORVALUE v{};
    c->get_Red(&v.r);
    c->get_Green(&v.g);
    c->get_Blue(&v.b);
    c->get_Alpha(&v.a);
    return v;
}

void set_position(IPosition* p, float x, float y, float z) {
    p->put_X(x);
    p->put_Y(y);
    p->put_Z(z);
}

D3DVECTOR read_position(IPosition* p) {
    D3DVECTOR v{};
    p->get_X(&v.x);
    p->get_Y(&v.y);
    p->get_Z(&v.z);
    return v;
}

D3DCOLOR pack_colour(const D3DCOLORVALUE& c) {
    return (static_cast<uint32_t>(component(c.a)) << 24) | (static_cast<uint32_t>(component(c.r)) << 16) |
           (static_cast<uint32_t>(component(c.g)) << 8) | static_cast<uint32_t>(component(c.b));
}

}  // namespace vantor
