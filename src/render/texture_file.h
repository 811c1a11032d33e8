// Textures from image files for the utility layer (D3DXCreateTextureFromFile): decoded with
// stb_image, fitted to the device's texture limits and written into a texture surface of the
// closest format the device offers.
#pragma once

#include <vantor/backend/d3d.h>
#include <vantor/backend/d3dx.h>

namespace vantor::render {

HRESULT create_texture_from_file(IDirect3DDevice7* device, DWORD* flags, DWORD* width, DWORD* height,
                                 D3DX_SURFACEFORMAT* format, IDirectDrawPalette* palette,
                                 IDirectDrawSurface7** surface, DWORD* mip_levels, const char* file,
                                 D3DX_FILTERTYPE filter);

}  // namespace vantor::render
