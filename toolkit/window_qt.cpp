// The Qt 6 Widgets backend of the toolkit layer: the window glue. Starting
// programs and the file test live in system_posix.cpp.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "identity/icon.h"
#include "identity/identity.h"
#include "toolkit/backend.h"
#include "toolkit/toolkit_qt.h"

namespace tk::backend {
namespace {

char applicationName[] = "tamberlode";
char* defaultArgv[] = {applicationName, nullptr};

// The backend's state between Start and Stop.
struct Session {
  std::unique_ptr<QApplication> application;
  // Qt keeps a reference to the count and takes its own options out of the list.
  int argc = 1;
  char** argv = defaultArgv;
  // The handler Qt's messages go through while the program runs.
  QtMessageHandler defaultMessageHandler = nullptr;
};
Session session;

// Whether the command line tells Qt where to show windows (-platform NAME or
// -display NAME, with one dash or two).
bool NamesDisplay(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument.starts_with("--")) argument.remove_prefix(1);
    if (argument == "-platform" || argument == "-display") return true;
  }
  return false;
}

QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToQt(const Color& color) {
  if (color.kind == Color::Kind::Rgb) return QColor(color.red, color.green, color.blue);
  const QPalette palette = QApplication::palette();
  switch (color.systemIndex) {
    case 5:
      return palette.color(QPalette::Base);  // window background
    case 8:
      return palette.color(QPalette::Text);  // window text
    case 15:
      return palette.color(QPalette::Button);  // button face
    case 18:
      return palette.color(QPalette::ButtonText);
    default:
      return palette.color(QPalette::Window);
  }
}

// A system colour as the scheme has it now.
Color SystemRgb(int systemIndex) {
  const QColor colour = ToQt(SystemColor(systemIndex));
  return Rgb(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
             static_cast<std::uint8_t>(colour.blue()));
}

// A caption as it reads, without its access-key marks ("&&" is one "&").
QString WithoutAccessKeys(const QString& caption) {
  QString text;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    text += caption[i];
  }
  return text;
}

QRect ToLogicalPixels(const Rect& r) {
  return {LogicalPixels(r.left), LogicalPixels(r.top), LogicalPixels(r.width),
          LogicalPixels(r.height)};
}

// Distinct colours of an image, to tell an icon's 2-colour image from its
// 16-colour one after Qt has converted both to 32 bits.
int Colours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

// A BMP as it is; from an icon file the 32x32 image with the most colours.
QImage LoadPicture(Picture picture) {
  QByteArray bytes(reinterpret_cast<const char*>(picture.data()),
                   static_cast<qsizetype>(picture.size()));
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer);
  QImage best;
  for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
    if (i > 0 && !reader.jumpToImage(i)) break;
    const QImage image = reader.read();
    if (best.isNull() || (image.size() == QSize(32, 32) &&
                          (best.size() != QSize(32, 32) || Colours(image) > Colours(best)))) {
      best = image;
    }
  }
  return best;
}

// Native buttons break a caption that is too wide onto further lines at word
// boundaries; Qt's do not, so break it here.
QString WrapCaption(const QString& caption, const QFont& font, int width) {
  const QFontMetrics metrics(font);
  const auto advance = [&](const QString& text) {
    return metrics.horizontalAdvance(QString(text).remove(QLatin1Char('&')));
  };
  QStringList lines;
  for (const QString& word : caption.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (!lines.isEmpty() && advance(lines.back() + QLatin1Char(' ') + word) <= width) {
      lines.back() += QLatin1Char(' ') + word;
    } else {
      lines.append(word);
    }
  }
  return lines.join(QLatin1Char('\n'));
}

void FitCaption(QLabel* label, int designWidth);

// A control that is one widget, shown and hidden with it.
template <class Widget>
class WidgetPeer : public ControlPeer {
 public:
  explicit WidgetPeer(Widget* widget) : widget_(widget) {}
  int SetVisible(bool visible) override {
    widget_->setVisible(visible);
    return 0;
  }

 protected:
  Widget* widget_;
};

