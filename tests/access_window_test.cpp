// The three windows under a dark colour scheme, on the keyboard and through
// a screen reader's eyes, on the real Qt backend.
#include <QAccessible>
#include <QBuffer>
#include <QImageReader>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QWindow>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "screenshot.h"
#include "toolkit/references.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;

// Contrast as the web's accessibility guidelines measure it, 1 to 21.
double Contrast(QColor a, QColor b) {
  const auto luminance = [](QColor c) {
    const auto channel = [](double v) {
      return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the ink in `rect` of a rendered window: its commonest
// colour is the background, the colour that stands out most is the ink.
double InkContrast(const QImage& image, const QRect& rect) {
  std::map<QRgb, int> counts;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) ++counts[image.pixel(x, y)];
  }
  QRgb background = 0;
  int most = 0;
  for (const auto& [colour, count] : counts) {
    if (count > most) {
      background = colour;
      most = count;
    }
  }
  double best = 1;
  for (const auto& [colour, count] : counts) {
    best = std::max(best, Contrast(QColor(background), QColor(colour)));
  }
  return best;
}

// A dark scheme as dark desktop themes set it: light text on dark grounds.
QPalette DarkPalette() {
  QPalette palette;
  const QColor ground(30, 30, 30), face(53, 53, 53), text(240, 240, 240);
  for (auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase}) {
    palette.setColor(role, ground);
  }
  palette.setColor(QPalette::Button, face);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(role, text);
  }
  return palette;
}

class Access : public testing::Test {
 protected:
  void SetUp() override {
    tk::Use<Form2>().freeSpaceQuery = [](const std::string& root, std::int32_t& spc,
                                         std::int32_t& bps, std::int32_t& nfc, std::int32_t& tnc) {
      if (root != "c:\\") return 0;
      spc = 8, bps = 512, nfc = 1000000, tnc = 2000000;
      return 1;
    };
  }
  void TearDown() override {
    for (tk::Form* form : std::initializer_list<tk::Form*>{&notice, &report, &about}) {
      form->Unload();
    }
    Pump();
    ASSERT_EQ(tk::LoadedWindows(), 0);
  }
  // The notice after its count, the report and the About box, each loaded
  // and shown.
  void OpenAll(const std::function<void()>& whileCounting = {}) {
    notice.Show();
    if (whileCounting) whileCounting();
    for (int tick = 0; tick < 5; ++tick) notice.Timer1.Tick();
    report.Show();
    Native<QPushButton>(report.Command2)->click();
    Pump(50);
  }

  Form1& notice = tk::Use<Form1>();
  Form2& report = tk::Use<Form2>();
  frmAbout& about = tk::Use<frmAbout>();
};

// Every visible text of a window, measured on its rendered image.
void ExpectReadable(const tk::Form& form, const std::string& screenshot) {
  const QImage image = tk::backend::NativeWindow(form)->grab().toImage();
  Screenshot(form, screenshot);
  for (tk::Control* control : form.controls()) {
    std::string text;
    if (auto* label = dynamic_cast<tk::Label*>(control)) {
      if (!label->Visible() || label->Caption().empty()) continue;
      text = label->Caption();
    } else if (auto* button = dynamic_cast<tk::CommandButton*>(control)) {
      if (!button->Visible()) continue;
      text = button->Caption();
    } else if (auto* picture = dynamic_cast<tk::PictureBox*>(control)) {
      if (picture->design().picture.empty() || picture->design().picture[0] != 'B') continue;
      text = "a picture of lettering";  // the icon is no text
    } else {
      continue;
    }
    EXPECT_GE(InkContrast(image, Native(*control)->geometry()), 4.5)
        << form.Caption() << ": " << text;
  }
}

TEST_F(Access, UnderADarkSchemeEveryTextKeepsItsContrast) {
  const QPalette original = QApplication::palette();
  QApplication::setPalette(DarkPalette());
  OpenAll([this] { ExpectReadable(notice, "dark-notice-counting.png"); });
  ExpectReadable(notice, "dark-notice-ready.png");
  ExpectReadable(report, "dark-report.png");
  ExpectReadable(about, "dark-about.png");
  for (tk::Form* form : std::initializer_list<tk::Form*>{&notice, &report, &about}) form->Unload();
  QApplication::setPalette(original);
}

