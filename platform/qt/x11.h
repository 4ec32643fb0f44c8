#pragma once
// The few pieces of raw X11 the Qt front end needs beside Qt: its connection,
// the atoms it names, replies that free themselves and window properties
// read as plain values.

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::qt::x11 {

// A connection to the X server the program's windows are on; null when they
// are not on X11.
xcb_connection_t* Connection();

// A reply of the X server, freed with its owner.
struct FreeReply {
    void operator()(void* reply) const noexcept { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

enum class Atom {
    ClientListStacking,  // _NET_CLIENT_LIST_STACKING
    FrameExtents,        // _NET_FRAME_EXTENTS
    SupportingWmCheck,   // _NET_SUPPORTING_WM_CHECK
    WmName,              // _NET_WM_NAME
    WmState,             // _NET_WM_STATE
    WmStateAbove,        // _NET_WM_STATE_ABOVE
    WmStateFullScreen,   // _NET_WM_STATE_FULLSCREEN
    WmStateHidden,       // _NET_WM_STATE_HIDDEN
    ChangeState,         // WM_CHANGE_STATE
    Count
};

// The atom of that name on the server x is connected to; XCB_ATOM_NONE where
// the server did not answer. All of them are interned once, in one round trip.
xcb_atom_t AtomOf(xcb_connection_t* x, Atom atom);
// An atom whose name is known only at run time, interned on each call.
xcb_atom_t InternAtom(xcb_connection_t* x, std::string_view name);

// Asks for a window's property of that type, at most length 32-bit units of it.
xcb_get_property_cookie_t AskProperty(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type, std::uint32_t length);
// The answer as 32-bit items (windows, atoms, cardinals); empty where the
// property is not set or not of 32-bit items.
std::vector<std::uint32_t> Items(xcb_connection_t* x, xcb_get_property_cookie_t cookie);
// The answer as bytes (text); empty where the property is not set or not of bytes.
std::string Bytes(xcb_connection_t* x, xcb_get_property_cookie_t cookie);

// The root window the window is on; XCB_WINDOW_NONE for a window that is gone.
xcb_window_t RootOf(xcb_connection_t* x, xcb_window_t window);

// The answer to a window's attributes: whether it is shown (mapped, and all
// the windows it lies in too); false for a window that is gone.
bool Viewable(xcb_connection_t* x, xcb_get_window_attributes_cookie_t cookie);

// A client message about window to the window manager, sent to root.
void SendToWindowManager(xcb_connection_t* x, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                         const std::array<std::uint32_t, 4>& data);

}  // namespace platform::qt::x11
