#include "platform/qt/tray_hosts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QString>
#include <string>

#include "platform/qt/x11.h"

namespace platform::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

TrayHosts::TrayHosts() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    int screen = 0;
    x_ = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(x_) != 0) {
        xcb_disconnect(x_);
        x_ = nullptr;
        return;
    }
    traySelection_ = x11::InternAtom(x_, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
}

TrayHosts::~TrayHosts() {
    if (x_ != nullptr) xcb_disconnect(x_);
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
