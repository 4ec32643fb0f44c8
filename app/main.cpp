#include <QApplication>

#include "app/program.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_translation.h"
#include "platform/qt/x11_frame.h"

namespace {

// A Wayland session lets no client place its window or keep it on top, and
// the draw window must do both. Such a session's X server (Xwayland) does
// allow it: the program runs there when there is one, and as a Wayland
// client only when there is not. A platform the user names stays theirs.
// True when it chose for the user.
bool PreferXwaylandInWaylandSessions() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY")) return false;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland") return false;
    return qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

// The file dialog's title and buttons in the user's language, like the
// program's own Chinese texts; Qt's English where no translation fits.
std::unique_ptr<QTranslator> InstallQtTranslation() {
    auto translation = platform::qt::QtTranslation(QLocale());
    if (translation) QCoreApplication::installTranslator(translation.get());
    return translation;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool choseThePlatform = PreferXwaylandInWaylandSessions();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 follows the scale a desktop sets in the X resources (Xft.dpi) by
    // itself, to the fraction; Qt 5 only when asked to, and then it would
    // also scale by the screen's physical size where no Xft.dpi is set.
    if (platform::qt::XResourcesDpi() > 0) {
        QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
        QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
        QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    }
#endif
    QApplication application(argc, argv);
    const auto qtTranslation = InstallQtTranslation();
    // The choice was for this program alone: the browser the links start
    // inherits the environment.
    if (choseThePlatform) qunsetenv("QT_QPA_PLATFORM");
    platform::qt::QtPlatform desktop;
    return RunProgram(desktop);
}
