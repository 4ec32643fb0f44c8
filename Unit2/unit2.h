#pragma once
// The floating badge, and the routines that give a window the shape and
// translucency of an image.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

class TForm2 {
public:
    explicit TForm2(platform::Platform& desktop);
    ~TForm2();
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    void FormCreate();
    void FormMouseDown(platform::MouseButton button, int x, int y);
    void FormClick();

    // What a picture resource's twin drawn at twice the size adds to its name.
    static constexpr char16_t kTwiceTheSize[] = u"_2X";
    // Applies the image resource resName of type resType from the module
    // instance (0: this executable) to form; on a scaled screen, its twin
    // where there is one.
    static void YXForm_FromResource(TForm2& form, const std::u16string& resName, const std::u16string& resType,
                                    std::uintptr_t instance);
    static void YXForm_FromFile(TForm2& form, const std::filesystem::path& fileName);
    // Gives form the graphic's size, outline and per-pixel translucency.
    static void YXForm_FromGraphic(TForm2& form, const platform::Image& graphic);

    platform::Window& window() { return *window_; }
    int Width() const { return window_->outerRect().width; }
    int Height() const { return window_->outerRect().height; }
    void Hide() { window_->hide(); }

private:
    platform::Platform& desktop_;
    std::unique_ptr<platform::Window> window_;
};

// Each colour channel times alpha / 255, rounded to nearest.
platform::PremultipliedBitmap Premultiply(const platform::Image& image);

// The image at another size, smooth and without fringes at transparent edges.
platform::Image Resampled(const platform::Image& image, int width, int height);
