// The recorder shared by the recording objects: call log, fault rules, names and live objects,
// and the formatting of call arguments.
#include <cinttypes>
#include <cstdio>

#include "recording_internal.h"

namespace vantor::testing::detail {

// --- Formatting ---------------------------------------------------------------------------

namespace fmt {

std::string u(DWORD v) {
    return std::to_string(v);
}
std::string i(LONG v) {
    return std::to_string(v);
}

std::string f(float v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", double(v));
    return b;
}

std::string colour(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08" PRIX32, v);
    return b;
}

std::string hex(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%" PRIX32, v);
    return b;
}

std::string str(const char* s) {
    if (!s) return "null";
    std::string out = "\"";
    for (const char* p = s; *p; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
    }
    return out + "\"";
}

std::string guid(const GUID& g) {
    static const struct {
        const GUID* id;
        const char* name;
    } known[] = {
        {&GUID_NULL, "GUID_NULL"},
        {&IID_IUnknown, "IID_IUnknown"},
        {&IID_IDirectDraw7, "IID_IDirectDraw7"},
        {&IID_IDirect3D7, "IID_IDirect3D7"},
        {&IID_IDirect3DDevice7, "IID_IDirect3DDevice7"},
        {&IID_IDirectDrawSurface7, "IID_IDirectDrawSurface7"},
        {&IID_IDirectDrawPalette, "IID_IDirectDrawPalette"},
        {&IID_IDirect3DVertexBuffer7, "IID_IDirect3DVertexBuffer7"},
        {&IID_ID3DXContext, "IID_ID3DXContext"},
        {&IID_ID3DXSimpleShape, "IID_ID3DXSimpleShape"},
        {&IID_IDirect3DRGBDevice, "IID_IDirect3DRGBDevice"},
        {&IID_IDirect3DHALDevice, "IID_IDirect3DHALDevice"},
        {&IID_IDirect3DTnLHalDevice, "IID_IDirect3DTnLHalDevice"},
        {&IID_IDirect3DRefDevice, "IID_IDirect3DRefDevice"},
    };
    for (const auto& k : known)
        if (*k.id == g) return k.name;
    char b[48];
    std::snprintf(b, sizeof b, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return b;
}

std::string guid(const GUID* g) {
    return g ? guid(*g) : "null";
}

std::string window(HWND w) {
    if (w == 0) return "0";
    return is_window(w) ? "<window>" : u(w);
}

std::string opt(const DWORD* p) {
    return p ? u(*p) : "null";
}

std::string rect(const RECT* r) {
    if (!r) return "null";
    return cat("{", i(r->left), ", ", i(r->top), ", ", i(r->right), ", ", i(r->bottom), "}");
}

std::string rects(const D3DRECT* r, DWORD count) {
    if (!r) return "null";
    std::string out = "[";
    for (DWORD k = 0; k < count && k < 8; ++k) {
        if (k) out += " ";
        out += cat("{", i(r[k].x1), ", ", i(r[k].y1), ", ", i(r[k].x2), ", ", i(r[k].y2), "}");
    }
    if (count > 8) out += " ...";
    return out + "]";
}

std::string matrix(const D3DMATRIX* m) {
    if (!m) return "null";
    const float* v = &m->_11;
    std::string out = "[";
    for (int k = 0; k < 16; ++k) {
        if (k) out += (k % 4) ? " " : "; ";
        out += f(v[k]);
    }
    return out + "]";
}

std::string viewport(const D3DVIEWPORT7* v) {
    if (!v) return "null";
    return cat("{", u(v->dwX), ", ", u(v->dwY), ", ", u(v->dwWidth), ", ", u(v->dwHeight), ", ", f(v->dvMinZ),
               ", ", f(v->dvMaxZ), "}");
}

static std::string rgba(const D3DCOLORVALUE& c) {
    return cat(f(c.r), " ", f(c.g), " ", f(c.b), " ", f(c.a));
}
static std::string xyz(const D3DVECTOR& v) {
    return cat(f(v.x), " ", f(v.y), " ", f(v.z));
}

std::string material(const D3DMATERIAL7* m) {
    if (!m) return "null";
    return cat("{diffuse ", rgba(m->diffuse), ", ambient ", rgba(m->ambient), ", specular ",
               rgba(m->specular), ", emissive ", rgba(m->emissive), ", power ", f(m->power), "}");
}

std::string light(const D3DLIGHT7* l) {
    if (!l) return "null";
    return cat("{type ", i(l->dltType), ", diffuse ", rgba(l->dcvDiffuse), ", specular ",
               rgba(l->dcvSpecular), ", ambient ", rgba(l->dcvAmbient), ", position ", xyz(l->dvPosition),
               ", direction ", xyz(l->dvDirection), ", range ", f(l->dvRange), ", falloff ", f(l->dvFalloff),
               ", attenuation ", f(l->dvAttenuation0), " ", f(l->dvAttenuation1), " ", f(l->dvAttenuation2),
               ", theta ", f(l->dvTheta), ", phi ", f(l->dvPhi), "}");
}

std::string surface_desc(const DDSURFACEDESC2* d) {
    if (!d) return "null";
    std::string out = cat("{flags ", hex(d->dwFlags));
    if (d->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) out += cat(", ", u(d->dwWidth), "x", u(d->dwHeight));
    if (d->dwFlags & DDSD_CAPS)
        out += cat(", caps ", hex(d->ddsCaps.dwCaps), ", caps2 ", hex(d->ddsCaps.dwCaps2));
    if (d->dwFlags & DDSD_PIXELFORMAT) out += cat(", ", formats::name(d->ddpfPixelFormat));
    if (d->dwFlags & DDSD_MIPMAPCOUNT) out += cat(", mipmaps ", u(d->dwMipMapCount));
    if (d->dwFlags & DDSD_TEXTURESTAGE) out += cat(", stage ", u(d->dwTextureStage));
    return out + "}";
}

std::string vb_desc(const D3DVERTEXBUFFERDESC* d) {
    if (!d) return "null";
    return cat("{caps ", hex(d->dwCaps), ", fvf ", hex(d->dwFVF), ", ", u(d->dwNumVertices), " vertices}");
}

std::string vec2(const D3DXVECTOR2* v) {
    if (!v) return "null";
    return cat("(", f(v->x), ", ", f(v->y), ")");
}

std::string vec3(const D3DXVECTOR3* v) {
    if (!v) return "null";
    return cat("(", f(v->x), ", ", f(v->y), ", ", f(v->z), ")");
}

std::string vertices(const void* data, DWORD count) {
    if (!data) return "null";
    return cat("<", u(count), count == 1 ? " vertex>" : " vertices>");
}

std::string indices(const WORD* data, DWORD count) {
    if (!data) return "null";
    std::string out = "[";
    for (DWORD k = 0; k < count && k < 16; ++k) {
        if (k) out += " ";
        out += u(data[k]);
    }
    if (count > 16) out += " ...";
    return out + "]";
}

std::string blt_fx(const DDBLTFX* fx, DWORD flags) {
    if (!fx) return "null";
    if (flags & DDBLT_COLORFILL) return cat("{fill ", hex(fx->dwFillColor), "}");
    return "{...}";
}

}  // namespace fmt

// --- Recorder -----------------------------------------------------------------------------

CallScope Recorder::begin(std::string name, std::vector<std::string> args) {
    Call call{std::move(name), std::move(args), {}};
    call.text = cat(call.name, "(");
    for (size_t k = 0; k < call.args.size(); ++k) call.text += cat(k ? ", " : "", call.args[k]);
    call.text += ")";
    std::optional<HRESULT> injected = injected_result(call);
    texts.push_back(call.text);
    records.push_back(std::move(call));
    results.push_back(injected && FAILED(*injected) ? *injected : S_OK);
    return CallScope(*this, texts.size() - 1, epoch, injected);
}

std::optional<HRESULT> Recorder::injected_result(const Call& call) {
    for (size_t k = 0; k < rules.size(); ++k) {
        Rule& r = rules[k];
        bool matches = r.when ? r.when(call)
                              : (r.call.find('(') == std::string::npos ? call.name == r.call
                                                                       : call.text.rfind(r.call, 0) == 0);
        if (!matches) continue;
        if (r.skip > 0) {
            --r.skip;
            continue;
        }
        HRESULT hr = r.hr;
        if (r.count != RecordingBackend::kForever && --r.count == 0)
            rules.erase(rules.begin() + std::ptrdiff_t(k));
        return hr;
    }
    return std::nullopt;
}

HRESULT CallScope::done(HRESULT hr) {
    if (injected_ && SUCCEEDED(*injected_) && SUCCEEDED(hr)) hr = *injected_;
    if (rec_.epoch == epoch_ && index_ < rec_.results.size()) rec_.results[index_] = hr;
    return hr;
}

std::string Recorder::new_name(const std::string& kind) {
    return cat(kind, std::to_string(++counters[kind]));
}

std::string Recorder::describe(const void* iface) const {
    if (!iface) return "null";
    auto it = names.find(iface);
    return it == names.end() ? "<foreign>" : cat("<", it->second, ">");
}

const DeviceInfo* Recorder::device_info(DWORD index) const {
    DWORD i = resolve_index(index);
    return i < config.devices.size() ? &config.devices[i] : nullptr;
}

// --- RecObject ----------------------------------------------------------------------------

RecObject::RecObject(std::shared_ptr<Recorder> rec, const std::string& kind, const char* log_kind,
                     bool receiver)
    : rec_(std::move(rec)), name_(rec_->new_name(kind)), log_kind_(log_kind), receiver_(receiver) {
    rec_->live.insert(this);
}

RecObject::~RecObject() {
    for (const void* p : ifaces_) {
        rec_->by_interface.erase(p);
        rec_->names.erase(p);
    }
    rec_->live.erase(this);
}

void RecObject::expose(const void* iface, const std::string& name) {
    ifaces_.push_back(iface);
    rec_->by_interface[iface] = this;
    rec_->names[iface] = name;
}

CallScope RecObject::begin(const char* method, std::vector<std::string> args) {
    if (receiver_) args.insert(args.begin(), cat("<", name_, ">"));
    return rec_->begin(cat(log_kind_, ".", method), std::move(args));
}

HRESULT RecObject::query(REFIID iid, void** out,
                         std::initializer_list<std::pair<const IID*, void*>> answers) {
    if (out) *out = nullptr;
    auto call = begin("QueryInterface", {fmt::guid(iid)});
    if (call.failed()) return call.injected();
    if (!out) return call.done(E_POINTER);
    for (const auto& a : answers) {
        if (*a.first == iid) {
            *out = a.second;
            add_ref();
            return call.done(S_OK);
        }
    }
    return call.done(E_NOINTERFACE);
}

ULONG RecObject::release() {
    ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
}

}  // namespace vantor::testing::detail
