// device/device3d.h — CDevice3D, the root object of a world.
#pragma once

#include <vantor/com_ptr.h>
#include "module/object.h"

#include <vantor/backend/d3dx.h>
#include <vantor/system.h>
#include <vantor/vantor.h>

#include <string>

namespace vantor {

class CDevice3D final : public CoClass<CDevice3D, IDevice3D> {
public:
    static constexpr const CLSID& kClsid = CLSID_Device3D;

    HRESULT FinalConstruct();
    ~CDevice3D();

    // Initialisation and teardown
    HRESULT Initialise(LONG hInstance, LONG width, LONG Height, VARIANT_BOOL Fullscreen, LONG BackBuffers) override;
    HRESULT Free() override;
    HRESULT Resize(LONG width, LONG Height) override;

    // The frame
    HRESULT Clear(FLOAT Red, FLOAT Green, FLOAT Blue, FLOAT Alpha) override;
    HRESULT Render() override;
    HRESULT Update() override;
    HRESULT Debug(FLOAT X, FLOAT Y, Colours Colour, BSTR DebugText) override;
    HRESULT get_FrameRate(FLOAT* pVal) override;
    HRESULT get_Graphics(IDispatch** pVal) override;

    // Render states
    HRESULT get_AntiAlias(AntiAliasModes* pVal) override;
    HRESULT put_AntiAlias(AntiAliasModes newVal) override;
    HRESULT get_Dither(VARIANT_BOOL* pVal) override;
    HRESULT put_Dither(VARIANT_BOOL newVal) override;
    HRESULT get_ShadeMode(ShadeModes* pVal) override;
    HRESULT put_ShadeMode(ShadeModes newVal) override;
    HRESULT get_Specular(VARIANT_BOOL* pVal) override;
    HRESULT put_Specular(VARIANT_BOOL newVal) override;
    HRESULT get_Cull(CullModes* pVal) override;
    HRESULT put_Cull(CullModes newVal) override;
    HRESULT get_Outline(LONG* pVal) override;
    HRESULT put_Outline(LONG newVal) override;

    // Children
    HRESULT get_Ambient(IDispatch** pVal) override;
    HRESULT get_Cameras(IDispatch** pVal) override;
    HRESULT get_Fog(IDispatch** pVal) override;
    HRESULT get_Lights(IDispatch** pVal) override;
    HRESULT get_Objects(IDispatch** pVal) override;
    HRESULT get_Textures(IDispatch** pVal) override;
    HRESULT get_Caps(IDispatch** pVal) override;
    HRESULT get_TextureFormats(IDispatch** pVal) override;
    HRESULT get_Sprites(IDispatch** pVal) override;
    HRESULT get_SimpleObjects(IDispatch** pVal) override;
    HRESULT get_Flares(IDispatch** pVal) override;

    // Plain properties
    HRESULT get_Name(BSTR* pVal) override;
    HRESULT put_Name(BSTR newVal) override;
    HRESULT get_Description(BSTR* pVal) override;
    HRESULT put_Description(BSTR newVal) override;
    HRESULT get_Window(LONG* pVal) override { return get(window_, pVal); }
    HRESULT put_Window(LONG newVal) override { return set(window_, newVal); }
    HRESULT get_Index(LONG* pVal) override { return get(index_, pVal); }
    HRESULT put_Index(LONG newVal) override { return set(index_, newVal); }
    HRESULT get_Left(LONG* pVal) override { return get(left_, pVal); }
    HRESULT put_Left(LONG newVal) override { return set(left_, newVal); }
    HRESULT get_Top(LONG* pVal) override { return get(top_, pVal); }
    HRESULT put_Top(LONG newVal) override { return set(top_, newVal); }
    HRESULT get_Right(LONG* pVal) override { return get(right_, pVal); }
    HRESULT put_Right(LONG newVal) override { return set(right_, newVal); }
    HRESULT get_Bottom(LONG* pVal) override { return get(bottom_, pVal); }
    HRESULT put_Bottom(LONG newVal) override { return set(bottom_, newVal); }
    HRESULT put_GUID(LONG newVal) override;
    HRESULT get_DirectDraw(LONG* pVal) override;
    HRESULT get_Status(StatusModes* pVal) override;

    // Devices
    HRESULT get_Level(HWLevels* pVal) override;
    HRESULT get_SurfaceFormat(SurfaceFormats* pVal) override;

    // Devices enumerates: the device keeps one start of the utility layer until it is destroyed.
    void hold_utility_layer();

    // World file
    HRESULT Save(BSTR Filename) override;
    HRESULT Load(BSTR Filename) override;

private:
    IDirect3DDevice7* require_device();
    template <class T>
    HRESULT read_state(D3DRENDERSTATETYPE state, const char* action, const Check& failed, T* out);
    HRESULT write_state(D3DRENDERSTATETYPE state, DWORD value, const char* first, const char* second, const Check& failed,
                        bool succeeded_line = false);
    bool update_ambient_light();
    void end_utility_layer();
    HRESULT world_file(BSTR Filename, bool saving);

    GUID guid_{};
    LONG instance_ = 0;
    LONG window_ = 0;
    ComPtr<IDirect3DDevice7> device_;
    ComPtr<IDirect3D7> direct3d_;
    ComPtr<IDirectDraw7> directdraw_;
    ComPtr<IDirectDrawSurface7> back_buffer_;
    LONG index_ = 0;
    StatusModes status_ = sm_NotInitialised;
    LONG cull_mode_ = cm_None;
    DWORD previous_time_ = timeGetTime();
    DWORD current_time_ = previous_time_;
    DWORD frame_rate_x10_ = 0;
    D3DVIEWPORT7 viewport_{};
    ComPtr<ITextureFormats> texture_formats_;
    ComPtr<IFlares> flares_;
    ComPtr<ITextures> textures_;
    ComPtr<ISprites> sprites_;
    ComPtr<ISimpleObjects> simple_objects_;
    ComPtr<IObjects> objects_;
    ComPtr<ILights> lights_;
    ComPtr<IFog> fog_;
    ComPtr<IColour> ambient_;
    ComPtr<IDeviceCaps> caps_;
    ComPtr<ICameras> cameras_;
    std::u16string description_;
    std::u16string name_;
    LONG left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    ComPtr<ID3DXContext> context_;
    D3DX_VIDMODEDESC saved_mode_{};
    int starts_ = 0;  // utility-layer starts this device made and has not ended
};

}  // namespace vantor
