// The first standard scene through Irrlicht 1.8's OpenGL driver, for comparison: `count` copies
// of cube.x (its 64x64 Targa texture named by the file), one white point light, linear fog 5 to
// 30, 640x480, camera at (5, 4, -10) looking at the origin with the same quarter-turn field of
// view and aspect 1 as the engine's camera. Irrlicht needs a window: run it on an X display
// (bench/scenes.py starts Xvfb). Prints one JSON object as build/bin/scenes does.
//
//   build/bin/irrlicht_scene --count 100 --assets DIR [--seconds 1.5] [--frames N]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <irrlicht.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

using namespace irr;

namespace {

constexpr int kWidth = 640, kHeight = 480;
const video::SColor kClear(255, 128, 140, 153);

double clock_seconds(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "irrlicht_scene: %s\n", why);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1, frames_wanted = 0;
    double seconds = 1.5;
    std::string assets = ".";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) fail("every argument takes a value");
        const char* v = argv[++i];
        if (a == "--count")
            count = std::atoi(v);
        else if (a == "--assets")
            assets = v;
        else if (a == "--seconds")
            seconds = std::atof(v);
        else if (a == "--frames")
            frames_wanted = std::atoi(v);
        else
            fail("unknown argument (see the top of bench/irrlicht_scene.cpp)");
    }
    if (count < 1) fail("--count must be at least 1");
    if (chdir(assets.c_str()) != 0) fail("no assets folder");

    SIrrlichtCreationParameters p;
    p.DriverType = video::EDT_OPENGL;
    p.WindowSize = core::dimension2d<u32>(kWidth, kHeight);
    p.Bits = 24;
    p.ZBufferBits = 24;
    p.Vsync = false;
    p.LoggingLevel = ELL_ERROR;
    IrrlichtDevice* device = createDeviceEx(p);
    if (!device) fail("no OpenGL device (is $DISPLAY set?)");
    video::IVideoDriver* driver = device->getVideoDriver();
    scene::ISceneManager* scene = device->getSceneManager();

    scene::IAnimatedMesh* mesh = scene->getMesh("cube.x");
    if (!mesh) fail("cube.x did not load");
    for (int i = 0; i < count; ++i) {
        scene::IMeshSceneNode* node = scene->addMeshSceneNode(mesh->getMesh(0));
        node->setMaterialFlag(video::EMF_LIGHTING, true);
        node->setMaterialFlag(video::EMF_FOG_ENABLE, true);
    }
    scene->setAmbientLight(video::SColorf(0, 0, 0));
    scene->addLightSceneNode(nullptr, core::vector3df(3, 4, -4), video::SColorf(1, 1, 1), 100.0f);
    driver->setFog(kClear, video::EFT_FOG_LINEAR, 5.0f, 30.0f, 0.0f, false, false);
    scene::ICameraSceneNode* camera =
        scene->addCameraSceneNode(nullptr, core::vector3df(5, 4, -10), core::vector3df(0, 0, 0));
    camera->setFOV(core::PI / 2);
    camera->setAspectRatio(1.0f);
    camera->setNearValue(1.0f);
    camera->setFarValue(1000.0f);

    auto frame = [&] {
        if (!device->run()) fail("the window was closed");
        driver->beginScene(true, true, kClear);
        scene->drawAll();
        driver->endScene();
    };
    for (int i = 0; i < 3; ++i) frame();
    int frames = 0;
    const double wall0 = clock_seconds(CLOCK_MONOTONIC), cpu0 = clock_seconds(CLOCK_PROCESS_CPUTIME_ID),
                 main0 = clock_seconds(CLOCK_THREAD_CPUTIME_ID);
    if (frames_wanted > 0) {
        for (; frames < frames_wanted; ++frames) frame();
    } else {
        while (frames < 5 || clock_seconds(CLOCK_MONOTONIC) - wall0 < seconds) frame(), ++frames;
    }
    const double wall = clock_seconds(CLOCK_MONOTONIC) - wall0,
                 cpu = clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0,
                 main = clock_seconds(CLOCK_THREAD_CPUTIME_ID) - main0;

    // The pixels of the window that are not the clear colour (its top-left pixel), read back
    // from the X server as the engine's X11 window is.
    long covered = -1;
    const video::SExposedVideoData& video = driver->getExposedVideoData();
    Display* display = static_cast<Display*>(video.OpenGLLinux.X11Display);
    if (XImage* shot = display ? XGetImage(display, video.OpenGLLinux.X11Window, 0, 0, kWidth, kHeight,
                                           AllPlanes, ZPixmap)
                               : nullptr) {
        const unsigned long corner = XGetPixel(shot, 0, 0);
        covered = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) covered += XGetPixel(shot, x, y) != corner;
        XDestroyImage(shot);
    }
    std::printf(
        "{\"scene\": \"s1\", \"count\": %d, \"way\": \"irrlicht\", \"window\": \"x11\", \"frames\": %d, "
        "\"seconds\": %.4f, \"fps\": %.3f, \"cpu_ms\": %.4f, \"main_ms\": %.4f, \"draws\": %d, \"covered\": "
        "%ld}\n",
        count, frames, wall, frames / wall, cpu * 1e3 / frames, main * 1e3 / frames, count, covered);
    device->drop();
    return 0;
}
