// The one program-wide reference of each window class: empty at start,
// filled on first use, never cleared, so each window exists at most once and
// its object outlives every unload.
#pragma once

#include <memory>

namespace tk {

template <class Window>
std::shared_ptr<Window>& Reference() {
  static std::shared_ptr<Window> reference;
  return reference;
}

// Use of a window by name: creates the object (nothing on screen, no
// Form_Load) the first time, then always hands out the same one.
template <class Window>
Window& Use() {
  std::shared_ptr<Window>& reference = Reference<Window>();
  if (!reference) reference = std::make_shared<Window>();
  return *reference;
}

}  // namespace tk
