#include "Unit2/unit2.h"

#include <gtest/gtest.h>

#include "common/state.h"
#include "common/text.h"
#include "tests/support/fixture.h"

namespace {

TEST(Premultiply, EachChannelTimesAlphaRoundedToNearest) {
    const platform::Image image{4, 1, {0xFFFF8000, 0x80FF8000, 0x00FFFFFF, 0x01FFFFFF}};
    const platform::PremultipliedBitmap bitmap = Premultiply(image);
    ASSERT_EQ(bitmap.width, 4);
    // 255*128/255 = 128; 128*128/255 = 64.25; 255*1/255 = 1.
    EXPECT_EQ(bitmap.pixels, (std::vector<std::uint32_t>{0xFFFF8000, 0x80804000, 0x00000000, 0x01010101}));
}

class BadgeTest : public fake::ProgramTest {};

TEST_F(BadgeTest, MadeHiddenAndFortyEightSquare) {
    Start();
    EXPECT_FALSE(Window2().isShowing());
    EXPECT_EQ(Window2().outerRect().width, 48);
    EXPECT_EQ(Window2().outerRect().height, 48);
}

TEST_F(BadgeTest, AnyPressClicksThenMoves) {
    Start();
    Window2().show();
    ShownTicks = 12;
    desktop->log.clear();
    Window2().pressMouse(platform::MouseButton::Right, 20, 20);
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"post Form2 LeftButtonUp", "post Form2 SysCommandMove"}));
    desktop->deliverPosted();
    EXPECT_EQ(ShownTicks, 0);
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
}

TEST_F(BadgeTest, TheResourceImageGivesTheWindowItsShape) {
    Start();
    desktop->badgeImage = platform::Image{2, 1, {0xFF102030, 0x00FFFFFF}};
    Window2().moveTo(100, 200);
    TForm2::YXForm_FromResource(*form2, u"PNG", u"EXEFILE", 0);
    EXPECT_EQ(Window2().outerRect(), (platform::Rect{100, 200, 2, 1}));
    EXPECT_EQ(Window2().layeredImage().pixels, (std::vector<std::uint32_t>{0xFF102030, 0}));
    EXPECT_THROW(TForm2::YXForm_FromResource(*form2, u"NOPE", u"EXEFILE", 0), Error);
    EXPECT_THROW(TForm2::YXForm_FromFile(*form2, File(u"missing.png")), Error);
}

}  // namespace
