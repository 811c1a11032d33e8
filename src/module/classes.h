// module/classes.h — the creators of the component's classes, listed in module/classes.cpp.
#pragma once

#include <vantor/com.h>

namespace vantor {

HRESULT create_camera(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_cameras(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_colour(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_device3d(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_device_caps(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_devices(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_flare(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_fog(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_light(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_lights(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_flares(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_part(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_position(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_texture_format(IUnknown* outer, REFIID riid, void** ppv);
HRESULT create_texture_formats(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace vantor
