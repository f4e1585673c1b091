// Files the program carries inside itself: the icon and the pictures.
#pragma once

#include <span>

namespace resources {

std::span<const unsigned char> IconPng16();
std::span<const unsigned char> IconPng32();
std::span<const unsigned char> IconIco();
std::span<const unsigned char> BannerBmp();
std::span<const unsigned char> CreditBmp();
std::span<const unsigned char> EmailBmp();

}  // namespace resources