// The picture in a box as the backend loads it: the BMP, or the icon's
// 32x32 image, whose transparent pixels show the box's ground.
QImage PictureOf(const tk::PictureBox& box) {
  const tk::Picture bytes = box.design().picture;
  QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer);
  for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
    if (i > 0 && !reader.jumpToImage(i)) break;
    const QImage image = reader.read();
    if (bytes[0] == 'B' || image.size() == QSize(32, 32)) return image;
  }
  return {};
}

// Under a dark scheme the boxes of the scheme's window colour on the white
// windows show as the design has them: nothing of the box differs from the
// window's ground outside the picture itself (beyond its size, and where
// the icon is transparent).
TEST_F(Access, UnderADarkSchemePictureBoxesShowOnlyTheirPictures) {
  const QPalette original = QApplication::palette();
  QApplication::setPalette(DarkPalette());
  OpenAll();
  for (tk::Form* form : std::initializer_list<tk::Form*>{&notice, &about}) {
    QWidget* window = tk::backend::NativeWindow(*form);
    window->setFocus();  // no focus mark in the way
    Pump(20);
    const QImage shot = window->grab().toImage();
    Screenshot(*form,
               "dark-pictures-" + std::string(form == &notice ? "notice" : "about") + ".png");
    const QRgb ground = window->palette().color(QPalette::Window).rgb();
    for (tk::Control* control : form->controls()) {
      const auto* box = dynamic_cast<tk::PictureBox*>(control);
      if (!box) continue;
      const QImage picture = PictureOf(*box);
      ASSERT_FALSE(picture.isNull());
      const QRect area = Native(*box)->geometry();
      int differ = 0;
      for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
          const bool ownPixel = picture.rect().contains(x, y) && qAlpha(picture.pixel(x, y)) > 0;
          if (!ownPixel && shot.pixel(area.x() + x, area.y() + y) != ground) ++differ;
        }
      }
      EXPECT_EQ(differ, 0) << form->Caption() << ": " << box->design().description;
    }
  }
  for (tk::Form* form : std::initializer_list<tk::Form*>{&notice, &report, &about}) form->Unload();
  QApplication::setPalette(original);
}

TEST_F(Access, EnterOnTheNoticePressesOnlyTheFocusedButton) {
  struct Case {
    const char* name;
    int tabs;  // from Picture1: 3 reaches Command1
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool starts;
  };
  const Case cases[] = {
      {"Enter on Picture1", 0, Qt::Key_Return, Qt::NoModifier, false},
      {"keypad Enter on Picture1", 0, Qt::Key_Enter, Qt::KeypadModifier, false},
      {"Esc on Picture1", 0, Qt::Key_Escape, Qt::NoModifier, false},
      {"Enter on Picture3", 2, Qt::Key_Return, Qt::NoModifier, false},
      {"Enter on Command1", 3, Qt::Key_Return, Qt::NoModifier, true},
  };
  for (const Case& c : cases) {
    notice.Show();
    Activate(notice);
    for (int tick = 0; tick < 5; ++tick) notice.Timer1.Tick();
    Pump();
    ASSERT_EQ(QApplication::focusWidget(), Native(notice.Picture1)) << c.name;
    EXPECT_FALSE(Native<QPushButton>(notice.Command1)->isDefault())
        << c.name << ": the start button is drawn as the default one";
    for (int i = 0; i < c.tabs; ++i) PressKey(Qt::Key_Tab);
    PressKey(c.key, c.modifiers);
    EXPECT_EQ(report.Visible(), c.starts) << c.name;
    EXPECT_EQ(notice.Visible(), !c.starts) << c.name;
    notice.Unload();
    report.Unload();
  }
}

