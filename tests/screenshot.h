// Pictures of the windows for review, left in the build folder's
// screenshots/ (TAMBERLODE_SCREENSHOT_DIR, defined for the test targets
// that take them).
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QWidget>
#include <string>

#include "toolkit/toolkit.h"
#include "toolkit/toolkit_qt.h"

namespace testing_windows {

// Writes a picture of the window for review.
inline void Screenshot(const tk::Form& form, const std::string& name) {
  QWidget* window = tk::backend::NativeWindow(form);
  ASSERT_TRUE(window);
  const QString dir = QStringLiteral(TAMBERLODE_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  EXPECT_TRUE(window->grab().save(dir + "/" + QString::fromStdString(name)));
}

}  // namespace testing_windows