class LabelPeer final : public WidgetPeer<QLabel> {
 public:
  explicit LabelPeer(QLabel* label) : WidgetPeer(label), designWidth_(label->width()) {
    FitCaption(widget_, designWidth_);
  }
  int SetCaption(std::string_view caption) override {
    widget_->setText(ToQt(caption));
    FitCaption(widget_, designWidth_);
    return 0;
  }
  // A caption changed while hidden is fitted when it shows.
  int SetVisible(bool visible) override {
    widget_->setVisible(visible);
    FitCaption(widget_, designWidth_);
    return 0;
  }
  int SetToolTip(std::string_view text) override {
    widget_->setToolTip(ToQt(text));
    return 0;
  }

 private:
  int designWidth_;
};

class ButtonPeer final : public WidgetPeer<QPushButton> {
 public:
  using WidgetPeer::WidgetPeer;
  // Only our own connection: a wildcard one would also cut the widget's
  // destroyed() signal from Qt's accessibility cache, which then keeps (and
  // may later use) an interface for every button ever deleted.
  ~ButtonPeer() override { QObject::disconnect(widget_, &QPushButton::clicked, nullptr, nullptr); }
};

class TimerPeer final : public ControlPeer {
 public:
  explicit TimerPeer(QTimer* timer) : timer_(timer) {}
  ~TimerPeer() override {
    timer_->stop();
    QObject::disconnect(timer_, &QTimer::timeout, nullptr, nullptr);
  }
  int SetInterval(int milliseconds) override {
    // A Qt timer of interval 0 fires at every pass of the loop; ours never does.
    if (milliseconds <= 0) {
      timer_->stop();
    } else {
      timer_->start(milliseconds);
    }
    return 0;
  }

 private:
  QTimer* timer_;
};

class InertPeer final : public ControlPeer {};

// A picture box: its picture from the top-left, one image pixel to a
// logical pixel (Qt scales logical pixels to the screen), clipped to the
// box, on its ground (see PictureGround).
class PictureWidget final : public QWidget {
 public:
  PictureWidget(QWidget* parent, const PictureBox& picture, const Color& windowBack)
      : QWidget(parent),
        image_(LoadPicture(picture.design().picture)),
        back_(ToQt(PictureGround(picture.design().backColor, windowBack, SystemRgb))) {
    const PictureBox::Design& d = picture.design();
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(ToQt(d.description));
    // The focus mark keeps to the box's own area, where no neighbour paints.
    const Rect own = picture.FocusArea();
    focusArea_ = QRect(QPoint(LogicalPixels(own.left) - LogicalPixels(d.rect.left),
                              LogicalPixels(own.top) - LogicalPixels(d.rect.top)),
                       QPoint(LogicalPixels(own.left + own.width) - LogicalPixels(d.rect.left) - 1,
                              LogicalPixels(own.top + own.height) - LogicalPixels(d.rect.top) - 1));
  }
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), back_);
    painter.drawImage(0, 0, image_);
    // The focus mark of the style's own controls, shown as they show it
    // (once the keyboard has moved the focus).
    if (hasFocus()) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = focusArea_;
      focus.backgroundColor = back_;
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }

 private:
  QImage image_;
  QColor back_;
  QRect focusArea_;
};

// Screen readers: our windows are ordinary windows, whatever their frame, and
// a picture box is an image named by what it shows.
QAccessibleInterface* AccessibleFor(const QString&, QObject* object);

