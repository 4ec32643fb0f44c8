#include "Unit2/unit2.h"

#include <fstream>
#include <iterator>

#include "Unit1/unit1.h"
#include "common/application.h"
#include "common/state.h"
#include "common/text.h"
#include "resources/layout.h"

TForm2::TForm2(platform::Platform& desktop) : desktop_(desktop), window_(desktop.createWindow(layout::kForm2)) {
    Form2 = this;
    window_->onMouseDown([this](platform::MouseButton button, int x, int y) {
        Guarded([&] { FormMouseDown(button, x, y); });
    });
    window_->onClick([this] { Guarded([this] { FormClick(); }); });
    Guarded([this] { FormCreate(); });
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() { window_->resize(48, 48); }

// Any button: the posted button-up completes a click (which hides the badge)
// before the move command arrives.
void TForm2::FormMouseDown(platform::MouseButton, int, int) {
    window_->post(platform::PostedMessage::LeftButtonUp);
    window_->post(platform::PostedMessage::SysCommandMove);
}

void TForm2::FormClick() {
    if (Form1 != nullptr) Form1->Show();
    ShownTicks = 0;
    Hide();
}

platform::PremultipliedBitmap Premultiply(const platform::Image& image) {
    platform::PremultipliedBitmap bitmap{image.width, image.height, {}};
    bitmap.pixels.reserve(image.pixels.size());
    for (const std::uint32_t pixel : image.pixels) {
        const std::uint32_t alpha = pixel >> 24;
        const auto channel = [&](int shift) {
            const std::uint32_t value = (pixel >> shift) & 0xFF;
            return ((value * alpha + 127) / 255) << shift;
        };
        bitmap.pixels.push_back((alpha << 24) | channel(16) | channel(8) | channel(0));
    }
    return bitmap;
}

void TForm2::YXForm_FromGraphic(TForm2& form, const platform::Image& graphic) {
    const platform::Rect at = form.window().outerRect();
    form.window().setLayeredImage(Premultiply(graphic), at.left, at.top);
}

void TForm2::YXForm_FromResource(TForm2& form, const std::u16string& resName, const std::u16string& resType,
                                 std::uintptr_t) {
    const auto bytes = form.desktop_.resource(resName, resType);
    if (!bytes) throw Error(u"找不到资源 " + resType + u"/" + resName);
    const auto image = form.desktop_.decodeImage(*bytes);
    if (!image) throw Error(u"资源 " + resType + u"/" + resName + u" 不是可以读的图片");
    YXForm_FromGraphic(form, *image);
}

void TForm2::YXForm_FromFile(TForm2& form, const std::filesystem::path& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw Error(u"打不开图片“" + fileName.u16string() + u"”");
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto image = form.desktop_.decodeImage(bytes);
    if (!image) throw Error(u"“" + fileName.u16string() + u"”不是可以读的图片");
    YXForm_FromGraphic(form, *image);
}
