#include "platform/qt/x11.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstring>

namespace platform::qt::x11 {

xcb_connection_t* Connection() {
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

namespace {

constexpr auto kAtomCount = static_cast<std::size_t>(Atom::Count);

// In the order of Atom.
constexpr std::array<const char*, kAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST_STACKING", "_NET_FRAME_EXTENTS",       "_NET_SUPPORTING_WM_CHECK",
    "_NET_WM_NAME",              "_NET_WM_STATE",            "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_FULLSCREEN",  "_NET_WM_STATE_HIDDEN",     "WM_CHANGE_STATE"};

xcb_intern_atom_cookie_t AskAtom(xcb_connection_t* x, std::string_view name) {
    return xcb_intern_atom(x, 0, static_cast<std::uint16_t>(name.size()), name.data());
}

xcb_atom_t AtomFrom(xcb_connection_t* x, xcb_intern_atom_cookie_t cookie) {
    const ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(x, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

xcb_atom_t AtomOf(xcb_connection_t* x, Atom atom) {
    // An atom names the same thing on every connection to the server.
    static const std::array<xcb_atom_t, kAtomCount> atoms = [x] {
        std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
        for (std::size_t i = 0; i < kAtomCount; ++i) cookies[i] = AskAtom(x, kAtomNames[i]);
        std::array<xcb_atom_t, kAtomCount> interned{};
        for (std::size_t i = 0; i < kAtomCount; ++i) interned[i] = AtomFrom(x, cookies[i]);
        return interned;
    }();
    return atoms[static_cast<std::size_t>(atom)];
}

xcb_atom_t InternAtom(xcb_connection_t* x, std::string_view name) { return AtomFrom(x, AskAtom(x, name)); }

xcb_get_property_cookie_t AskProperty(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type, std::uint32_t length) {
    return xcb_get_property(x, 0, window, property, type, 0, length);
}

std::vector<std::uint32_t> Items(xcb_connection_t* x, xcb_get_property_cookie_t cookie) {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(x, cookie, nullptr));
    if (!reply || reply->format != 32) return {};
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(items, items + xcb_get_property_value_length(reply.get()) / 4);
}

std::string Bytes(xcb_connection_t* x, xcb_get_property_cookie_t cookie) {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(x, cookie, nullptr));
    if (!reply || reply->format != 8) return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

xcb_window_t RootOf(xcb_connection_t* x, xcb_window_t window) {
    const ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr));
    return tree ? tree->root : xcb_window_t{XCB_WINDOW_NONE};
}

bool Viewable(xcb_connection_t* x, xcb_get_window_attributes_cookie_t cookie) {
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(x, cookie, nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

void SendToWindowManager(xcb_connection_t* x, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         const std::array<std::uint32_t, 4>& data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(x, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(x);
}

}  // namespace platform::qt::x11