// Every window is an ordinary top-level window without an owner; Tab, Enter,
// Esc and the default button work in it as in a dialog box.
class FormWidget final : public QWidget {
 public:
  explicit FormWidget(Form& form) : form_(form) {
    static const bool accessible = (QAccessible::installFactory(AccessibleFor), true);
    (void)accessible;
    const Form::Design& d = form.design();
    Qt::WindowFlags flags =
        Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (d.frame == Frame::Sizable) {
      flags |= Qt::WindowMinMaxButtonsHint;
      resize(LogicalPixels(d.clientWidth), LogicalPixels(d.clientHeight));
    } else {
      // Only the hints given: no minimise or maximise button.
      flags |= Qt::CustomizeWindowHint;
      setFixedSize(LogicalPixels(d.clientWidth), LogicalPixels(d.clientHeight));
    }
    setWindowFlags(flags);
    setWindowTitle(ToQt(form.Caption()));
    if (d.icon) setWindowIcon(ProgramIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ToQt(d.backColor));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(ToQtFont(DefaultFont()));
    focusWatch_ = QObject::connect(
        qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
          if ((old && old->window() == this) || (now && now->window() == this)) MarkDefault();
        });
  }
  // The controls still lose their focus as they go, after this part of the
  // window is gone.
  ~FormWidget() override { QObject::disconnect(focusWatch_); }

  void AddLine(const Line::Design& line) { lines_.push_back(line); }

  int DesignWidth() const { return LogicalPixels(form_.design().clientWidth); }
  // Widens the client area to `width` pixels if it is narrower; never narrows.
  void MakeRoom(int width) {
    if (this->width() >= width) return;
    if (form_.design().frame == Frame::Sizable) {
      resize(width, height());
    } else {
      setFixedWidth(width);
    }
  }
  void AddFocusable(int tabIndex, QWidget* widget) { focusable_.emplace_back(tabIndex, widget); }
  void AddCancel(QPushButton* button) { cancel_ = button; }
  void AddDefault(QPushButton* button) { default_ = button; }

  // Shows which button Enter presses: the one with the focus, else the
  // design's default button (a window need not have one).
  void MarkDefault() {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    QPushButton* marked = focused ? focused : default_.data();
    for (QPushButton* button : findChildren<QPushButton*>()) button->setDefault(button == marked);
  }

  void FinishLoad() {
    std::stable_sort(focusable_.begin(), focusable_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable_.size(); ++i) {
      QWidget::setTabOrder(focusable_[i - 1].second, focusable_[i].second);
    }
  }

  // The first control in the tab order that can take the focus holds it.
  void FocusFirst() {
    for (const auto& [index, widget] : focusable_) {
      if (widget->isVisibleTo(this) && widget->isEnabled()) {
        widget->setFocus(Qt::OtherFocusReason);
        return;
      }
    }
  }

  bool shownOnce = false;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QWidget::paintEvent(event);
    QPainter painter(this);
    for (const Line::Design& line : lines_) {
      QPen pen(ToQt(line.color));
      pen.setWidth(line.width);
      pen.setCapStyle(Qt::FlatCap);
      painter.setPen(pen);
      // A pen wider than one pixel grows downwards from the line's y, as the
      // native one does.
      const int shift = line.width / 2;
      painter.drawLine(LogicalPixels(line.x1), LogicalPixels(line.y1) + shift,
                       LogicalPixels(line.x2), LogicalPixels(line.y2) + shift);
    }
  }

  void closeEvent(QCloseEvent* event) override {
    // The window system asked; the window class decides (Unload by default).
    event->ignore();
    Form& form = form_;
    Dispatch([&form] { form.Form_Close(); });
  }

  // A focused button takes Enter itself; from anywhere else Enter presses the
  // default button and Esc the cancel button. Without them the keys do nothing.
  void keyPressEvent(QKeyEvent* event) override {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers != Qt::NoModifier ||
        (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape)) {
      QWidget::keyPressEvent(event);
      return;
    }
    QPushButton* button = key == Qt::Key_Escape ? cancel_.data() : default_.data();
    if (button && button->isVisible() && button->isEnabled()) button->animateClick();
  }

 private:
  Form& form_;
  std::vector<Line::Design> lines_;
  std::vector<std::pair<int, QWidget*>> focusable_;
  QPointer<QPushButton> cancel_;
  QPointer<QPushButton> default_;
  QMetaObject::Connection focusWatch_;
};

QAccessibleInterface* AccessibleFor(const QString&, QObject* object) {
  if (auto* window = dynamic_cast<FormWidget*>(object)) {
    return new QAccessibleWidget(window, QAccessible::Window);
  }
  if (auto* picture = dynamic_cast<PictureWidget*>(object)) {
    return new QAccessibleWidget(picture, QAccessible::Graphic);
  }
  return nullptr;
}

// The label's width and its window's for its caption (tk::FitCaption). A
// hidden label is never seen and asks for nothing: no window changes size on
// its own (the notice's hidden count runs on below 0).
void FitCaption(QLabel* label, int designWidth) {
  if (label->isHidden()) return;
  const QFontMetricsF metrics(label->font());
  const QString text = label->text();
  const QStringList pieces =
      label->wordWrap() ? text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)
                        : text.split(QLatin1Char('\n'));
  qreal needed = 0;
  for (const QString& piece : pieces) needed = std::max(needed, metrics.horizontalAdvance(piece));
  auto* window = dynamic_cast<FormWidget*>(label->parentWidget());
  const CaptionWidths fit =
      tk::FitCaption(label->x(), designWidth, static_cast<int>(std::ceil(needed)),
                     window ? window->DesignWidth() : 0, window ? window->width() : 0);
  if (fit.label != label->width()) label->resize(fit.label, label->height());
  if (window) window->MakeRoom(fit.window);
}

