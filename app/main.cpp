#include <QApplication>

#include "app/program.h"
#include "platform/qt/qt_platform.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    platform::qt::QtPlatform desktop;
    return RunProgram(desktop);
}
