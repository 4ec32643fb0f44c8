#pragma once
// Where a window of ours stands among the other programs' windows, by the
// window manager's stacking order (_NET_CLIENT_LIST_STACKING), on X11.
//
// A window manager may put a focused full-screen window (a slideshow) above
// the windows kept on top; openbox and KWin do. None puts it above the
// windows that belong to it: a framed window of ours shown over one is
// declared its transient (ICCCM WM_TRANSIENT_FOR) for as long as it is.

#include <cstdint>

class QWindow;

namespace platform::qt {

// The shown full-screen window of another program that the window manager
// stacks highest of those over the window's place; 0 where there is none or
// the window is not on X11.
std::uint32_t FullScreenWindowOver(QWindow& window);

// Whether a shown window of another program lies over part of the window,
// stacked above it. True where that cannot be told (not on X11).
bool CoveredByAnotherProgram(QWindow& window);

// Asks the window manager to keep a mapped X11 window above the others
// (_NET_WM_STATE_ADD of _NET_WM_STATE_ABOVE): it is not moved, sized or
// activated. Something else (the user, the window manager) may have taken the
// state away since Qt last set it.
void AskWindowManagerForAbove(QWindow& window);

// Declares the window transient for owner, or for no window when owner is 0.
void SetTransientFor(QWindow& window, std::uint32_t owner);

}  // namespace platform::qt
