#include <gtest/gtest.h>

#include <stdexcept>

#include "common/application.h"
#include "common/helpers.h"
#include "common/text.h"

namespace {

TEST(SecondsToHMS, AtLeastTwoDigitsEach) {
    EXPECT_EQ(SecondsToHMS(0), u"00:00:00");
    EXPECT_EQ(SecondsToHMS(65), u"00:01:05");
    EXPECT_EQ(SecondsToHMS(3725), u"01:02:05");
    EXPECT_EQ(SecondsToHMS(360000), u"100:00:00");
}

TEST(ApplicationTitle, FileNameUpToTheFirstDotLowerCasedAfterTheFirst) {
    EXPECT_EQ(ApplicationTitle(u"namewheel"), u"namewheel");
    EXPECT_EQ(ApplicationTitle(u"NameWheel.exe"), u"Namewheel");
    EXPECT_EQ(ApplicationTitle(u"ABC.tar.gz"), u"Abc");
    EXPECT_EQ(ApplicationTitle(u"转盘V2.exe"), u"转盘v2");
    // Every letter, not only A to Z.
    EXPECT_EQ(ApplicationTitle(u"AÉ.exe"), u"Aé");
    EXPECT_EQ(ApplicationTitle(u"ÉCOLE.exe"), u"École");
    EXPECT_EQ(ApplicationTitle(u"ΑΒΓ.exe"), u"Αβγ");
    EXPECT_EQ(ApplicationTitle(u"NАМЕ.exe"), u"Nаме") << "Cyrillic look-alikes";
    EXPECT_EQ(ApplicationTitle(u"ＷＨＥＥＬ.exe"), u"Ｗｈｅｅｌ");
    EXPECT_EQ(ApplicationTitle(u"\U00010400\U00010400.exe"), u"\U00010400\U00010428") << "beyond the BMP";
    EXPECT_EQ(ApplicationTitle(u".exe"), u"");
}

TEST(Error, AKindStaysWhateverIsSaidAroundIt) {
    const Error full(ErrorKind::DiskFull, {u"database or disk is full"});
    EXPECT_EQ(full.message(), u"磁盘已满（database or disk is full）");
    const Error said = Error::Within(u"“甲”这次没有记下：", Error::Within(u"名单库保存失败：", full));
    EXPECT_EQ(said.kind(), ErrorKind::DiskFull);
    EXPECT_EQ(said.message(), u"“甲”这次没有记下：名单库保存失败：磁盘已满（database or disk is full）");
    EXPECT_EQ(Error(u"只有话").kind(), ErrorKind::Other);
    EXPECT_EQ(KindOf(std::runtime_error("x")), ErrorKind::Other);
    EXPECT_EQ(Error(ErrorKind::RowGone, {u" 乙\t"}).message(), u"“乙”已不在名单库里");
    EXPECT_EQ(Error(ErrorKind::RowGone, {u"乙", u"run"}).message(), u"“乙”和它后面的名字中有的已不在名单库里");
}

TEST(ErrorReport, APeriodFollowsALastCharacterAfterThePeriod) {
    EXPECT_EQ(ErrorReportText(u"Disk full"), u"Disk full.");
    EXPECT_EQ(ErrorReportText(u"Disk full."), u"Disk full.");
    EXPECT_EQ(ErrorReportText(u"(x)"), u"(x)");
    EXPECT_EQ(ErrorReportText(u"找不到名单文件"), u"找不到名单文件.");
    EXPECT_EQ(ErrorReportText(u""), u"");
}

TEST(Text, TrimControlKeepsOtherSpaces) {
    EXPECT_EQ(TrimControl(u" \t\r\n 张三 \x01"), u"张三");
    EXPECT_EQ(TrimControl(u"\u3000张 三\u3000"), u"\u3000张 三\u3000");
    EXPECT_EQ(TrimControl(u"   "), u"");
}

TEST(Text, Utf8BothWays) {
    EXPECT_TRUE(IsValidUtf8("张三 abc \xF0\xA0\x80\x80"));
    for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE5\xBC", "\x80"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
    EXPECT_EQ(Utf8ToUtf16("a\xE5\xBC" "b"), u"a\uFFFD\uFFFDb");
    EXPECT_EQ(Utf16ToUtf8(u"张\U00020000"), "张\xF0\xA0\x80\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
