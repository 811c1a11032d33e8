// Colour and Position: the value objects through which scripts read and change colours and
// points. A put only stores; owners read the values back when they apply them.
#include "module/object.h"
#include "module/trace.h"
#include "world/record.h"

#include <vantor/vantor.h>

namespace vantor {

class CColour final : public CoClass<CColour, IColour> {
public:
    static constexpr const CLSID& kClsid = CLSID_Colour;

    HRESULT get_Red(FLOAT* v) override { return get(red_, v); }
    HRESULT put_Red(FLOAT v) override { return set(red_, v); }
    HRESULT get_Green(FLOAT* v) override { return get(green_, v); }
    HRESULT put_Green(FLOAT v) override { return set(green_, v); }
    HRESULT get_Blue(FLOAT* v) override { return get(blue_, v); }
    HRESULT put_Blue(FLOAT v) override { return set(blue_, v); }
    HRESULT get_Alpha(FLOAT* v) override { return get(alpha_, v); }
    HRESULT put_Alpha(FLOAT v) override { return set(alpha_, v); }

    HRESULT Save(LONG f) override {
        return guard([&] {
            trace("Saving Colour.\n");
            RecordWriter out(f);
            out.line("// Colour\n");
            out.real(red_);
            out.real(green_);
            out.real(blue_);
            out.real(alpha_);
            return S_OK;
        });
    }

    HRESULT Load(LONG f) override {
        return guard([&] {
            trace("Loading Colour.\n");
            RecordReader in(f);
            in.skip();
            const float r = in.real(), g = in.real(), b = in.real(), a = in.real();
            red_ = r;  // the whole record was read: only now does the colour change
            green_ = g;
            blue_ = b;
            alpha_ = a;
            return S_OK;
        });
    }

private:
    FLOAT red_ = 0.0f, green_ = 0.0f, blue_ = 0.0f, alpha_ = 0.0f;
};

class CPosition final : public CoClass<CPosition, IPosition> {
public:
    static constexpr const CLSID& kClsid = CLSID_Position;

    HRESULT get_X(FLOAT* v) override { return get(x_, v); }
    HRESULT put_X(FLOAT v) override { return set(x_, v); }
    HRESULT get_Y(FLOAT* v) override { return get(y_, v); }
    HRESULT put_Y(FLOAT v) override { return set(y_, v); }
    HRESULT get_Z(FLOAT* v) override { return get(z_, v); }
    HRESULT put_Z(FLOAT v) override { return set(z_, v); }

private:
    FLOAT x_ = 0.0f, y_ = 0.0f, z_ = 0.0f;
};

template <> HRESULT create_class<IColour>(IUnknown* o, REFIID r, void** p) { return CColour::create(o, r, p); }
template <> HRESULT create_class<IPosition>(IUnknown* o, REFIID r, void** p) { return CPosition::create(o, r, p); }

}  // namespace vantor