// The form Show raised last: a message box's owner when no form of ours is
// active (see MessageBox).
QPointer<FormWidget> shownLast;

class WindowPeerQt final : public WindowPeer {
 public:
  explicit WindowPeerQt(Form& form) : form_(form), widget_(new FormWidget(form)) {}

  ~WindowPeerQt() override {
    // The handler that unloads may be running inside one of this window's
    // signals: the widget goes once control is back in the event loop.
    widget_->hide();
    widget_->deleteLater();
  }

  int SetCaption(std::string_view caption) override {
    widget_->setWindowTitle(ToQt(caption));
    return 0;
  }

  int Show() override {
    if (!widget_->shownOnce) {
      widget_->shownOnce = true;
      const Form::Design& d = form_.design();
      // The design places the client area, not the frame.
      widget_->setGeometry(
          QRect(QPoint(LogicalPixels(d.left), LogicalPixels(d.top)), widget_->size()));
      widget_->FocusFirst();
      widget_->MarkDefault();
    }
    if (widget_->isVisible()) {
      widget_->raise();
    } else {
      widget_->show();
    }
    widget_->activateWindow();
    shownLast = widget_;
    return 0;
  }

  int Hide() override {
    widget_->hide();
    return 0;
  }

  bool Visible() const override { return widget_->isVisible(); }

  int HoldPainting(bool hold) override {
    // Enabling updates again repaints the window and its controls once.
    widget_->setUpdatesEnabled(!hold);
    return 0;
  }

  std::unique_ptr<ControlPeer> CreateLabel(Label& label) override {
    const Label::Design& d = label.design();
    auto* widget = new QLabel(widget_);
    widget->setObjectName(ObjectName(label));
    widget->setGeometry(ToLogicalPixels(d.rect));
    widget->setTextFormat(Qt::PlainText);
    widget->setWordWrap(d.wordWrap);
    const Qt::Alignment horizontal = d.alignment == Alignment::Left    ? Qt::AlignLeft
                                     : d.alignment == Alignment::Right ? Qt::AlignRight
                                                                       : Qt::AlignHCenter;
    widget->setAlignment(horizontal | Qt::AlignTop);
    widget->setFont(ToQtFont(d.font.value_or(DefaultFont())));
    QPalette palette = widget->palette();
    const TextColors colors = ReadableColors(d.foreColor, d.backColor, SystemRgb);
    palette.setColor(QPalette::WindowText, ToQt(colors.fore));
    palette.setColor(QPalette::Window, ToQt(colors.back));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->setFocusPolicy(Qt::NoFocus);
    widget->setText(ToQt(label.Caption()));
    widget->setVisible(label.Visible());
    return std::make_unique<LabelPeer>(widget);
  }

  std::unique_ptr<ControlPeer> CreateButton(CommandButton& button) override {
    const CommandButton::Design& d = button.design();
    auto* widget = new QPushButton(widget_);
    widget->setObjectName(ObjectName(button));
    widget->setGeometry(ToLogicalPixels(d.rect));
    widget->setFont(ToQtFont(d.font.value_or(DefaultFont())));
    widget->setText(WrapCaption(ToQt(d.caption), widget->font(), widget->width() - kButtonMargins));
    // The wrap is only how the caption is laid out: screen readers read it whole.
    widget->setAccessibleName(WithoutAccessKeys(ToQt(d.caption)));
    widget->setFocusPolicy(Qt::StrongFocus);
    // Enter presses the button that has the focus, else the default one.
    widget->setAutoDefault(true);
    widget->setDefault(d.isDefault);
    if (d.isDefault) widget_->AddDefault(widget);
    if (d.cancel) widget_->AddCancel(widget);
    widget->setVisible(button.Visible());
    widget_->AddFocusable(d.tabIndex, widget);
    CommandButton* target = &button;
    QObject::connect(widget, &QPushButton::clicked, widget, [target] { target->Press(); });
    return std::make_unique<ButtonPeer>(widget);
  }

