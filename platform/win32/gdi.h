#pragma once
// GDI's objects and device contexts as owning types: each goes back to the
// system with its owner, and owners declared in the order they are taken give
// them back in the reverse order.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace platform::win32 {

// A font, a bitmap…, deleted with its owner. Never one that is still selected
// into a device context: a Selection declared after it puts it out first.
struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
template <typename Handle>
using GdiObjectHandle = std::unique_ptr<std::remove_pointer_t<Handle>, DeleteGdiObject>;
using FontHandle = GdiObjectHandle<HFONT>;
using BitmapHandle = GdiObjectHandle<HBITMAP>;

// A device context made in memory (CreateCompatibleDC), deleted with its owner.
struct DeleteMemoryDc {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using MemoryDcHandle = std::unique_ptr<std::remove_pointer_t<HDC>, DeleteMemoryDc>;

// The screen's device context (GetDC of no window), released with its owner.
struct ReleaseScreenDc {
    void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDcHandle = std::unique_ptr<std::remove_pointer_t<HDC>, ReleaseScreenDc>;

// An object selected into a device context for as long as the guard lives;
// the one selected before is put back after.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace platform::win32