TEST_F(Access, EveryWindowIsAnOrdinaryWindowWithoutAnOwner) {
  OpenAll();
  Activate(report);
  Native<QPushButton>(report.Command2)->click();  // shows the About box over the active report
  Pump(50);
  for (tk::Form* form : std::initializer_list<tk::Form*>{&notice, &report, &about}) {
    QWidget* window = tk::backend::NativeWindow(*form);
    EXPECT_EQ(window->windowType(), Qt::Window) << form->Caption();
    ASSERT_TRUE(window->windowHandle()) << form->Caption();
    EXPECT_EQ(window->windowHandle()->transientParent(), nullptr) << form->Caption();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window)
        << form->Caption();
  }
}

TEST_F(Access, ScreenReadersReadWhatEachControlShows) {
  OpenAll();
  struct Expect {
    const tk::Control* control;
    QString name;
    QAccessible::Role role;
  };
  const Expect expected[] = {
      {&notice.Command1, "Start the Application", QAccessible::Button},
      {&notice.Picture3, "Tamberlode v0.1a", QAccessible::Graphic},
      {&notice.Picture1, "Produced by the Tamberlode developers", QAccessible::Graphic},
      {&notice.Picture2, "tamberlode@example.org", QAccessible::Graphic},
      {&about.picIcon, "Tamberlode icon", QAccessible::Graphic},
      {&about.cmdSysInfo, "System Info...", QAccessible::Button},
      {&report.Command1, "Refresh", QAccessible::Button},
  };
  for (const Expect& e : expected) {
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(Native(*e.control));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->text(QAccessible::Name), e.name) << e.name.toStdString();
    EXPECT_EQ(reader->role(), e.role) << e.name.toStdString();
  }
}

// The credit picture's focus mark, found as what focusing it changes on
// screen, is a frame closed on all four sides: the e-mail picture, which
// overlaps the credit box's last row, paints over none of it.
TEST_F(Access, TheCreditPicturesFocusMarkIsClosed) {
  notice.Show();
  Activate(notice);
  QWidget* window = tk::backend::NativeWindow(notice);
  const QRect box = Native(notice.Picture1)->geometry().adjusted(-2, -2, 2, 2);
  PressKey(Qt::Key_Tab);  // the keyboard moved the focus: marks show
  PressKey(Qt::Key_Tab);  // to the banner, away from both neighbours
  const QImage unfocused = window->grab().toImage();
  PressKey(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), Native(notice.Picture1));
  const QImage focused = window->grab().toImage();
  Screenshot(notice, "notice-credit-focused.png");
  QRect mark;
  for (int y = box.top(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) {
      if (focused.pixel(x, y) != unfocused.pixel(x, y)) mark |= QRect(x, y, 1, 1);
    }
  }
  ASSERT_FALSE(mark.isEmpty()) << "no focus mark";
  const auto covered = [&](QPoint from, QPoint step, int length) {
    int marked = 0;
    for (int i = 0; i < length; ++i) {
      const QPoint p = from + step * i;
      marked += focused.pixel(p) != unfocused.pixel(p) ? 1 : 0;
    }
    return static_cast<double>(marked) / length;
  };
  const struct {
    const char* side;
    double share;
  } sides[] = {
      {"top", covered(mark.topLeft(), {1, 0}, mark.width())},
      {"bottom", covered(mark.bottomLeft(), {1, 0}, mark.width())},
      {"left", covered(mark.topLeft(), {0, 1}, mark.height())},
      {"right", covered(mark.topRight(), {0, 1}, mark.height())},
  };
  for (const auto& s : sides) EXPECT_GE(s.share, 0.4) << s.side << " edge of the mark";
  EXPECT_LE(mark.bottom(), Native(notice.Picture2)->geometry().top() - 1)
      << "the mark reaches into the e-mail picture";
}

TEST_F(Access, AFocusedPictureShowsAFocusMark) {
  about.Show();
  Activate(about);
  QWidget* icon = Native(about.picIcon);
  const QImage unfocused = icon->grab().toImage();
  PressKey(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), icon);
  EXPECT_TRUE(icon->grab().toImage() != unfocused) << "no focus mark on the picture";
  Screenshot(about, "about-icon-focused.png");
  PressKey(Qt::Key_Tab);
  EXPECT_TRUE(icon->grab().toImage() == unfocused) << "the mark stays after the focus has gone";
}

}  // namespace
