#include "platform/qt/qt_window.h"

#include <QCloseEvent>
#include <QApplication>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdint>

#include "platform/qt/picture_cached_label.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/x11_focus.h"
#include "platform/qt/x11_stacking.h"
#include "resources/layout.h"

namespace platform::qt {

namespace {

QString View(std::u16string_view text) { return ToQ(std::u16string(text)); }

// Faces to fall back on, in order, where the named one is not installed.
const QStringList kCjkFallbacks = {"NSimSun", "SimSun", "Noto Serif CJK SC", "Noto Sans CJK SC",
                                   "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "AR PL UMing CN"};

template <typename Widget>
class WidgetControl : public Control {
public:
    explicit WidgetControl(Widget* widget) : widget_(widget) {}
    void setText(const std::u16string& text) override { widget_->setText(ToQ(text)); }
    std::u16string text() const override { return FromQ(widget_->text()); }
    void onClick(Handler handler) override {
        if constexpr (std::is_base_of_v<QPushButton, Widget>) {
            QObject::connect(widget_, &QPushButton::clicked, widget_, [handler = std::move(handler)] { handler(); });
        }
    }

private:
    Widget* widget_;
};

Qt::WindowFlags FlagsOf(const layout::Form& form) {
    Qt::WindowFlags flags;
    if (form.bordered) {
        flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                Qt::WindowCloseButtonHint;
        if (form.minimizeBox) flags |= Qt::WindowMinimizeButtonHint;
        if (form.maximizeBox) flags |= Qt::WindowMaximizeButtonHint;
    } else {
        flags = Qt::FramelessWindowHint | (form.taskbarButton ? Qt::Window : Qt::Tool);
    }
    if (form.topmost) flags |= Qt::WindowStaysOnTopHint;
    // A focused full-screen window may cover every managed window kept on
    // top: on X11 a topmost window without a frame or a taskbar button (the
    // badge) is one no window manager stacks, above them all.
    if (!form.bordered && !form.taskbarButton && form.topmost &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        flags |= Qt::BypassWindowManagerHint;
    }
    return flags;
}

// The parts of the image that are not fully transparent.
QRegion OpaqueRegion(const QImage& image) {
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && qAlpha(line[x]) == 0) ++x;
            const int start = x;
            while (x < image.width() && qAlpha(line[x]) != 0) ++x;
            if (x > start) region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

}  // namespace

QFont ToQFont(const layout::Font& font) {
    QFont qfont;
    QStringList families{View(font.face)};
    if (font.charset == layout::kGb2312Charset) families += kCjkFallbacks;
    qfont.setFamilies(families);
    qfont.setPixelSize(font.pixelHeight);
    qfont.setBold(font.bold);
    return qfont;
}

FormWidget::FormWidget(const layout::Form& form, QtPlatform& desktop, bool mainWindow)
    : QWidget(nullptr, FlagsOf(form)), desktop_(desktop), mainWindow_(mainWindow), placement_(*this) {
    setObjectName(QString::fromUtf8(form.name.data(), static_cast<qsizetype>(form.name.size())));
    setWindowTitle(View(form.caption));
    setFont(ToQFont(form.font));
    resize(form.clientWidth, form.clientHeight);
    if (!form.bordered) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
}

void FormWidget::setImage(QImage image) {
    image_ = std::move(image);
    setFixedSize(image_.size());
    setMask(OpaqueRegion(image_));
    update();
}

void FormWidget::closeEvent(QCloseEvent* event) {
    if (!mainWindow_) {
        QWidget::closeEvent(event);
        return;
    }
    // The window stays until the program ends: a spin that is running goes on
    // until it is stopped and its draw recorded.
    event->ignore();
    desktop_.requestQuit();
}

void FormWidget::mousePressEvent(QMouseEvent* event) {
    if (mouseDown) {
        const MouseButton button = event->button() == Qt::RightButton    ? MouseButton::Right
                                   : event->button() == Qt::MiddleButton ? MouseButton::Middle
                                                                         : MouseButton::Left;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        const QPoint at = event->position().toPoint();
#else
        const QPoint at = event->pos();
#endif
        mouseDown(button, at.x(), at.y());
        return;
    }
    QWidget::mousePressEvent(event);
}

void FormWidget::paintEvent(QPaintEvent* event) {
    if (image_.isNull()) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image_);
}

void FormWidget::contextMenuEvent(QContextMenuEvent* event) {
    // Without a notification area the menu would be out of reach: it opens here instead.
    if (mainWindow_ && !desktop_.trayAvailable()) {
        desktop_.popupMenu(event->globalPos());
        return;
    }
    QWidget::contextMenuEvent(event);
}

bool FormWidget::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    const QEvent::Type type = event->type();
    if (type == QEvent::Show) {
        placement_.shown();
    } else if (type == QEvent::Move) {
        placement_.moved();
    } else if (type == QEvent::Resize || type == QEvent::WindowTitleChange) {
        placement_.resizedOrRetitled();
    }
    return handled;
}

