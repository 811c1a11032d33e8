// The class registry: the classes this component implements, in alphabetical order, with the
// resource ids of their registry scripts. Only implemented classes are registered.
#include "module/classes.h"

#include "module/module.h"

#include <vantor/vantor.h>

namespace vantor {

namespace {
const ClassEntry kClasses[] = {
    {&CLSID_Camera, "Camera", 101, true, create_camera},
    {&CLSID_Cameras, "Cameras", 167, true, create_cameras},
    {&CLSID_Colour, "Colour", 102, true, create_colour},
    {&CLSID_Device3D, "Device3D", 201, true, create_device3d},
    {&CLSID_DeviceCaps, "DeviceCaps", 104, true, create_device_caps},
    {&CLSID_Devices, "Devices", 105, false, create_devices},
    {&CLSID_Flare, "Flare", 166, true, create_flare},
    {&CLSID_Flares, "Flares", 125, true, create_flares},
    {&CLSID_Fog, "Fog", 106, true, create_fog},
    {&CLSID_Light, "Light", 107, true, create_light},
    {&CLSID_Lights, "Lights", 108, true, create_lights},
    {&CLSID_Part, "Part", 169, true, create_part},
    {&CLSID_Position, "Position", 114, true, create_position},
    {&CLSID_TextureFormat, "TextureFormat", 117, true, create_texture_format},
    {&CLSID_TextureFormats, "TextureFormats", 118, true, create_texture_formats},
};
}  // namespace

const ClassEntry* class_table(size_t* count) {
    *count = sizeof kClasses / sizeof kClasses[0];
    return kClasses;
}

}  // namespace vantor
