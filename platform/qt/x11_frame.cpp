#include "platform/qt/x11_frame.h"

#include <QGuiApplication>
#include <QWindow>
#include <array>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace platform::qt {

xcb_connection_t* X11Connection() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 2, 0)
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
#else
    // Qt 5 keeps its connection to itself: open one of ours, once.
    static xcb_connection_t* const connection = []() -> xcb_connection_t* {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
        xcb_connection_t* opened = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(opened) != 0) {
            xcb_disconnect(opened);
            return nullptr;
        }
        return opened;
    }();
    return connection;
#endif
}

int XResourcesDpi() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    int dpi = 0;
    if (xcb_connection_has_error(connection) == 0) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 16),
            nullptr);
        if (reply != nullptr) {
            const QByteArray resources(static_cast<const char*>(xcb_get_property_value(reply)),
                                       xcb_get_property_value_length(reply));
            std::free(reply);
            for (const QByteArray& line : resources.split('\n')) {
                if (line.startsWith("Xft.dpi:")) dpi = line.mid(8).trimmed().toInt();
            }
        }
    }
    xcb_disconnect(connection);
    return dpi;
}

namespace {

// left, right, top, bottom; all 0 where the window manager declares none.
std::array<std::uint32_t, 4> FrameExtents(xcb_connection_t* x, xcb_window_t window) {
    static const char kName[] = "_NET_FRAME_EXTENTS";
    std::array<std::uint32_t, 4> extents{};
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 1, sizeof kName - 1, kName), nullptr);
    if (atom == nullptr) return extents;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr);
    if (property != nullptr && property->format == 32 && xcb_get_property_value_length(property) == 16) {
        std::memcpy(extents.data(), xcb_get_property_value(property), 16);
    }
    std::free(property);
    std::free(atom);
    return extents;
}

// The reference point of the window's moves (ICCCM): static gravity moves
// the window itself, north-west (the default) the frame's corner.
bool StaticGravity(xcb_connection_t* x, xcb_window_t window) {
    constexpr std::uint32_t kWinGravityFlag = 1U << 9;
    constexpr int kWinGravityField = 17;
    bool isStatic = false;
    xcb_get_property_reply_t* hints = xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0, 18), nullptr);
    if (hints != nullptr && hints->format == 32 && xcb_get_property_value_length(hints) >= 4 * (kWinGravityField + 1)) {
        const auto* fields = static_cast<const std::uint32_t*>(xcb_get_property_value(hints));
        isStatic = (fields[0] & kWinGravityFlag) != 0 && fields[kWinGravityField] == XCB_GRAVITY_STATIC;
    }
    std::free(hints);
    return isStatic;
}

}  // namespace

bool PlaceFrameByRightBottom(QWindow& window, int right, int bottom) {
    xcb_connection_t* x = X11Connection();
    if (x == nullptr || window.handle() == nullptr) return false;
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(x, xcb_get_geometry(x, id), nullptr);
    if (geometry == nullptr) return false;
    const auto extents = FrameExtents(x, id);
    const int outerWidth = geometry->width + static_cast<int>(extents[0] + extents[1]);
    const int outerHeight = geometry->height + static_cast<int>(extents[2] + extents[3]);
    std::free(geometry);
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
    xcb_connection_t* x = X11Connection();
    if (x == nullptr || window.handle() == nullptr) return false;
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, id), nullptr);
    const bool viewable = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    return viewable;
}

}  // namespace platform::qt