QtWindow::QtWindow(const layout::Form& form, QtPlatform& desktop, bool mainWindow)
    : widget_(new FormWidget(form, desktop, mainWindow)) {
    for (const layout::Element& element : form.elements) {
        const QString text = View(element.text);
        const QString name = QString::fromUtf8(element.name.data(), static_cast<qsizetype>(element.name.size()));
        std::unique_ptr<Control> control;
        QWidget* child = nullptr;
        if (element.kind == layout::Kind::Label) {
            auto* label = new PictureCachedLabel(text, widget_);
            // A name is shown as it is, never read as markup.
            label->setTextFormat(Qt::PlainText);
            if (element.centred) label->setAlignment(Qt::AlignCenter);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, QColor(static_cast<QRgb>(element.font.colour)));
            label->setPalette(palette);
            control = std::make_unique<WidgetControl<QLabel>>(label);
            child = label;
        } else {
            auto* button = new QPushButton(text, widget_);
            control = std::make_unique<WidgetControl<QPushButton>>(button);
            child = button;
        }
        child->setObjectName(name);
        child->setFont(ToQFont(element.font));
        child->setGeometry(element.left, element.top, element.width, element.height);
        controls_.emplace(std::string(element.name), std::move(control));
    }
}

QtWindow::~QtWindow() { delete widget_.data(); }

void QtWindow::showAndRaise(bool activate) {
    if (!widget_->isVisible()) {
        widget_->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
        // The attribute reaches the native window only when that is made;
        // Qt reads this property on every show after. Left as it was, a
        // window first shown by a click would ask for the focus on each
        // show of the timer, and xfwm4 gives it.
        if (QWindow* window = widget_->windowHandle()) window->setProperty("_q_showWithoutActivating", !activate);
        transientFor_ = 0;  // Qt's show drops it
    }
    // show() keeps a window the desktop minimised minimised, hidden since or not.
    if (widget_->isMinimized()) {
        // Minimised with the slideshow it belonged to: a window manager
        // restores a transient's owner with it, and the slideshow the
        // teacher put away would come back too.
        if (transientFor_ != 0 && widget_->windowHandle() != nullptr) {
            SetTransientFor(*widget_->windowHandle(), 0);
            transientFor_ = 0;
        }
        if (!activate && widget_->isVisible() && widget_->windowHandle() != nullptr) {
            RestoreWithoutFocusOnOpenbox(*widget_->windowHandle());
        }
        widget_->setWindowState(widget_->windowState() & ~Qt::WindowMinimized);
    }
    widget_->show();
    keepAboveFullScreen();
    if (!activate) {
        raiseUnasked();
        return;
    }
    widget_->raise();
    // A window no window manager keeps takes no focus: none would pass it
    // on when the window goes, and a menu of ours that is open would close.
    if (!unmanaged()) widget_->activateWindow();
}

bool QtWindow::unmanaged() const { return widget_->windowFlags() & Qt::BypassWindowManagerHint; }

// xfwm4 takes a program's raise for a wish to be activated (when it last
// raised another window): a raise nobody asked for just now is made only
// where another program's window lies over this one. The badge's raise goes
// to no window manager.
void QtWindow::raiseUnasked() {
    QWindow* window = widget_->windowHandle();
    if (window != nullptr && !unmanaged() && !CoveredByAnotherProgram(*window)) return;
    widget_->raise();
}

