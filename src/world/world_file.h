// world/world_file.h — the world file as a whole: read bounded, checked before anything is
// changed, and replaced atomically when written.
//
//   std::string bytes = world::read_file(path);         // regular files only, at most 64 MB
//   world::check(bytes, {Section::Cameras, Section::Fog, Section::Lights});
//   ... read the sections from a memory stream over `bytes` ...
//   world::replace_file(path, written);                 // temporary file, flush, rename
//
// Every refusal throws failure with a description that names the file or the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantor::world {

inline constexpr size_t kMaxFileBytes = size_t{64} << 20;
inline constexpr size_t kMaxLineBytes = size_t{64} << 10;

// The sections of a world file, in file order. Each is written by the device's child of that name.
enum class Section { Cameras, Fog, Lights, Textures, Objects };

// The number of lines of one record of a section (the element record for a collection).
size_t record_lines(Section section);

std::string read_file(const std::string& path);
// Checks that the sections given, in that order, are all there, every number is one and no line
// is over 64 KB; answers how many lines they take. Lines after them are not looked at.
size_t check(std::string_view bytes, const std::vector<Section>& sections);
void replace_file(const std::string& path, std::string_view bytes);

}  // namespace vantor::world
