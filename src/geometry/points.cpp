// Point and Points: user-defined positions that move, scale and rotate about the origin, and
// draw as one triangle when there are exactly three.
#include <vantor/vantor.h>

#include <cmath>
#include <string>

#include "collections/collection.h"

namespace vantor {

namespace {

constexpr float kRadiansPerDegree = 0.017453292f;

// A row vector (x, y, z, 1) times a Direct3D matrix given by its nine linear elements and
// translation.
struct Affine {
    float m[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    D3DVECTOR apply(const D3DVECTOR& p) const {
        return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
                p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
                p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
    }
};

Affine rotation(int axis, float degrees) {
    const float a = degrees * kRadiansPerDegree, c = std::cos(a), s = std::sin(a);
    Affine r;
    if (axis == 0) r.m[1][1] = c, r.m[1][2] = s, r.m[2][1] = -s, r.m[2][2] = c;
    if (axis == 1) r.m[0][0] = c, r.m[0][2] = -s, r.m[2][0] = s, r.m[2][2] = c;
    if (axis == 2) r.m[0][0] = c, r.m[0][1] = s, r.m[1][0] = -s, r.m[1][1] = c;
    return r;
}

}  // namespace

class CPoint final : public CoClass<CPoint, IPoint> {
public:
    static constexpr const CLSID& kClsid = CLSID_Point;

    HRESULT FinalConstruct() {
        position_ = adopt(CreateRegisteredObject<IPosition>(CLSID_Position));
        if (!position_) report(failure(E_POINTER, "Failed to Initialise Position."));
        return S_OK;
    }
    HRESULT get_Position(IDispatch** out) override {
        return child(position_, out, ChildRule::refuse("Position Not Initialised."));
    }
    // A point without a position has nothing to transform: S_OK, nothing changed.
    HRESULT Rotate(FLOAT X, FLOAT Y, FLOAT Z) override {
        if (!position_) return S_OK;
        D3DVECTOR p = read_position(position_.get());
        if (X != 0) p = rotation(0, X).apply(p);
        if (Y != 0) p = rotation(1, Y).apply(p);
        if (Z != 0) p = rotation(2, Z).apply(p);
        set_position(position_.get(), p.x, p.y, p.z);
        return S_OK;
    }
    HRESULT Move(FLOAT X, FLOAT Y, FLOAT Z) override {
        Affine t;
        t.m[3][0] = X, t.m[3][1] = Y, t.m[3][2] = Z;
        return transform(t);
    }
    HRESULT Scale(FLOAT X, FLOAT Y, FLOAT Z) override {
        Affine s;
        s.m[0][0] = X, s.m[1][1] = Y, s.m[2][2] = Z;
        return transform(s);
    }
    HRESULT Load(LONG) override { return S_OK; }  // a point's record holds nothing
    HRESULT Save(LONG) override { return S_OK; }

private:
    HRESULT transform(const Affine& a) {
        if (!position_) return S_OK;
        D3DVECTOR p = a.apply(read_position(position_.get()));
        set_position(position_.get(), p.x, p.y, p.z);
        return S_OK;
    }
    ComPtr<IPosition> position_;
};

class CPoints final : public Collection<CPoints, IPoints, IPoint> {
public:
    static constexpr const CLSID& kClsid = CLSID_Points;

    HRESULT get__NewEnum(IUnknown** out) override { return Collection::get__NewEnum(out); }
    HRESULT Item(VARIANT index, VARIANT* item) override { return Collection::Item(index, item); }
    HRESULT Remove(VARIANT index) override { return Collection::Remove(index); }
    HRESULT get_Count(LONG* count) override { return Collection::get_Count(count); }
    HRESULT Clear() override { return Collection::Clear(); }
    HRESULT put_Device(LONG v) override { return Collection::put_Device(v); }

    HRESULT get_Add(FLOAT X, FLOAT Y, FLOAT Z, IDispatch** out) override {
        const std::string key = "Point" + std::to_string(store_.count());
        return add(out, CLSID_Point, "Point Not Registered.", std::u16string(key.begin(), key.end()), [] {},
                   [&](IPoint* p) {
                       ComPtr<IPosition> position = child_of<IPosition>(p, &IPoint::get_Position);
                       if (position) set_position(position.get(), X, Y, Z);
                   });
    }

    HRESULT Render(FillModes) override {
        return guard([&] {
            if (store_.count() != 3) return S_OK;
            D3DVERTEX v[3] = {};
            const float uv[3][2] = {{0, 0}, {1, 0}, {0, 1}};
            int k = 0;
            for (auto& [key, point] : store_) {
                ComPtr<IPosition> position = child_of<IPosition>(point.get(), &IPoint::get_Position);
                D3DVECTOR p = position ? read_position(position.get()) : D3DVECTOR{0, 0, 0};
                v[k] = {p.x, p.y, p.z, 0, 0, 1, uv[k][0], uv[k][1]};
                ++k;
            }
            IDirect3DDevice7* d = device_.require();
            HRESULT hr = d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_VERTEX, v, 3, 0);
            if (FAILED(hr)) throw backend_failure(hr, Site::PointsRender);
            return S_OK;
        });
    }

    HRESULT Rotate(FLOAT X, FLOAT Y, FLOAT Z) override { return each(&IPoint::Rotate, X, Y, Z); }
    HRESULT Move(FLOAT X, FLOAT Y, FLOAT Z) override { return each(&IPoint::Move, X, Y, Z); }
    HRESULT Scale(FLOAT X, FLOAT Y, FLOAT Z) override { return each(&IPoint::Scale, X, Y, Z); }
    HRESULT Load(LONG) override { return S_OK; }  // point geometry is not part of the world file
    HRESULT Save(LONG) override { return S_OK; }

private:
    HRESULT each(HRESULT (IPoint::*member)(FLOAT, FLOAT, FLOAT), FLOAT X, FLOAT Y, FLOAT Z) {
        for (auto& [key, point] : store_) (point.get()->*member)(X, Y, Z);
        return S_OK;
    }
};

template <> HRESULT create_class<IPoint>(IUnknown* o, REFIID r, void** p) { return CPoint::create(o, r, p); }
template <> HRESULT create_class<IPoints>(IUnknown* o, REFIID r, void** p) { return CPoints::create(o, r, p); }

}  // namespace vantor
