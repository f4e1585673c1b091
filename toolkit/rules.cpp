#include "toolkit/rules.h"

#include <algorithm>
#include <cmath>

namespace tk {

// ---- Colours ---------------------------------------------------------------

namespace {

double Luminance(const Color& c) {
  const auto linear = [](std::uint8_t value) {
    const double v = value / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
}

// What the default scheme gives the system colours the layer names.
std::optional<Color> DefaultSchemeColor(int systemIndex) {
  if (systemIndex == kWindowBackground.systemIndex) return kWhite;
  if (systemIndex == kWindowText.systemIndex) return kBlack;
  return std::nullopt;
}

// The least contrast at which normal-sized text still reads well.
constexpr double kReadable = 4.5;

}  // namespace

double ContrastRatio(const Color& a, const Color& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TextColors ReadableColors(const Color& fore, const Color& back,
                          const std::function<Color(int systemIndex)>& system) {
  const auto resolve = [&](const Color& c) {
    return c.kind == Color::Kind::System ? system(c.systemIndex) : c;
  };
  TextColors colors{resolve(fore), resolve(back)};
  const bool foreFollows = fore.kind == Color::Kind::System;
  if (foreFollows == (back.kind == Color::Kind::System)) return colors;
  const std::optional<Color> designed =
      DefaultSchemeColor(foreFollows ? fore.systemIndex : back.systemIndex);
  if (!designed) return colors;
  Color& follows = foreFollows ? colors.fore : colors.back;
  const Color& fixed = foreFollows ? colors.back : colors.fore;
  if (ContrastRatio(follows, fixed) < std::min(kReadable, ContrastRatio(*designed, fixed))) {
    follows = *designed;
  }
  return colors;
}

CaptionWidths FitCaption(int left, int designWidth, int needed, int designClientWidth,
                         int clientWidth) {
  const int label = std::max(designWidth, needed);
  const int margin = std::max(0, designClientWidth - left - designWidth);
  return {label, std::max(clientWidth, left + label + margin)};
}

Color PictureGround(const Color& box, const Color& window,
                    const std::function<Color(int systemIndex)>& system) {
  if (box.kind != Color::Kind::System) return box;
  const Color scheme = system(box.systemIndex);
  if (window.kind == Color::Kind::System) return scheme;
  // Within a display's rounding (16-bit colour keeps 5 or 6 bits a channel)
  // the two read as one.
  constexpr int kSeen = 8;
  const auto apart = [](std::uint8_t a, std::uint8_t b) { return std::abs(a - b) >= kSeen; };
  const bool visible = apart(scheme.red, window.red) || apart(scheme.green, window.green) ||
                       apart(scheme.blue, window.blue);
  return visible ? window : scheme;
}

// ---- Geometry ----------------------------------------------------------------

Rect OwnArea(const Rect& box, std::span<const Rect> others) {
  int left = box.left, top = box.top, right = box.left + box.width, bottom = box.top + box.height;
  for (const Rect& other : others) {
    const int oLeft = other.left, oTop = other.top, oRight = other.left + other.width,
              oBottom = other.top + other.height;
    if (oRight <= left || oLeft >= right || oBottom <= top || oTop >= bottom) continue;
    // Each side the other box reaches over from outside, and what moving it
    // in past the other box would cost.
    struct Move {
      int* side;
      int to;
      int lost;
    };
    std::vector<Move> moves;
    const int w = right - left, h = bottom - top;
    if (oTop > top) moves.push_back({&bottom, oTop, (bottom - oTop) * w});
    if (oBottom < bottom) moves.push_back({&top, oBottom, (oBottom - top) * w});
    if (oLeft > left) moves.push_back({&right, oLeft, (right - oLeft) * h});
    if (oRight < right) moves.push_back({&left, oRight, (oRight - left) * h});
    if (moves.empty()) continue;  // it covers the whole box
    const Move& least = *std::min_element(
        moves.begin(), moves.end(), [](const Move& a, const Move& b) { return a.lost < b.lost; });
    *least.side = least.to;
  }
  return {left, top, right - left, bottom - top};
}

PictureScale ScalePicture(int width, int height, int dpi) {
  const auto scaled = [dpi](int pixels) {
    return static_cast<int>((static_cast<long long>(pixels) * dpi + 48) / 96);
  };
  return {scaled(width), scaled(height), dpi % 96 != 0};
}

}  // namespace tk
