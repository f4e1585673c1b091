// Helpers for tests that drive the program's windows on the Qt backend.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <string>

#include "toolkit/toolkit.h"
#include "toolkit/toolkit_qt.h"

namespace testing_windows {

inline void Pump(int milliseconds = 0) {
  QElapsedTimer clock;
  clock.start();
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  } while (clock.elapsed() < milliseconds);
}

// The native widget of a window's control.
template <class T = QWidget>
T* Native(const tk::Control& control) {
  const tk::Form& form = control.owner();
  QWidget* window = tk::backend::NativeWindow(form);
  if (!window) return nullptr;
  const auto& controls = form.controls();
  const auto index = std::find(controls.begin(), controls.end(), &control) - controls.begin();
  return window->findChild<T*>(QStringLiteral("control%1").arg(index));
}

inline QRect Pixels(const tk::Rect& r) {
  using tk::backend::LogicalPixels;
  return {LogicalPixels(r.left), LogicalPixels(r.top), LogicalPixels(r.width),
          LogicalPixels(r.height)};
}

// A key press as the user makes it, shortcuts and access keys included.
inline void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget();
  ASSERT_TRUE(target) << "no widget has the focus";
  QTest::keyClick(target, key, modifiers);
  Pump(200);  // animated clicks land a little later
}

inline void Activate(const tk::Form& form) {
  QWidget* window = tk::backend::NativeWindow(form);
  ASSERT_TRUE(window);
  QApplication::setActiveWindow(window);
  Pump();
}

// True when `text` laid out in `font` fits `box` (word-wrapped where asked).
inline bool Fits(const QString& text, const QFont& font, QSize box, bool wrap) {
  const QFontMetrics metrics(font);
  const QRect needed =
      metrics.boundingRect(QRect(0, 0, box.width(), 10000), wrap ? Qt::TextWordWrap : 0, text);
  return needed.width() <= box.width() && needed.height() <= box.height();
}

}  // namespace testing_windows
