// The component's string table.
#include "module/strings.h"

#include "module/module.h"

#include <vantor/system.h>

namespace vantor {

namespace {
// Id 125 does not exist.
const StringEntry kStrings[] = {
    {100, "Vantor"},
    {101, "Out of Memory."},
    {102, "Invalid Parameter."},
    {103, "Invalid Object."},
    {104, "Unknown Error."},
    {105, "Unsupported."},
    {106, "Still performing drawing."},
    {107, "Surface Has Been Lost."},
    {108, "Invalid Surface Type."},
    {109, "Generic Error."},
    {110, "Device Context Already Created."},
    {111, "Failed to Write Text."},
    {112, "Null Pointer."},
    {113, "Invalid Cliplist."},
    {114, "Incompatible Primary Surface."},
    {115, "Implicitly Created."},
    {116, "Invalid Rectangle."},
    {117, "No Alpha Hardware Found."},
    {118, "No Blitter Hardware Found."},
    {119, "No Cliplist was found."},
    {120, "No Raster Operation Hardware Found."},
    {121, "Exclusive Mode Not Set."},
    {122, "No Flip Hardware."},
    {123, "Not Flippable."},
    {124, "No Mirror Hardware Found."},
    {126, "No Rotation Hardware Found."},
    {127, "No Stretch Hardware Found."},
    {128, "No Z-Buffer Hardware Found."},
    {129, "Surface is Busy."},
    {130, "Wrong Mode."},
    {131, "VBUF Creation Failed."},
    {132, "Invalid Vertex Format."},
    {133, "Aggregation Not Supported."},
    {134, "Vertex Buffer is Locked."},
    {135, "Invalid Vertex Type."},
    {136, "Invalid Primitive Type."},
    {137, "Invalid Ramp Texture."},
    {138, "Setting Light has Failed."},
    {139, "Light does not belong in this Viewport."},
    {140, "No Support for this Texture."},
    {141, "Direct3DX has not been initiated."},
    {142, "Invalid File Format."},
    {143, "No Match Found."},
    {144, "Invalid Pixel Format."},
    {145, "Invalid Capabilities."},
    {146, "No Cooperative Level Set."},
    {147, "No Direct Draw Hardware."},
    {148, "No emulation available."},
    {149, "No Mipmap Hardware."},
    {150, "No Overlay Hardware."},
    {151, "Not Found."},
    {152, "Not Locked."},
    {153, "Out of Video Memory."},
    {154, "Primary Surface has already been created."},
    {155, "No Filename was given."},
    {156, "Fog unavailable."},
    {157, "Unable to find DDRAW.DLL"},
    {158, "Direct3DX Initialisation has Failed."},
    {159, "No Z-Buffer was Found."},
    {160, "No Clipper was Attached."},
    {161, "No Palette was Attached."},
    {162, "No Palette Hardware Found."},
    {163, "No 8-bit Colour found."},
    {164, "Surface has already been attached."},
    {165, "Cannot attach to surface."},
    // The DirectX file reader's results (results.cpp).
    {400, "Not a File Object."},
    {401, "Bad Value in X File."},
    {402, "Unsupported Type in X File Template."},
    {403, "X File Object Not Found."},
    {404, "X File Operation Not Available."},
    {405, "X File Not Found."},
    {406, "Not an X File."},
    {407, "Unsupported X File Version."},
    {408, "Unsupported X File Float Size."},
    {409, "Unsupported X File Compression."},
    {410, "X File is Damaged."},
    {411, "X File could not be Parsed."},
    {412, "X File uses an Unknown Template."},
    {413, "X File Array Size does not fit its Data."},
    {414, "Bad Data Reference in X File."},
    {415, "No More Objects in X File."},
};
}  // namespace

const StringEntry* string_table(size_t* count) {
    *count = sizeof kStrings / sizeof kStrings[0];
    return kStrings;
}

std::string load_string(unsigned id) {
    char buf[512];
    int n = LoadStringA(module().resource_instance(), id, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace vantor