  std::unique_ptr<ControlPeer> CreateTimer(Timer& timer) override {
    auto* qtimer = new QTimer(widget_);
    Timer* target = &timer;
    QObject::connect(qtimer, &QTimer::timeout, qtimer, [target] { target->Tick(); });
    auto peer = std::make_unique<TimerPeer>(qtimer);
    peer->SetInterval(timer.Interval());
    return peer;
  }

  std::unique_ptr<ControlPeer> CreatePicture(PictureBox& picture) override {
    const PictureBox::Design& d = picture.design();
    auto* widget = new PictureWidget(widget_, picture, form_.design().backColor);
    widget->setObjectName(ObjectName(picture));
    widget->setGeometry(ToLogicalPixels(d.rect));
    widget_->AddFocusable(d.tabIndex, widget);
    return std::make_unique<InertPeer>();
  }

  std::unique_ptr<ControlPeer> CreateLine(Line& line) override {
    widget_->AddLine(line.design());
    return std::make_unique<InertPeer>();
  }

  int FinishLoad() override {
    widget_->FinishLoad();
    return 0;
  }

  FormWidget* widget() const { return widget_; }

 private:
  // Tests find controls by the index of their declaration.
  QString ObjectName(const Control& control) const {
    const auto& controls = form_.controls();
    const auto it = std::find(controls.begin(), controls.end(), &control);
    return QStringLiteral("control%1").arg(it - controls.begin());
  }

  Form& form_;
  FormWidget* widget_;
};

// The style caches the faces of its buttons under names that hold the key
// of the button's palette, and every button made gets a palette with a new
// key: each window loaded adds names, and the cache keeps the name of every
// entry it ever held (Qt drops a name only when it is looked up again, or
// when its entry cannot be stored at all). A window opened and closed all
// day would grow the heap without end; with no room in the cache, no name
// stays behind. The faces are painted afresh instead, a few small images.
void KeepStylePixmapsUncached() {
  if (QPixmapCache::cacheLimit() != 0) QPixmapCache::setCacheLimit(0);
}

void FatalMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (type == QtFatalMsg) {
    // Qt aborts (and dumps core) when it cannot reach a display; end plainly.
    std::fprintf(stderr, "tamberlode: cannot open a window: no usable display\n");
    std::_Exit(2);
  }
}

// The exit status when the display goes away, as when there is none at start.
constexpr int kDisplayLost = 2;

// When the connection to the display breaks, Qt says so ("The X11 connection
// broke (error 1). Did the X11 server die?", "The Wayland connection broke.
// Did the Wayland compositor die?") and calls exit() from inside the event
// loop; the exit handlers then destroy the application object and the
// windows under the running loop, and the program dies of a signal. Say it
// in one line and end at once instead.
void RunningMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("connection broke"))) {
    std::fprintf(stderr, "tamberlode: lost the display: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(kDisplayLost);
  }
  if (session.defaultMessageHandler) session.defaultMessageHandler(type, context, message);
}

}  // namespace

const int kButtonMargins = 8;

int LogicalPixels(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

// The design's Windows fonts, mapped to installed open fonts. The open faces
// run wider than the originals at the same size, so they are scaled to set
// the design's texts in about the same width: 8.25 pt MS Sans Serif becomes
// 10-pixel Liberation Sans, 21.75 pt Comic Sans MS becomes 20 pt Comic Neue.
struct FontMapping {
  std::string_view design;
  const char* family;
  double scale;
};
constexpr FontMapping kFontMappings[] = {
    {"MS Sans Serif", "Liberation Sans", 7.5 / 8.25},
    {"Comic Sans MS", "Comic Neue", 20.0 / 21.75},
};

QFont ToQtFont(const Font& font) {
  QString family = ToQt(font.name);
  double points = font.points;
  for (const FontMapping& mapping : kFontMappings) {
    if (font.name == mapping.design) {
      family = QString::fromLatin1(mapping.family);
      points *= mapping.scale;
    }
  }
  QFont qfont(family);
  qfont.setPointSizeF(points);
  qfont.setWeight(static_cast<QFont::Weight>(font.weight));
  qfont.setItalic(font.italic);
  qfont.setUnderline(font.underline);
  return qfont;
}

QIcon ProgramIcon(int scale) {
  // Decoded once, as PNG and nothing else: left to guess, Qt loads every
  // image format plugin to ask whether it knows the bytes.
  static const auto decode = [](Picture png) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(png.data()),
                                               static_cast<qsizetype>(png.size()));
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
  };
  static const QImage design16 = decode(identity::IconPng16());
  static const QImage design32 = decode(identity::IconPng32());
  const auto scaled = [](const QImage& design, int factor) {
    return QPixmap::fromImage(
        factor == 1
            ? design
            : design.scaled(design.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation));
  };
  // The title bar's 16 and the task switcher's 32 points in this screen's
  // pixels: the pixel designs scaled by whole factors, the larger design
  // wherever it fits, as in the icon theme.
  scale = std::max(1, scale);
  QIcon icon;
  icon.addPixmap(scale % 2 == 0 ? scaled(design32, scale / 2) : scaled(design16, scale));
  icon.addPixmap(scaled(design32, scale));
  return icon;
}

