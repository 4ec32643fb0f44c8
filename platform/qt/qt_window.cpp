#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

#include "platform/qt/picture_cached_label.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/x11_focus.h"
#include "platform/qt/x11_stacking.h"
#include "resources/layout.h"

namespace platform::qt {

namespace {

QString View(std::u16string_view text) { return ToQ(std::u16string(text)); }

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

}  // namespace

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
        // Qt hears of the restore from the window manager. Qt's own restore
        // maps the window, and a map that reaches openbox before the request
        // (Qt 5 asks on a connection of its own) is a restore with the focus.
        const bool restored = !activate && widget_->isVisible() && widget_->windowHandle() != nullptr &&
                              RestoreWithoutFocusOnOpenbox(*widget_->windowHandle());
        if (!restored) widget_->setWindowState(widget_->windowState() & ~Qt::WindowMinimized);
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
