#pragma once
// The two windows as they are laid out: one description that both front ends
// build their widgets from. Sizes are pixels at 96 dots per inch.

#include <cstdint>
#include <span>
#include <string_view>

namespace layout {

inline constexpr std::uint32_t kFuchsia = 0xFF00FF;
inline constexpr std::uint32_t kBlack = 0x000000;
inline constexpr int kGb2312Charset = 134;
inline constexpr int kDefaultCharset = 1;

struct Font {
    std::u16string_view face;
    int pixelHeight;
    bool bold;
    std::uint32_t colour;  // 0xRRGGBB
    int charset;
};

enum class Kind { Label, Button };

struct Element {
    std::string_view name;
    Kind kind;
    int left, top, width, height;
    std::u16string_view text;
    Font font;
    bool centred;
    int tabOrder;
};

struct Form {
    std::string_view name;
    std::u16string_view caption;
    int clientWidth, clientHeight;
    bool bordered;     // false: no frame, no caption
    bool resizable;
    bool minimizeBox, maximizeBox;
    bool topmost;      // topmost from the moment the window is made
    bool taskbarButton;
    Font font;
    std::span<const Element> elements;
};

inline constexpr Font kTahoma{u"Tahoma", 11, false, kBlack, kDefaultCharset};

inline constexpr Element kForm1Elements[] = {
    {"lbl1", Kind::Label, 24, 8, 442, 97, u"转转转", {u"新宋体", 96, true, kFuchsia, kGb2312Charset}, true, -1},
    {"btn1", Kind::Button, 200, 111, 81, 32, u"开始转动", kTahoma, true, 0},
};

inline constexpr Form kForm1{
    "Form1", u"青枫大转盘", 474, 151,
    /*bordered*/ true, /*resizable*/ true, /*minimizeBox*/ false, /*maximizeBox*/ false,
    /*topmost*/ true, /*taskbarButton*/ true, kTahoma, kForm1Elements};

// The floating badge: no frame, no caption, topmost; its creation handler sizes it.
inline constexpr Form kForm2{
    "Form2", u"", 48, 48,
    /*bordered*/ false, /*resizable*/ false, /*minimizeBox*/ false, /*maximizeBox*/ false,
    /*topmost*/ true, /*taskbarButton*/ false, kTahoma, {}};

}  // namespace layout
