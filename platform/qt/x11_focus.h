#pragma once
// The keyboard focus on X11, by the X server's own word and past the window
// manager's habits.

class QWindow;

namespace platform::qt {

// Whether the keyboard focus is in a window of this program, by the X server's
// own word: Qt hears of a focus that left only some 400 ms later, and a show
// in between would take it back from the program the user just went to.
// Elsewhere, by Qt's word.
bool FocusIsOurs();

// Qt restores a minimised X11 window by mapping it again (as ICCCM has it).
// openbox takes that for the user's wish to work in the window and gives it
// the focus, where the others do not; asked with WM_CHANGE_STATE for the
// normal state, openbox restores it without the focus (xfwm4 would give the
// focus there). True when it was asked.
bool RestoreWithoutFocusOnOpenbox(QWindow& window);

}  // namespace platform::qt