// Over a slideshow (a focused full-screen window, which openbox and KWin
// put above the windows kept on top) a framed window belongs to it for as
// long as it is shown there: kept above it, without the focus. The badge
// needs none of it: no window manager stacks it.
void QtWindow::keepAboveFullScreen() {
    QWindow* window = widget_->windowHandle();
    if (window == nullptr || unmanaged()) return;
    const std::uint32_t owner = FullScreenWindowOver(*window);
    if (owner == transientFor_) return;
    SetTransientFor(*window, owner);
    transientFor_ = owner;
}

// A box or dialog of ours waiting for an answer keeps the focus.
void QtWindow::show() { showAndRaise(QApplication::activeModalWidget() == nullptr); }

// The timer shows a window every second: it takes the focus only from this
// program's own windows, never from the program the user is typing in. A
// window already shown asks for nothing: the user may have clicked into
// another program a moment ago, before the window manager moved the focus.
void QtWindow::showPassively() {
    showAndRaise(!widget_->isVisible() && QApplication::activeModalWidget() == nullptr && FocusIsOurs());
}

void QtWindow::hide() {
    widget_->hide();
    if (transientFor_ != 0 && widget_->windowHandle() != nullptr) SetTransientFor(*widget_->windowHandle(), 0);
    transientFor_ = 0;
}

bool QtWindow::isShowing() const { return widget_->isVisible(); }

void QtWindow::bringToTop() { raiseUnasked(); }

void QtWindow::makeTopmost() {
    // Above the managed windows already; raised by bringToTop.
    if (unmanaged()) return;
    // Through the native window, so the widget is not hidden and shown again
    // (as QWidget::setWindowFlags does): position, size and focus stay.
    QWindow* window = widget_->windowHandle();
    if (window == nullptr) return;
    if (!(window->flags() & Qt::WindowStaysOnTopHint)) {
        window->setFlags(window->flags() | Qt::WindowStaysOnTopHint);
        return;
    }
    // Qt does nothing for flags it has already set.
    if (window->isVisible()) AskWindowManagerForAbove(*window);
}

void QtWindow::setCaption(const std::u16string& caption) { widget_->setWindowTitle(ToQ(caption)); }

std::u16string QtWindow::caption() const { return FromQ(widget_->windowTitle()); }

Rect QtWindow::outerRect() const {
    const QRect frame = widget_->frameGeometry();
    return Rect{frame.x(), frame.y(), frame.width(), frame.height()};
}

void QtWindow::moveTo(int left, int top) { widget_->placement().moveTo(left, top); }

void QtWindow::resize(int width, int height) {
    const QSize frame = widget_->frameGeometry().size() - widget_->geometry().size();
    widget_->resize(width - frame.width(), height - frame.height());
}

void QtWindow::setLayeredImage(const PremultipliedBitmap& bitmap, int left, int top) {
    QImage image(bitmap.width, bitmap.height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < bitmap.height; ++y) {
        std::copy_n(bitmap.pixels.begin() + static_cast<std::ptrdiff_t>(y) * bitmap.width, bitmap.width,
                    reinterpret_cast<QRgb*>(image.scanLine(y)));
    }
    widget_->setImage(std::move(image));
    widget_->move(left, top);
}

void QtWindow::post(PostedMessage message) {
    QPointer<FormWidget> widget = widget_;
    switch (message) {
        case PostedMessage::LeftButtonUp:
            QTimer::singleShot(0, widget_, [this] {
                if (click_) click_();
            });
            break;
        case PostedMessage::SysCommandMove:
            QTimer::singleShot(0, widget_, [widget] {
                if (widget && widget->isVisible() && widget->windowHandle()) widget->windowHandle()->startSystemMove();
            });
            break;
    }
}

void QtWindow::close() { widget_->close(); }

Control& QtWindow::control(std::string_view name) {
    const auto found = controls_.find(name);
    if (found == controls_.end()) throw std::out_of_range("no control " + std::string(name));
    return *found->second;
}

void QtWindow::onClick(Handler handler) { click_ = std::move(handler); }

void QtWindow::onMouseDown(std::function<void(MouseButton, int, int)> handler) {
    widget_->mouseDown = std::move(handler);
}

void QtWindow::onFrameKnown(Handler handler) { widget_->placement().frameKnown = std::move(handler); }

}  // namespace platform::qt
