#include "platform/qt/window_placement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "platform/qt/x11_frame.h"

namespace platform::qt {

WindowPlacement::WindowPlacement(QWidget& widget) : widget_(widget) {}

void WindowPlacement::moveTo(int left, int top) {
    widget_.move(left, top);
    // A screen's scale counts from its own top-left corner, which is the same
    // point in both kinds of pixel; the screen is the one the window is moved
    // onto.
    if (widget_.windowHandle() == nullptr || !widget_.isVisible()) return;
    const QRect frame(QPoint(left, top), widget_.frameGeometry().size());
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (screen == nullptr) screen = widget_.screen();
    const qreal ratio = screen->devicePixelRatio();
    if (ratio == 1.0) return;
    const QPoint origin = screen->geometry().topLeft();
    placeToDevicePixel(origin.x() + qRound((frame.x() + frame.width() - origin.x()) * ratio),
                       origin.y() + qRound((frame.y() + frame.height() - origin.y()) * ratio));
}

void WindowPlacement::placeToDevicePixel(int right, int bottom) {
    QWindow* window = widget_.windowHandle();
    if (window == nullptr || !PlaceFrameByRightBottom(*window, right, bottom)) return;
    deviceTarget_ = QPoint(right, bottom);
    deviceRetries_ = 3;
    placing_ = true;
    // A later move is the user's or the program's own, not an answer to this one.
    const int placement = ++placements_;
    QTimer::singleShot(500, &widget_, [this, placement] {
        if (placement != placements_) return;
        deviceRetries_ = 0;
        placing_ = false;
    });
}

// Shown again, Qt maps the window at its logical position, which on a scaled
// screen may lie a device pixel beside where it was placed.
void WindowPlacement::backToDevicePixel() {
    if (!justShown_ || !deviceTarget_ || !widget_.isVisible() || widget_.windowHandle() == nullptr) return;
    // Once framed: the frame's size is what the placement reckons with.
    if (!IsViewable(*widget_.windowHandle())) return;
    placeToDevicePixel(deviceTarget_->x(), deviceTarget_->y());
}

void WindowPlacement::shown() {
    // The window manager sets the frame a moment after the window maps;
    // look again shortly in case no event reports it.
    justShown_ = true;
    const int show = ++shows_;
    for (int delay : {20, 60, 150, 400, 1000}) {
        QTimer::singleShot(delay, &widget_, [this] {
            checkFrame();
            backToDevicePixel();
        });
    }
    QTimer::singleShot(1500, &widget_, [this, show] {
        if (show == shows_) justShown_ = false;
    });
    checkFrame();
}

void WindowPlacement::moved() {
    if (placing_) {
        if (deviceRetries_ > 0 && widget_.windowHandle() != nullptr && deviceTarget_) {
            --deviceRetries_;
            PlaceFrameByRightBottom(*widget_.windowHandle(), deviceTarget_->x(), deviceTarget_->y());
        }
    } else if (justShown_) {
        // The window manager's answer to the map: back to the pixel.
        backToDevicePixel();
    } else if (widget_.isVisible()) {
        // Moved by someone else (the user, say): a later show keeps that place.
        deviceTarget_.reset();
    }
    checkFrame();
}

// The caption changes every second while the window is shown: a frame that a
// busy window manager sets late is still found.
void WindowPlacement::resizedOrRetitled() { checkFrame(); }

void WindowPlacement::checkFrame() {
    if (frameKnownFired_ || !frameKnown || !widget_.isVisible()) return;
    if (widget_.frameGeometry().size() == widget_.geometry().size()) return;
    frameKnownFired_ = true;
    frameKnown();
    // A busy window manager that is still mapping the window may lose that
    // move: it is made once more a second later, before anyone could have
    // moved the window by hand.
    QTimer::singleShot(1000, &widget_, [this] {
        if (frameKnown && widget_.isVisible()) frameKnown();
    });
}

}  // namespace platform::qt
