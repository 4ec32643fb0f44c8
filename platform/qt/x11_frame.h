#pragma once
// Placing a window's frame to the device pixel. Qt places windows in logical
// pixels; on a scaled screen a frame of odd device width (the window
// manager's borders are not scaled) has no exact logical position, and a
// window meant to sit flush with the screen's edge ends a pixel short.

class QWindow;

namespace platform::qt {

// The screen scale the X resources of $DISPLAY ask for ("Xft.dpi", as desktops
// set it for a scaled screen); 0 where they name none or there is no X server.
// Read on a connection of its own, before Qt makes its own.
int XResourcesDpi();

// Moves the outer frame of a shown top-level X window so that its right and
// bottom edges fall on these device pixels. False where the window is not an
// X window (nothing is moved then).
bool PlaceFrameByRightBottom(QWindow& window, int right, int bottom);

// Whether the X window is mapped and viewable: the window manager has framed
// it (and declared its frame) by then.
bool IsViewable(QWindow& window);

}  // namespace platform::qt
