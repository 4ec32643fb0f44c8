// The smallest Qt Widgets program that shows a window: the yardstick the
// program's start-up is measured against.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("empty"));
    window.resize(474, 151);
    window.show();
    return QApplication::exec();
}
