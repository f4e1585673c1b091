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
#include "toolkit/convert_qt.h"
#include "toolkit/pictures_qt.h"
#include "toolkit/toolkit_qt.h"

namespace tk::backend {
namespace {

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

}  // namespace

const int kButtonMargins = 8;

QWidget* NativeWindow(const Form& form) {
  auto* peer = dynamic_cast<WindowPeerQt*>(form.peer());
  return peer ? peer->widget() : nullptr;
}

std::unique_ptr<WindowPeer> CreateWindow(Form& form) {
  KeepStylePixmapsUncached();
  return std::make_unique<WindowPeerQt>(form);
}

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

}  // namespace tk::backend
