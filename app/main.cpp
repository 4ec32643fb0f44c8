#include <QApplication>

#include "app/program.h"
#include "platform/qt/qt_platform.h"

namespace {

// A Wayland session lets no client place its window or keep it on top, and
// the draw window must do both. Such a session's X server (Xwayland) does
// allow it: the program runs there when there is one, and as a Wayland
// client only when there is not. A platform the user names stays theirs.
void PreferXwaylandInWaylandSessions() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY")) return;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland") return;
    qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

}  // namespace

int main(int argc, char* argv[]) {
    PreferXwaylandInWaylandSessions();
    QApplication application(argc, argv);
    platform::qt::QtPlatform desktop;
    return RunProgram(desktop);
}
