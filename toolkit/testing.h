// Hooks for tests only: failure injection and a message box that records
// its prompt. Only toolkit.cpp, which implements them, and the tests include
// this header.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tk::testing {

// Makes the next check of `operation` fail with `code`, as if the backend had
// reported it.
void FailNext(std::string_view operation, int code);
// Replaces the message box (tests read the prompt instead of a modal box).
using MessageBoxHook = std::function<void(const std::string& prompt)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace tk::testing
