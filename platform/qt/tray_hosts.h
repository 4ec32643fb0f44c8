#pragma once
// Whether a notification area is there to take an icon, asked of the desktop
// itself. Qt chooses between its two kinds of tray icon (an item on the
// session bus for indicator panels, a window docked in an X tray) once per
// process, when the first icon is made: an icon made before any panel runs
// stays of the X kind for good, and an indicator panel that starts later
// never shows it. So the program makes its icon only once a host is there.

#include <cstdint>

struct xcb_connection_t;

namespace platform::qt {

class TrayHosts {
public:
    TrayHosts();
    TrayHosts(const TrayHosts&) = delete;
    TrayHosts& operator=(const TrayHosts&) = delete;

    // An indicator panel: a StatusNotifierWatcher on the session bus with a
    // host registered, which is what Qt asks before it makes a bus icon.
    bool statusNotifierHost() const;
    // An X tray: an owner of the _NET_SYSTEM_TRAY selection of the screen.
    bool xembedTray() const;
    bool busConnected() const;
    // Whether either kind can ever turn up in this session.
    bool canAppear() const;

private:
    xcb_connection_t* x_;  // the program's own connection; null off X11
    std::uint32_t traySelection_ = 0;
};

}  // namespace platform::qt
