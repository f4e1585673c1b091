// The program icon, carried inside the program: the window icon of both
// backends and the About box's picture.
#pragma once

#include <span>

namespace identity {

std::span<const unsigned char> IconPng16();
std::span<const unsigned char> IconPng32();
std::span<const unsigned char> IconIco();  // the three design images

}  // namespace identity
