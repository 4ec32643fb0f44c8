#include "platform/qt/x11_stacking.h"

#include <QGuiApplication>
#include <QRect>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "platform/qt/x11.h"

namespace platform::qt {

namespace {

xcb_get_property_cookie_t AskList(xcb_connection_t* x, xcb_window_t window, x11::Atom property, xcb_atom_t type) {
    return x11::AskProperty(x, window, x11::AtomOf(x, property), type, 1024);
}

bool Contains(const std::vector<std::uint32_t>& items, std::uint32_t item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

// A window's place on the screen, asked for in one go with other questions:
// its size, and its origin on the root window.
struct PlaceQuestion {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
};

PlaceQuestion AskPlace(xcb_connection_t* x, xcb_window_t window, xcb_window_t root) {
    return {xcb_get_geometry(x, window), xcb_translate_coordinates(x, window, root, 0, 0)};
}

// The answer; an empty rectangle for a window that is gone.
QRect PlaceFrom(xcb_connection_t* x, const PlaceQuestion& question) {
    const x11::ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, question.geometry, nullptr));
    const x11::ReplyPtr<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(x, question.origin, nullptr));
    if (!geometry || !origin) return {};
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
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
    QRect place;
    bool fullScreen;
    bool aboveOurs;  // stacked above the window asked about
};

// The window's place on the screen and the other programs' windows that are
// shown (minimised ones may stay mapped, as under mutter), top first. Asked
// in three round trips to the server however many windows there are: the
// timer asks every second.
struct Stacking {
    QRect place;
    std::vector<Other> others;
};

Stacking StackingAround(xcb_connection_t* x, QWindow& window) {
    const auto id = static_cast<xcb_window_t>(window.winId());
    const x11::ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, xcb_get_geometry(x, id), nullptr));
    if (!geometry) return {};
    const xcb_window_t root = geometry->root;
    const PlaceQuestion ourPlace = AskPlace(x, id, root);
    const xcb_get_property_cookie_t clientList = AskList(x, root, x11::Atom::ClientListStacking, XCB_ATOM_WINDOW);
    Stacking stacking{PlaceFrom(x, ourPlace), {}};
    // Bottom to top.
    const std::vector<xcb_window_t> clients = x11::Items(x, clientList);
    if (stacking.place.isEmpty()) return stacking;

    const std::vector<xcb_window_t> ours = OurWindows();
    struct Questions {
        xcb_get_property_cookie_t state;
        xcb_get_window_attributes_cookie_t attributes;
        PlaceQuestion place;
    };
    std::vector<Other> others;
    std::vector<Questions> questions;
    bool aboveOurs = !Contains(clients, id);  // not managed yet: anything may cover it
    for (const xcb_window_t client : clients) {
        if (client == id) aboveOurs = true;
        if (Contains(ours, client)) continue;
        others.push_back({client, {}, false, aboveOurs});
        questions.push_back({AskList(x, client, x11::Atom::WmState, XCB_ATOM_ATOM),
                             xcb_get_window_attributes(x, client), AskPlace(x, client, root)});
    }
    // Every answer is taken, so that none is left waiting on the connection.
    for (std::size_t i = others.size(); i-- > 0;) {
        const std::vector<std::uint32_t> state = x11::Items(x, questions[i].state);
        const bool viewable = x11::Viewable(x, questions[i].attributes);
        others[i].place = PlaceFrom(x, questions[i].place);
        if (Contains(state, x11::AtomOf(x, x11::Atom::WmStateHidden)) || !viewable) continue;
        others[i].fullScreen = Contains(state, x11::AtomOf(x, x11::Atom::WmStateFullScreen));
        stacking.others.push_back(others[i]);
    }
    return stacking;
}

}  // namespace

std::uint32_t FullScreenWindowOver(QWindow& window) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr || window.handle() == nullptr) return XCB_WINDOW_NONE;
    const Stacking stacking = StackingAround(x, window);
    for (const Other& other : stacking.others) {
        if (other.fullScreen && other.place.intersects(stacking.place)) return other.window;
    }
    return XCB_WINDOW_NONE;
}

bool CoveredByAnotherProgram(QWindow& window) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr || window.handle() == nullptr) return true;
    const Stacking stacking = StackingAround(x, window);
    for (const Other& other : stacking.others) {
        if (other.aboveOurs && other.place.intersects(stacking.place)) return true;
    }
    return false;
}

void AskWindowManagerForAbove(QWindow& window) {
    xcb_connection_t* x = x11::Connection();
    if (x == nullptr) return;
    const xcb_atom_t state = x11::AtomOf(x, x11::Atom::WmState);
    const xcb_atom_t above = x11::AtomOf(x, x11::Atom::WmStateAbove);
    if (state == XCB_ATOM_NONE || above == XCB_ATOM_NONE) return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_window_t root = x11::RootOf(x, id);
    if (root == XCB_WINDOW_NONE) return;
    // _NET_WM_STATE_ADD, from a normal application.
    x11::SendToWindowManager(x, root, id, state, {1, above, 0, 1});
}

void SetTransientFor(QWindow& window, std::uint32_t owner) {
    xcb_connection_t* x = x11::Connection();
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
