#pragma once
// The draw window: the big label, the start button, the roster store, the
// one-second timer and the notification-area menu.

#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "store/connection.h"
#include "store/query.h"

// The maker's home page, opened by the four link items of the menu.
inline constexpr char16_t kHomePage[] = u"https://namewheel.example/";
inline constexpr char16_t kHomePageHost[] = u"namewheel.example";

// The open-file dialog's settings.
struct TOpenDialog {
    std::u16string Filter;
    std::optional<std::u16string> Execute(platform::Platform& desktop) const;
};

class TForm1 {
public:
    explicit TForm1(platform::Platform& desktop);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void FormCreate();
    void btn1Click();
    void tmr1Timer();
    void N1Click();   // 显示大转盘
    void N2Click();   // 清除次数
    void N3Click();   // 导入名单
    void C1Click();   // 关闭
    void SiteLink1Click();
    void N4Click();
    void N5Click();
    void N6Click();

    platform::Window& window() { return *window_; }
    int Top() const;
    int Left() const;
    int Width() const;
    int Height() const;
    void Show();
    void Hide();
    bool Showing() const;

    TADOConnection ADOConnection1;
    TADOQuery ADOQuery1{ADOConnection1};
    TOpenDialog OpenDialog1{u"*.txt|*.txt"};

private:
    void PlaceAtCorner();
    bool PlaceAgainIfTheScreenChanged();
    void PlaceBadge(platform::Window& badge);
    void Spin(int n);
    bool ShowRandomCandidate(int n);
    void OpenHomePage();
    void CreateTrayIcon();

    platform::Platform& desktop_;
    std::unique_ptr<platform::Window> window_;
    platform::Control& lbl1;
    platform::Control& btn1;
    // The primary screen the window was last placed at the corner of.
    platform::Rect placedOn_;
    // True while a spin loop runs further up the call chain, also after the
    // stopping press cleared Spinning and before the loop has noticed.
    bool spinLoopRunning_ = false;
};