QIcon ProgramIcon() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return ProgramIcon(screen ? static_cast<int>(std::ceil(screen->devicePixelRatio())) : 1);
}

QWidget* NativeWindow(const Form& form) {
  auto* peer = dynamic_cast<WindowPeerQt*>(form.peer());
  return peer ? peer->widget() : nullptr;
}

std::unique_ptr<WindowPeer> CreateWindow(Form& form) {
  KeepStylePixmapsUncached();
  return std::make_unique<WindowPeerQt>(form);
}

int Start(int argc, char** argv) {
  if (session.application) return 0;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!platform || !*platform) && (!display || !*display) && (!wayland || !*wayland) &&
      !NamesDisplay(argc, argv)) {
    std::fprintf(stderr, "tamberlode: cannot open a window: no display (DISPLAY is not set)\n");
    return 2;
  }
  if (argc > 0 && argv) {
    session.argc = argc;
    session.argv = argv;
  }
  qInstallMessageHandler(FatalMessage);
  session.application = std::make_unique<QApplication>(session.argc, session.argv);
  qInstallMessageHandler(nullptr);
  session.defaultMessageHandler = qInstallMessageHandler(RunningMessage);
  QApplication::setApplicationName(ToQt(identity::kTitle));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Tamberlode"));
  // The program ends when no window is loaded, not when the last one hides.
  QApplication::setQuitOnLastWindowClosed(false);
  return 0;
}

void Stop() {
  if (!session.application) return;
  // Windows unloaded in the last handler are still waiting to be deleted.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  session.application.reset();
}

int RunLoop() { return QApplication::exec(); }

void Quit(int status) { QCoreApplication::exit(status); }

void MessageBox(const std::string& prompt) {
  QMessageBox box(QMessageBox::NoIcon, ToQt(identity::kTitle), ToQt(prompt), QMessageBox::Ok);
  // The box belongs to the active form, else to the one shown last, as on
  // Windows. Its native window is made transient for that form's, which is
  // what lets a Wayland compositor put it over its owner; no widget parent,
  // so the box keeps the application's look rather than taking its owner's.
  QWidget* owner = dynamic_cast<FormWidget*>(QApplication::activeWindow());
  if (!owner) owner = shownLast.data();
  if (owner && owner->isVisible()) {
    box.winId();
    box.windowHandle()->setTransientParent(owner->windowHandle());
  }
  box.exec();
}

namespace {

// While a handler waits: the user's input and the window system's close
// requests are eaten, so they neither run a handler inside the waiting one
// nor wait in the queue to run after it.
class InputDropper final : public QObject {
 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::Close:
        event->ignore();
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

void PaintPending() {
  // Everything the window system sent is taken, so input is dropped here
  // rather than queued; posted events (repaints, layouts) run; timers and
  // socket notifiers wait for the loop, so no timer handler runs inside.
  InputDropper dropper;
  QCoreApplication::instance()->installEventFilter(&dropper);
  QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers |
                                  QEventLoop::ExcludeSocketNotifiers);
  QCoreApplication::instance()->removeEventFilter(&dropper);
}

void SetBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

// Qt reports no cause of its failures.
std::optional<SystemCause> TakeFailure() { return std::nullopt; }

}  // namespace tk::backend
