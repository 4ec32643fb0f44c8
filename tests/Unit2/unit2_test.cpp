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

TEST(Resampled, AnEvenColourStaysEvenAtEverySize) {
    const platform::Image image{96, 96, std::vector<std::uint32_t>(96 * 96, 0xC0F08C00)};
    for (const int side : {60, 72, 96, 120, 48}) {
        const platform::Image result = Resampled(image, side, side);
        ASSERT_EQ(result.width, side);
        ASSERT_EQ(result.height, side);
        EXPECT_EQ(result.pixels, std::vector<std::uint32_t>(static_cast<std::size_t>(side * side), 0xC0F08C00))
            << side;
    }
}

TEST(Resampled, ShrinkingAveragesEveryPixelCovered) {
    // Two by two into one: the mean of all four ((0 + 100 + 200 + 255) / 4), none skipped.
    const platform::Image image{2, 2, {0xFF000000, 0xFF646464, 0xFFC8C8C8, 0xFFFFFFFF}};
    EXPECT_EQ(Resampled(image, 1, 1).pixels, std::vector<std::uint32_t>{0xFF8B8B8B});
}

TEST(Resampled, ATransparentNeighbourGivesNoColourToTheEdge) {
    // Straight alpha: the invisible pixel's white must not lighten the red.
    const platform::Image image{2, 1, {0xFFFF0000, 0x00FFFFFF}};
    const platform::Image result = Resampled(image, 1, 1);
    ASSERT_EQ(result.pixels.size(), 1U);
    EXPECT_EQ(result.pixels[0] & 0x00FFFFFF, 0xFF0000U);
    EXPECT_EQ(result.pixels[0] >> 24, 128U);
}

TEST(Resampled, EnlargingBlendsNeighboursSmoothly) {
    const platform::Image image{2, 1, {0xFF000000, 0xFFFFFFFF}};
    const platform::Image result = Resampled(image, 4, 1);
    ASSERT_EQ(result.pixels.size(), 4U);
    // Dark to light in steps, not two blocks.
    EXPECT_EQ(result.pixels[0], 0xFF000000U);
    EXPECT_EQ(result.pixels[3], 0xFFFFFFFFU);
    EXPECT_GT(result.pixels[1] & 0xFF, 0U);
    EXPECT_GT(result.pixels[2] & 0xFF, result.pixels[1] & 0xFF);
    EXPECT_LT(result.pixels[2] & 0xFF, 0xFFU);
}

class BadgeTest : public fake::ProgramTest {};

TEST_F(BadgeTest, MadeAtTheScreensScale) {
    desktop->scale = 1.25;
    Start();
    EXPECT_EQ(Window2().outerRect().width, 60);
    EXPECT_EQ(Window2().outerRect().height, 60);
}

TEST_F(BadgeTest, OnAScaledScreenTheTwinIsUsedNeverTheSmallPictureStretched) {
    const platform::Image twin{96, 96, std::vector<std::uint32_t>(96 * 96, 0xFF0D3C8C)};
    desktop->badgeTwinImage = twin;
    Start();
    desktop->scale = 2.0;
    TForm2::YXForm_FromResource(*form2, u"PNG", u"EXEFILE", 0);
    EXPECT_EQ(Window2().layeredImage().width, 96);
    EXPECT_EQ(Window2().layeredImage().pixels, twin.pixels);

    desktop->scale = 1.0;
    desktop->log.clear();
    TForm2::YXForm_FromResource(*form2, u"PNG", u"EXEFILE", 0);
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"resource EXEFILE/PNG", "layered Form2 48x48"}));

    // Without a twin, the 96-DPI picture at its own size: smaller, but sharp.
    desktop->badgeTwinImage.reset();
    desktop->scale = 1.5;
    TForm2::YXForm_FromResource(*form2, u"PNG", u"EXEFILE", 0);
    EXPECT_EQ(Window2().layeredImage().width, 48);
}

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
