#include "platform/qt/tray_hosts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QString>
#include <string>

#include "platform/qt/x11.h"

namespace platform::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

TrayHosts::TrayHosts() : x_(x11::Connection()) {
    if (x_ == nullptr) return;
    // The tray of the screen the display names (":0.1" is screen 1).
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0) screen = 0;
    const x11::ReplyPtr<char> hostName(host);  // malloc'd like a reply
    traySelection_ = x11::InternAtom(x_, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
}

bool TrayHosts::statusNotifierHost() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) return false;
    if (!bus.interface()->isServiceRegistered(kWatcherService)) return false;
    // Through introspection, as Qt reads it.
    QDBusInterface watcher(kWatcherService, kWatcherPath, kWatcherService, bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool TrayHosts::xembedTray() const {
    if (x_ == nullptr || traySelection_ == 0) return false;
    const x11::ReplyPtr<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(x_, xcb_get_selection_owner(x_, traySelection_), nullptr));
    return reply && reply->owner != XCB_NONE;
}

bool TrayHosts::busConnected() const { return QDBusConnection::sessionBus().isConnected(); }

bool TrayHosts::canAppear() const { return x_ != nullptr || busConnected(); }

}  // namespace platform::qt
