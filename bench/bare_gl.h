// The bare OpenGL program the benchmarks measure the engine against: an OpenGL 4.5 core context,
// without a surface, on the EGL device the utility layer's default context uses (GPUs first, else
// llvmpipe), and one linked program. Include after <GL/glcorearb.h> with GL_GLEXT_PROTOTYPES.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>

// Makes the context current; false when there is no EGL device or no OpenGL 4.5 core context.
inline bool open_bare_context(EGLDisplay* display, EGLContext* context) {
    auto query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (!query_devices || !query_devices(8, devices, &count) || count == 0) return false;
    *display = eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[0], nullptr);
    EGLint major, minor;
    if (!eglInitialize(*display, &major, &minor) || !eglBindAPI(EGL_OPENGL_API)) return false;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    *context = eglCreateContext(*display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    return *context != EGL_NO_CONTEXT && eglMakeCurrent(*display, EGL_NO_SURFACE, EGL_NO_SURFACE, *context);
}

// An off-screen target: an RGBA8 colour texture (read back for presenting) and a 24-bit depth
// buffer, bound for drawing with the viewport over it.
struct BareTarget {
    GLuint colour = 0, depth = 0, framebuffer = 0;
    void open(GLsizei width, GLsizei height) {
        glCreateTextures(GL_TEXTURE_2D, 1, &colour);
        glTextureStorage2D(colour, 1, GL_RGBA8, width, height);
        glCreateRenderbuffers(1, &depth);
        glNamedRenderbufferStorage(depth, GL_DEPTH_COMPONENT24, width, height);
        glCreateFramebuffers(1, &framebuffer);
        glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0, colour, 0);
        glNamedFramebufferRenderbuffer(framebuffer, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glViewport(0, 0, width, height);
    }
    void close() {
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteRenderbuffers(1, &depth);
        glDeleteTextures(1, &colour);
    }
};

// The program of the two stages, in use; 0 when it does not link.
inline GLuint link_bare_program(const char* vertex, const char* fragment) {
    auto stage = [](GLenum type, const char* source) {
        GLuint s = glCreateShader(type);
        glShaderSource(s, 1, &source, nullptr);
        glCompileShader(s);
        return s;
    };
    GLuint vs = stage(GL_VERTEX_SHADER, vertex), fs = stage(GL_FRAGMENT_SHADER, fragment);
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        glDeleteProgram(program);
        return 0;
    }
    glUseProgram(program);
    return program;
}
