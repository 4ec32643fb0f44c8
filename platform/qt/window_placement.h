#pragma once
// Where a top-level widget's frame stands, followed as the window manager
// answers: the moment its frame is first known, and, on a scaled X11 screen,
// its place to the device pixel, made again while the window manager may
// still be answering an earlier move.

#include <QPoint>
#include <functional>
#include <optional>

class QWidget;

namespace platform::qt {

class WindowPlacement {
public:
    explicit WindowPlacement(QWidget& widget);

    // Moves the frame's top-left corner to left, top; on a scaled screen, to
    // the device pixel by the right and bottom edges, where this program's
    // windows meet the screen's.
    void moveTo(int left, int top);

    // What the widget hears of itself.
    void shown();
    void moved();
    void resizedOrRetitled();

    // Called once the window manager has framed the shown window, and once
    // more a second later.
    std::function<void()> frameKnown;

private:
    // Moves the frame to the device pixel (see x11_frame.h), and again on the
    // moves that follow at once: the window manager may answer Qt's own move
    // after this one. A window shown again comes back to that pixel, unless
    // it was moved by someone else in between.
    void placeToDevicePixel(int right, int bottom);
    void backToDevicePixel();
    void checkFrame();

    QWidget& widget_;
    bool frameKnownFired_ = false;
    std::optional<QPoint> deviceTarget_;
    int deviceRetries_ = 0;
    int placements_ = 0;  // so that an earlier placement's timer leaves a later one alone
    bool placing_ = false;
    int shows_ = 0;
    bool justShown_ = false;
};

}  // namespace platform::qt
