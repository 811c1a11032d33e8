// The vertex formats of the shared back-end core, under the name this back end uses.
#pragma once

#include <vantor/backend/fvf.h>

namespace vantor::render {
using backend::FvfLayout;
}  // namespace vantor::render
