// The start notice's three pictures, carried inside the program as BMP files.
#pragma once

#include <span>

namespace notice {

std::span<const unsigned char> BannerBmp();
std::span<const unsigned char> CreditBmp();
std::span<const unsigned char> EmailBmp();

}  // namespace notice
