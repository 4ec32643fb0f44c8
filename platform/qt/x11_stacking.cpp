#include "platform/qt/x11_stacking.h"

#include <QGuiApplication>
#include <QRect>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <xcb/xcb.h>

#include "platform/qt/x11_frame.h"

namespace platform::qt {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

enum Name { kClientListStacking, kState, kFullScreen, kHidden, kNameCount };

// Interned once, all in one round trip.
const std::array<xcb_atom_t, kNameCount>& Atoms(xcb_connection_t* x) {
    static const std::array<xcb_atom_t, kNameCount> atoms = [x] {
        static constexpr std::array<const char*, kNameCount> kNames = {
            "_NET_CLIENT_LIST_STACKING", "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN", "_NET_WM_STATE_HIDDEN"};
        std::array<xcb_intern_atom_cookie_t, kNameCount> cookies{};
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            cookies[i] = xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(kNames[i])), kNames[i]);
        }
        std::array<xcb_atom_t, kNameCount> interned{};
        for (std::size_t i = 0; i < cookies.size(); ++i) {
            const ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(x, cookies[i], nullptr));
            interned[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
        return interned;
    }();
    return atoms;
}

xcb_get_property_cookie_t AskList(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
    return xcb_get_property(x, 0, window, property, type, 0, 1024);
}

// A property of 32-bit items (windows, atoms); empty where it is not set.
std::vector<std::uint32_t> List(xcb_connection_t* x, xcb_get_property_cookie_t cookie) {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(x, cookie, nullptr));
    if (!reply || reply->format != 32) return {};
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(items, items + xcb_get_property_value_length(reply.get()) / 4);
}

bool Contains(const std::vector<std::uint32_t>& items, std::uint32_t item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

// Where the window is on the screen, and the root window it is on; an empty
// rectangle for a window that is gone.
QRect PlaceOf(xcb_connection_t* x, xcb_window_t window, xcb_window_t* root = nullptr) {
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, xcb_get_geometry(x, window), nullptr));
    if (!geometry) return {};
    const ReplyPtr<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        x, xcb_translate_coordinates(x, window, geometry->root, 0, 0), nullptr));
    if (!origin) return {};
    if (root != nullptr) *root = geometry->root;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

bool Viewable(xcb_connection_t* x, xcb_window_t window) {
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> OurWindows() {
    std::vector<xcb_window_t> ours;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() != nullptr) ours.push_back(static_cast<xcb_window_t>(window->winId()));
    }
    return ours;
}

// Another program's window, as the window manager stacks it.
struct Other {
    xcb_window_t window;
    bool fullScreen;
    bool aboveOurs;  // stacked above the window asked about
};

// The window's place on the screen and the other programs' windows that are
// shown (minimised ones may stay mapped, as under mutter), top first.
struct Stacking {
    QRect place;
    std::vector<Other> others;
};

Stacking StackingAround(xcb_connection_t* x, QWindow& window) {
    const auto& atoms = Atoms(x);
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_window_t root = XCB_WINDOW_NONE;
    Stacking stacking{PlaceOf(x, id, &root), {}};
    if (stacking.place.isEmpty()) return stacking;

    // Bottom to top.
    const std::vector<xcb_window_t> clients = List(x, AskList(x, root, atoms[kClientListStacking], XCB_ATOM_WINDOW));
    const std::vector<xcb_window_t> ours = OurWindows();
    std::vector<Other> others;
    std::vector<xcb_get_property_cookie_t> states;
    bool aboveOurs = !Contains(clients, id);  // not managed yet: anything may cover it
    for (const xcb_window_t client : clients) {
        if (client == id) aboveOurs = true;
        if (Contains(ours, client)) continue;
        others.push_back({client, false, aboveOurs});
        states.push_back(AskList(x, client, atoms[kState], XCB_ATOM_ATOM));
    }
    for (std::size_t i = others.size(); i-- > 0;) {
        const std::vector<std::uint32_t> state = List(x, states[i]);
        if (Contains(state, atoms[kHidden]) || !Viewable(x, others[i].window)) continue;
        others[i].fullScreen = Contains(state, atoms[kFullScreen]);
        stacking.others.push_back(others[i]);
    }
    return stacking;
}

}  // namespace

std::uint32_t FullScreenWindowOver(QWindow& window) {
    xcb_connection_t* x = X11Connection();
    if (x == nullptr || window.handle() == nullptr) return XCB_WINDOW_NONE;
    const Stacking stacking = StackingAround(x, window);
    for (const Other& other : stacking.others) {
        if (other.fullScreen && PlaceOf(x, other.window).intersects(stacking.place)) return other.window;
    }
    return XCB_WINDOW_NONE;
}

bool CoveredByAnotherProgram(QWindow& window) {
    xcb_connection_t* x = X11Connection();
    if (x == nullptr || window.handle() == nullptr) return true;
    const Stacking stacking = StackingAround(x, window);
    for (const Other& other : stacking.others) {
        if (other.aboveOurs && PlaceOf(x, other.window).intersects(stacking.place)) return true;
    }
    return false;
}

void SetTransientFor(QWindow& window, std::uint32_t owner) {
    xcb_connection_t* x = X11Connection();
    if (x == nullptr || window.handle() == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    if (owner == XCB_WINDOW_NONE) {
        xcb_delete_property(x, id, XCB_ATOM_WM_TRANSIENT_FOR);
    } else {
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &owner);
    }
    xcb_flush(x);
}

}  // namespace platform::qt
