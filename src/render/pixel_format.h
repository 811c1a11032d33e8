// The pixel formats of the shared back-end core, under the names this back end uses.
#pragma once

#include <vantor/backend/pixel_format.h>

namespace vantor::render {
using backend::Channel;
using backend::decode_row;
using backend::display_format;
using backend::encode_pixel;
using backend::encode_row;
using backend::FormatKind;
using backend::kTextureFormats;
using backend::PixelLayout;
using backend::read_pixel;
using backend::same_layout;
using backend::standard_ddpf;
using backend::StandardFormat;
using backend::surface_format_of;
using backend::write_pixel;
}  // namespace vantor::render
