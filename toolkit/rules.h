// The pure rules both backends share: colours and their contrast, the
// geometry of design rectangles, how a caption widens its label, and how a
// picture grows with the screen's DPI. No window, no platform: each is a
// function of its arguments, tested as such.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace tk {

// Fixed colours by red, green and blue; system colours by index (5 window
// background, 8 window text), which follow the user's scheme.
struct Color {
  enum class Kind : std::uint8_t { Rgb, System };
  Kind kind = Kind::Rgb;
  std::uint8_t red = 0, green = 0, blue = 0;
  int systemIndex = 0;
  friend bool operator==(const Color&, const Color&) = default;
};
constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return {Color::Kind::Rgb, r, g, b, 0};
}
constexpr Color SystemColor(int index) { return {Color::Kind::System, 0, 0, 0, index}; }
inline constexpr Color kWhite = Rgb(255, 255, 255);
inline constexpr Color kBlack = Rgb(0, 0, 0);
inline constexpr Color kWindowBackground = SystemColor(5);
inline constexpr Color kWindowText = SystemColor(8);

// The contrast of two fixed colours as accessibility guidelines measure it:
// from 1 (the same) to 21 (black and white).
double ContrastRatio(const Color& a, const Color& b);

// The colours a text is drawn in: `fore` on `back`, with the system colours
// among them resolved by `system`. A design that puts a system colour beside a
// fixed one was made under the default scheme, black window text on a white
// window. Where the user's scheme leaves such a pair below 4.5:1 (and below
// what the default scheme gives it), the system colour takes its default
// scheme value, so the text keeps the design's contrast. Pairs that are all
// fixed or all the scheme's, and the default scheme itself, stay as they are.
struct TextColors {
  Color fore, back;
};
TextColors ReadableColors(const Color& fore, const Color& back,
                          const std::function<Color(int systemIndex)>& system);

// The ground a picture box is filled with: its design colour, with a system
// colour resolved by `system`. A design that puts a box of the scheme's
// window colour on a window of a fixed colour was made where the two are
// the same (white): where the user's scheme makes them differ visibly, the
// box takes its window's colour, so that the picture shows as designed and
// not on a bar or square of the scheme's colour.
Color PictureGround(const Color& box, const Color& window,
                    const std::function<Color(int systemIndex)>& system);

// A caption wider than its label is not clipped: the label grows to the
// right, and its window with it where the label would stick out, keeping the
// design's margin on the right; the window never narrows. A caption that
// fits keeps the design's width. All in pixels: the label's left edge and
// design width, the width its caption needs (the widest line, or where the
// label wraps the widest word), the window's client width by design and now.
// Each backend only measures.
struct CaptionWidths {
  int label, window;
};
CaptionWidths FitCaption(int left, int designWidth, int needed, int designClientWidth,
                         int clientWidth);

// Design rectangles and points are in twips (1/1440 inch, 15 to a pixel at
// 96 dots per inch) from the top-left corner of the window's client area.
struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

// The part of `box` that none of `others` covers, for a mark that has to
// stay whole (a focus mark): each box that overlaps it pushes in the one
// side that loses the least. Boxes that cover all of it, or none, change
// nothing.
Rect OwnArea(const Rect& box, std::span<const Rect> others);

// The size a picture of `width` x `height` pixels is drawn at on a screen of
// `dpi` dots per inch, growing as the design's boxes do (96 is pixel for
// pixel), and whether it takes a smooth filter: a whole factor repeats
// pixels, any other ratio blends them.
struct PictureScale {
  int width, height;
  bool smooth;
};
PictureScale ScalePicture(int width, int height, int dpi);

}  // namespace tk
