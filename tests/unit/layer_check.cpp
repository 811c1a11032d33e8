// Compiled with the engine's include path by the test unit_engine_cannot_include_the_renderer,
// which passes only when the compiler cannot find the renderer's private header: the engine
// reaches the renderer through the back-end interfaces alone.
#include "module/object.h"
#include "render/device.h"
