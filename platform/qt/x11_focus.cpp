#include "platform/qt/x11_focus.h"

#include <QGuiApplication>
#include <QWindow>
#include <string>

#include "platform/qt/x11.h"

namespace platform::qt {

namespace {

// The name the running window manager gives itself: _NET_WM_NAME of the
// window that _NET_SUPPORTING_WM_CHECK on the root names.
std::string WindowManagerName(xcb_connection_t* x, xcb_window_t root) {
    const std::vector<std::uint32_t> check = x11::Items(
        x, x11::AskProperty(x, root, x11::AtomOf(x, x11::Atom::SupportingWmCheck), XCB_ATOM_WINDOW, 1));
    if (check.size() != 1) return {};
    return x11::Bytes(
        x, x11::AskProperty(x, check[0], x11::AtomOf(x, x11::Atom::WmName), XCB_GET_PROPERTY_TYPE_ANY, 64));
}

}  // namespace

bool FocusIsOurs() {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr) return QGuiApplication::applicationState() == Qt::ApplicationActive;
    const x11::ReplyPtr<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    if (!focus) return false;
    const xcb_window_t focused = focus->focus;
    if (focused == XCB_NONE || focused == XCB_INPUT_FOCUS_POINTER_ROOT) return false;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() != nullptr && static_cast<xcb_window_t>(window->winId()) == focused) return true;
    }
    return false;
}

bool RestoreWithoutFocusOnOpenbox(QWindow& window) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr) return false;
    const xcb_atom_t changeState = x11::AtomOf(x, x11::Atom::ChangeState);
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_window_t root = x11::RootOf(x, id);
    if (changeState == XCB_ATOM_NONE || root == XCB_WINDOW_NONE) return false;
    if (WindowManagerName(x, root) != "Openbox") return false;
    x11::SendToWindowManager(x, root, id, changeState, {1 /* NormalState */, 0, 0, 0});
    return true;
}

}  // namespace platform::qt
