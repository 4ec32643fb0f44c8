#pragma once
// The platform layer on Qt 6 Widgets.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/platform.h"

class QMenu;
class QSystemTrayIcon;

namespace platform::qt {

class QtWindow;
class TrayHosts;

inline QString ToQ(const std::u16string& text) { return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())); }
inline std::u16string FromQ(const QString& text) { return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())); }

class QtPlatform : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;

    std::unique_ptr<Window> createWindow(const layout::Form& form) override;
    Rect primaryScreen() const override;
    // Qt measures windows in logical pixels, which are the layouts' own.
    double layoutScale() const override { return 1.0; }
    void processMessages() override;
    void pause(int milliseconds) override;
    void setFinePauses(bool on) override;
    void startTimer(int periodMilliseconds, Handler onTick) override;
    void messageBox(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override;
    void showTrayIcon(const std::u16string& tooltip, std::vector<MenuItem> menu) override;
    std::optional<std::u16string> openFileDialog(const std::vector<FileFilter>& filters) override;
    bool shellOpen(const std::u16string& target, const std::u16string& parameters, const std::u16string& directory,
                   int showCommand) override;
    std::optional<std::vector<std::uint8_t>> resource(const std::u16string& name, const std::u16string& type) override;
    std::optional<Image> decodeImage(const std::vector<std::uint8_t>& bytes) override;
    std::filesystem::path executablePath() const override;
    int run(Window& mainWindow) override;

    // The program ends once the handler that asked for it has returned.
    void requestQuit();
    // Opens the menu at the point; the chosen item runs once the menu has closed.
    void popupMenu(const QPoint& at);
    bool trayAvailable() const;
    QWidget* mainWidget() const { return mainWidget_; }

private:
    void makeMenu();
    void showTrayIconWhenHosted();
    bool createTrayIconIfHosted();

    QObject owner_;  // parent of the timers
    QPointer<QWidget> mainWidget_;
    std::unique_ptr<QMenu> menu_;
    std::vector<MenuItem> items_;
    QString trayToolTip_;
    std::unique_ptr<TrayHosts> trayHosts_;  // until the icon is made
    int xembedGraceTicks_ = 0;
    std::unique_ptr<QSystemTrayIcon> tray_;
    // The end was asked for before the message loop ran (inside a box shown
    // while the windows were being made, which the request closed).
    bool quitRequested_ = false;
};

}  // namespace platform::qt
