#include "platform/qt/x11_frame.h"

#include <QByteArray>
#include <QWindow>
#include <array>

#include "platform/qt/x11.h"

namespace platform::qt {

int XResourcesDpi() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    int dpi = 0;
    if (xcb_connection_has_error(connection) == 0) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const QByteArray resources = QByteArray::fromStdString(x11::Bytes(
            connection,
            x11::AskProperty(connection, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 1 << 16)));
        for (const QByteArray& line : resources.split('\n')) {
            if (line.startsWith("Xft.dpi:")) dpi = line.mid(8).trimmed().toInt();
        }
    }
    xcb_disconnect(connection);
    return dpi;
}

namespace {

// left, right, top, bottom; all 0 where the window manager declares none.
std::array<std::uint32_t, 4> FrameExtents(xcb_connection_t* x, xcb_window_t window) {
    std::array<std::uint32_t, 4> extents{};
    const std::vector<std::uint32_t> declared = x11::Items(
        x, x11::AskProperty(x, window, x11::AtomOf(x, x11::Atom::FrameExtents), XCB_ATOM_CARDINAL, 4));
    if (declared.size() == extents.size()) std::copy(declared.begin(), declared.end(), extents.begin());
    return extents;
}

// The reference point of the window's moves (ICCCM): static gravity moves
// the window itself, north-west (the default) the frame's corner.
bool StaticGravity(xcb_connection_t* x, xcb_window_t window) {
    constexpr std::uint32_t kWinGravityFlag = 1U << 9;
    constexpr std::size_t kWinGravityField = 17;
    const std::vector<std::uint32_t> hints = x11::Items(
        x, x11::AskProperty(x, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, kWinGravityField + 1));
    return hints.size() > kWinGravityField && (hints[0] & kWinGravityFlag) != 0 &&
           hints[kWinGravityField] == XCB_GRAVITY_STATIC;
}

}  // namespace

bool PlaceFrameByRightBottom(QWindow& window, int right, int bottom) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr || window.handle() == nullptr) return false;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const x11::ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, xcb_get_geometry(x, id), nullptr));
    if (!geometry) return false;
    const auto extents = FrameExtents(x, id);
    const int outerWidth = geometry->width + static_cast<int>(extents[0] + extents[1]);
    const int outerHeight = geometry->height + static_cast<int>(extents[2] + extents[3]);
    int left = right - outerWidth;
    int top = bottom - outerHeight;
    if (StaticGravity(x, id)) {
        left += static_cast<int>(extents[0]);
        top += static_cast<int>(extents[2]);
    }
    // On Qt 6 this goes on Qt's own connection, after Qt's own move, and the
    // window manager takes the two in order; Qt 5's moves that follow within
    // half a second send it again.
    const std::array<std::uint32_t, 2> position{static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top)};
    xcb_configure_window(x, id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, position.data());
    xcb_flush(x);
    return true;
}

bool IsViewable(QWindow& window) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr || window.handle() == nullptr) return false;
    return x11::Viewable(x, xcb_get_window_attributes(x, static_cast<xcb_window_t>(window.winId())));
}

}  // namespace platform::qt
