// vantor/render/opengl.h — the OpenGL back end: Direct3D 7, DirectDraw 7 and the utility layer
// over OpenGL 4.5 core through EGL.
//
//   #include <vantor/render/opengl.h>
//   vantor::backend::Backend& gl = vantor::render::opengl_backend();
//   gl.D3DXInitialize();
//   ID3DXContext* ctx = nullptr;
//   gl.D3DXCreateContext(D3DX_DEFAULT, 0, window, 640, 480, &ctx);     // a virtual or X11 window
//   gl.D3DXCreateContext(D3DX_DEFAULT, D3DX_CONTEXT_OFFSCREEN, 0, 64, 64, &ctx);  // no window
//   IDirect3DDevice7* dev = nullptr; ctx->GetD3DDevice(&dev);
//   ... draw through dev, ctx->UpdateFrame(D3DX_UPDATE_NOVSYNC) ...
//   dev->Release(); ctx->Release(); gl.D3DXUninitialize();
//
// Devices are the machine's EGL devices (llvmpipe always, a GPU when there is one). Off screen
// and on virtual windows the device renders into framebuffer objects and presenting copies the
// image into the window; on an X11 window it renders through an EGL window surface. Every
// object made here enters the runtime's handle table (vantor/handles.h) and leaves it when it
// dies. Results are Direct3D 7's, DirectDraw 7's and the utility layer's.
#pragma once

#include <vantor/backend/backend.h>

namespace vantor::render {

// The process-wide OpenGL back end (created on first use, never destroyed).
vantor::backend::Backend& opengl_backend();

}  // namespace vantor::render
