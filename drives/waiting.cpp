#include "drives/waiting.h"

#include <utility>

namespace drives {
namespace {

std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void SetWhileWaiting(std::function<void()> hook) { Hook() = std::move(hook); }

void WhileWaiting() {
  if (Hook()) Hook()();
}

}  // namespace drives
