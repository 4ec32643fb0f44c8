#pragma once
// The screen's dots per inch, for a program that draws itself at them (its
// manifest says so). What Windows 8.1 and 10 added for this is looked up at
// run time: the program starts on Windows 7 too, which has none of it.

#include <windows.h>

namespace platform::win32 {

// The dots per inch the layouts are drawn at.
inline constexpr UINT kLayoutDpi = 96;

// Sent by Windows 8.1 and later when the window's monitor changes scale, or
// the window moves to a monitor of another scale; from Windows 10 1703, the
// window is first asked its size at the new scale.
inline constexpr UINT kDpiChangedMessage = 0x02E0;        // WM_DPICHANGED
inline constexpr UINT kGetDpiScaledSizeMessage = 0x02E4;  // WM_GETDPISCALEDSIZE

// The primary monitor's DPI, as this process is told it: its own on Windows
// 8.1 and later, the system's before.
UINT PrimaryScreenDpi();
// The DPI of the monitor the window is on, as the window is told it.
UINT WindowDpi(HWND hwnd);
// The outer size of a window with this client area and these styles at dpi:
// its frame and caption as the system draws them there.
SIZE OuterSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi);
// For WM_NCCREATE: on Windows 10 1607, where a per-monitor window's caption
// and frame are not scaled unless it asks, it asks. Later systems scale them
// by themselves; earlier ones cannot.
void ScaleCaptionAndFrame(HWND hwnd);

}  // namespace platform::win32
