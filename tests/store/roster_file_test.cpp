#include "store/roster_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "platform/kernel.h"
#include "tests/support/fixture.h"

namespace {

using Names = std::vector<std::u16string>;

std::u16string NoLegacy(std::string_view) { return u"<legacy>"; }

struct LineCase {
    const char* what;
    std::string bytes;
    Names names;
};

// What ctest lists beside the test's name.
void PrintTo(const LineCase& c, std::ostream* out) { *out << '"' << c.what << '"'; }

class RosterLines : public ::testing::TestWithParam<LineCase> {};

// A case's test name, from its description: "0x1A at a line start ends the
// text" gives 0x1AAtALineStartEndsTheText.
std::string CaseName(const ::testing::TestParamInfo<LineCase>& info) {
    std::string name;
    bool wordStart = true;
    for (const char c : std::string_view(info.param.what)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            wordStart = false;
        } else {
            wordStart = c == ' ';
        }
    }
    return name;
}

TEST_P(RosterLines, SplitAsRead) {
    const LineCase& c = GetParam();
    EXPECT_EQ(SplitRosterLines(DecodeRosterText(c.bytes, NoLegacy)), c.names) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, RosterLines,
    ::testing::Values(
        LineCase{"empty file", "", {}},
        LineCase{"one line end", "\n", {u""}},
        LineCase{"last line without a line end", "甲\n乙\n丙", {u"甲", u"乙", u"丙"}},
        LineCase{"CR LF line ends", "甲\r\n乙\r\n丙\r\n", {u"甲", u"乙", u"丙"}},
        LineCase{"a blank line gives an empty name", "甲\n\n乙\n", {u"甲", u"", u"乙"}},
        LineCase{"two final line ends give one empty name", "甲\n\n", {u"甲", u""}},
        LineCase{"a lone CR is dropped", "张\r三\n李四\r", {u"张三", u"李四"}},
        LineCase{"blanks stay", "  Bob \n\t李四\n", {u"  Bob ", u"\t李四"}},
        LineCase{"0x1A at a line start ends the text", "甲\n\x1A乙\n丙\n", {u"甲"}},
        LineCase{"0x1A inside a line ends its name", "甲\x1A乙\n丙\n", {u"甲", u"丙"}},
        LineCase{"0x1A in the last line", "甲\n丙\x1A", {u"甲", u"丙"}},
        LineCase{"UTF-8 mark is dropped", "\xEF\xBB\xBF张三\n", {u"张三"}},
        LineCase{"UTF-16 LE mark", std::string("\xFF\xFE\x20\x5F\x09\x4E\n\0", 8), {u"张三"}},
        LineCase{"UTF-16 BE mark", std::string("\xFE\xFF\x5F\x20\x4E\x09\0\n", 8), {u"张三"}},
        LineCase{"UTF-16 with CR LF", std::string("\xFF\xFE" "a\0\r\0\n\0b\0", 10), {u"a", u"b"}},
        LineCase{"UTF-16 odd last byte", std::string("\xFF\xFE" "a\0b", 5), {u"a\uFFFD"}},
        LineCase{"UTF-16 unpaired surrogate", std::string("\xFF\xFE\x00\xD8" "a\0", 6), {u"\uFFFDa"}},
        LineCase{"UTF-8 without a mark", "王五\n赵六\n", {u"王五", u"赵六"}},
        LineCase{"UTF-8 mark, then invalid bytes", "\xEF\xBB\xBF" "a\xFF" "b\n", {u"a\uFFFDb"}},
        LineCase{"not UTF-8 goes to the legacy code page", "\xD5\xC5\xC8\xFD\n", {u"<legacy>"}},
        LineCase{"UTF-8 but for a stray byte", "张三\nJos\xE9\n李四\n", {u"张三", u"Jos\uFFFD", u"李四"}},
        LineCase{"UTF-8 but for a cut-off sequence", "王五\n赵\xE5\xAD\n", {u"王五", u"赵\uFFFD\uFFFD"}},
        // 张三 钱伟 李四 in GBK: 钱伟 happens to be well-formed UTF-8 too.
        LineCase{"GBK holding a valid UTF-8 run goes to the legacy code page",
                 "\xD5\xC5\xC8\xFD\r\n\xC7\xAE\xCE\xB0\r\n\xC0\xEE\xCB\xC4\r\n", {u"<legacy>"}}),
    CaseName);

TEST(RosterFile, UTF8WithAStrayByteStaysUTF8AndGbkStaysGbk) {
    std::setlocale(LC_ALL, "C");
    const auto names = [](const std::string& bytes) {
        return ParseRosterFile("a.txt", bytes, kernel::DecodeSystemCodePage).names;
    };
    // A name typed on another machine, in its code page, among UTF-8 names.
    EXPECT_EQ(names("张三\nJos\xE9\n李四\n"), (Names{u"张三", u"Jos\uFFFD", u"李四"}));
    EXPECT_EQ(names("José\nRené\n\xC9lise\n"), (Names{u"José", u"René", u"\uFFFDlise"}));
    // GBK, and GBK in which one name happens to be well-formed UTF-8 (钱伟).
    EXPECT_EQ(names("\xD5\xC5\xC8\xFD\r\n\xC0\xEE\xCB\xC4\r\n"), (Names{u"张三", u"李四"}));
    EXPECT_EQ(names("\xD5\xC5\xC8\xFD\r\n\xC7\xAE\xCE\xB0\r\n\xC0\xEE\xCB\xC4\r\n"), (Names{u"张三", u"钱伟", u"李四"}));
}

TEST(RosterFile, LegacyCodePageIsGb18030WhereTheLocaleNamesNone) {
    std::setlocale(LC_ALL, "C");
    // 张三 / 李四 in GBK, with CR LF.
    const std::string gbk = "\xD5\xC5\xC8\xFD\r\n\xC0\xEE\xCB\xC4\r\n";
    EXPECT_EQ(SplitRosterLines(DecodeRosterText(gbk, kernel::DecodeSystemCodePage)), (Names{u"张三", u"李四"}));
    // Four-byte GB18030 sequence for U+20000, and an invalid byte.
    EXPECT_EQ(kernel::DecodeSystemCodePage("\x95\x32\x82\x36"), u"\U00020000");
    EXPECT_EQ(kernel::DecodeSystemCodePage("a\xFF" "b"), u"a\uFFFD" "b");
    EXPECT_EQ(kernel::DecodeSystemCodePage("a\xD5"), u"a\uFFFD");
}

// A locale of one code page, made with localedef in a folder of its own and
// set while the object lives. Empty when this system cannot make it.
class LegacyLocale {
public:
    LegacyLocale(const std::string& source, const std::string& charmap) {
        const std::string name = source + "." + charmap;
        const std::string command = "localedef -i " + source + " -f " + charmap + " '" +
                                    (dir_.path() / name).string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 && !std::filesystem::exists(dir_.path() / name / "LC_CTYPE")) return;
        if (const char* old = std::getenv("LOCPATH")) oldPath_ = old;
        setenv("LOCPATH", dir_.path().c_str(), 1);
        made_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
    }
    ~LegacyLocale() {
        std::setlocale(LC_ALL, "C");
        if (oldPath_.empty()) {
            unsetenv("LOCPATH");
        } else {
            setenv("LOCPATH", oldPath_.c_str(), 1);
        }
    }
    bool made() const { return made_; }

private:
    fake::TempDir dir_;
    std::string oldPath_;
    bool made_ = false;
};

TEST(RosterFile, ACodePageThatHoldsALetterBackLosesNothing) {
    // CP1258 holds a letter back in case a combining tone mark follows it;
    // 0x81 is no character there, and not UTF-8 either.
    const LegacyLocale vietnamese("vi_VN", "CP1258");
    if (!vietnamese.made()) GTEST_SKIP() << "no CP1258 locale can be made here (package locales)";
    EXPECT_EQ(kernel::DecodeSystemCodePage("a\x81" "b"), u"a\uFFFD" "b") << "before an invalid byte and at the end";
    EXPECT_EQ(kernel::DecodeSystemCodePage("\xC3"), u"\u0102");
    EXPECT_EQ(SplitRosterLines(DecodeRosterText("An\nB\xC3", kernel::DecodeSystemCodePage)),
              (Names{u"An", u"B\u0102"}));
}

TEST(RosterFile, NoLimitOnTheLengthOfALine) {
    const std::string line(200000, 'x');
    const Names names = SplitRosterLines(DecodeRosterText(line + "\ny", NoLegacy));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].size(), 200000u);
}

TEST(RosterFile, ReadsAFileAndSaysWhatIsWrongWithABadOne) {
    fake::TempDir dir;
    const auto file = dir.path() / "名单.txt";
    fake::WriteBytes(file, "\xEF\xBB\xBF甲\r\n乙\r\n");
    const Roster roster = ReadRosterFile(file);
    EXPECT_EQ(roster.names, (Names{u"甲", u"乙"}));
    EXPECT_EQ(roster.file, file);

    const auto expectError = [](const std::filesystem::path& path, ErrorKind kind) {
        try {
            ReadRosterFile(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const Error& error) {
            EXPECT_NE(error.message().find(path.u16string()), std::u16string::npos) << error.what();
            EXPECT_EQ(error.kind(), kind) << error.what();
        }
    };
    expectError(dir.path() / "没有.txt", ErrorKind::NoRosterFile);
    expectError(dir.path(), ErrorKind::RosterNotAFile);
    const auto fifo = dir.path() / "pipe.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectError(fifo, ErrorKind::RosterNotAFile);  // and it does not wait for a writer
}

// What ParseRosterFile says of bytes it refuses; empty when it takes them.
std::u16string Refusal(const std::string& bytes) {
    try {
        ParseRosterFile("班级.txt", bytes, kernel::DecodeSystemCodePage);
    } catch (const Error& error) {
        return error.message();
    }
    return {};
}

// The kind of that refusal; Other when there is none.
ErrorKind RefusalKind(const std::string& bytes) {
    try {
        ParseRosterFile("班级.txt", bytes, kernel::DecodeSystemCodePage);
    } catch (const Error& error) {
        return error.kind();
    }
    return ErrorKind::Other;
}

TEST(RosterFile, BytesThatAreNoRosterAreRefusedNamingTheFileAndTheLine) {
    std::setlocale(LC_ALL, "C");
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string words;
        ErrorKind kind;
    };
    static constexpr char kPng[] = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x30\0\0\0\x30\x08\x06\0\0\0";
    const std::string png(kPng, sizeof kPng - 1);
    for (const Case& c : {
             Case{"an empty file", "", u"里没有名字", ErrorKind::NoNames},
             Case{"only a byte-order mark", "\xEF\xBB\xBF", u"里没有名字", ErrorKind::NoNames},
             Case{"the end-of-text mark first", "\x1A甲\n", u"里没有名字", ErrorKind::NoNames},
             Case{"a PNG picture renamed", png, u"不是文本文件：第 3 行有控制字符 U+0000", ErrorKind::NotText},
             Case{"a NUL inside a name", std::string("甲\n乙\0丙\n", 12), u"第 2 行有控制字符 U+0000", ErrorKind::NotText},
             Case{"UTF-16 without its mark", std::string("a\0b\0", 4), u"控制字符 U+0000", ErrorKind::NotText},
             Case{"a line of 21 characters", "甲\n" + std::string(21, 'x') + "\n",
                  u"第 2 行：名字“xxxxxxxxxxxxxxxxxxxx…”有 21 个字符，最多 20 个", ErrorKind::NameTooLong},
             Case{"21 after the lone CRs are dropped", std::string(21, 'y') + "\r\r\n", u"第 1 行：名字",
                  ErrorKind::NameTooLong},
         }) {
        const std::u16string message = Refusal(c.bytes);
        EXPECT_NE(message.find(u"名单文件“班级.txt”"), std::u16string::npos) << c.what << ": " << fake::Utf8(message);
        EXPECT_NE(message.find(c.words), std::u16string::npos) << c.what << ": " << fake::Utf8(message);
        EXPECT_EQ(RefusalKind(c.bytes), c.kind) << c.what;
    }
    // What is left alone: tabs and blanks, blank lines, 20 characters, a GBK
    // file, a name cut by the end-of-text mark, and what stands behind it.
    EXPECT_EQ(Refusal("\t甲 \n\n" + std::string(20, 'x') + "\r\n乙\x1Ajunk\n"), u"");
    EXPECT_EQ(Refusal("\xD5\xC5\xC8\xFD\r\n\xC0\xEE\xCB\xC4"), u"");
    EXPECT_EQ(ParseRosterFile("a.txt", "\n", kernel::DecodeSystemCodePage).names, Names{u""});
    // Bytes that no decoder reads are no reason to refuse a file: they stand as U+FFFD.
    EXPECT_EQ(ParseRosterFile("a.txt", "Ann\nBob\n\xFF\xFF\n", kernel::DecodeSystemCodePage).names,
              (Names{u"Ann", u"Bob", u"\uFFFD\uFFFD"}));
    EXPECT_EQ(ParseRosterFile("a.txt", "\xEF\xBB\xBF甲\n\xC0\x80\n", kernel::DecodeSystemCodePage).names,
              (Names{u"甲", u"\uFFFD\uFFFD"}));
    EXPECT_EQ(ParseRosterFile("a.txt", std::string("\xFF\xFE" "a\0b", 5), kernel::DecodeSystemCodePage).names,
              (Names{u"a\uFFFD"}));
}

TEST(RosterFile, ControlCharactersInTextAreReadAsTheyStand) {
    std::setlocale(LC_ALL, "C");
    const auto names = [](const std::string& bytes) {
        return ParseRosterFile("a.txt", bytes, kernel::DecodeSystemCodePage).names;
    };
    EXPECT_EQ(names("甲\f乙\n丙\n"), (Names{u"甲\f乙", u"丙"})) << "a stray form feed inside a name";
    EXPECT_EQ(names("甲\x01\n\x7F乙\n"), (Names{u"甲\x01", u"\x7F乙"}));
    // Old DOS files: the text ends at 0x1A, padded out with more of it or with NULs.
    EXPECT_EQ(names("甲\r\n乙\r\n\x1A" + std::string(125, '\x1A')), (Names{u"甲", u"乙"}));
    EXPECT_EQ(names(std::string("甲\r\n\x1A\0\0\0\x1A\0", 10)), Names{u"甲"});
    // What stands after the end of the text is not read, control characters and all.
    EXPECT_EQ(names("甲\n\x1A\x01\x02\x1B[0m\x7F旧的\n"), Names{u"甲"});
    EXPECT_EQ(names("甲\x1A\x01\x02\n乙\n"), (Names{u"甲", u"乙"})) << "the rest of a line cut by 0x1A";
}

TEST(RosterFile, AFileWithoutNamesIsTakenOnlyWhenAsked) {
    for (const std::string& bytes : {std::string(), std::string("\x1A"), std::string("\x1A甲\n乙\n"),
                                     std::string("\xEF\xBB\xBF")}) {
        EXPECT_EQ(ParseRosterFile("a.txt", bytes, kernel::DecodeSystemCodePage, EmptyRoster::Taken).names, Names{})
            << fake::Utf8(Utf8ToUtf16(bytes));
        EXPECT_EQ(RefusalKind(bytes), ErrorKind::NoNames);
    }
    // What is no text stays refused either way.
    static constexpr char kPng[] = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR";
    EXPECT_THROW(ParseRosterFile("a.txt", std::string(kPng, sizeof kPng - 1), kernel::DecodeSystemCodePage,
                                 EmptyRoster::Taken),
                 Error);
}

// The peak resident memory of this process in bytes, after the peak is reset.
class PeakMemory {
public:
    PeakMemory() {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5" << std::flush;
        const bool written = clear.good();
        start_ = Read("VmRSS:");
        const long long peak = Read("VmHWM:");
        if (start_ <= 0 || peak <= 0) {
            unavailable_ = "no VmRSS/VmHWM in /proc/self/status here";
        } else if (!written || peak > start_ + kSlack) {
            // Without the reset, the peak may be one an earlier test left.
            unavailable_ = "the peak memory cannot be reset here (writing /proc/self/clear_refs was refused)";
        }
    }
    long long Growth() const { return Read("VmHWM:") - start_; }
    // Why the peak cannot be measured here; empty where it can.
    const std::string& Unavailable() const { return unavailable_; }

private:
    static long long Read(const std::string& key) {
        std::ifstream in("/proc/self/status");
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(key, 0) == 0) return std::stoll(line.substr(key.size())) * 1024;
        }
        return -1;
    }
    static constexpr long long kSlack = 4'000'000;
    long long start_;
    std::string unavailable_;
};

TEST(RosterFile, ASingleHundredMegabyteLineIsRefusedWithoutHoldingItAsAName) {
    fake::TempDir dir;
    const auto file = dir.path() / "一行.txt";
    constexpr long long kSize = 100'000'000;
    {
        std::ofstream out(file, std::ios::binary);
        const std::string block(1'000'000, 'x');
        for (long long written = 0; written < kSize; written += static_cast<long long>(block.size())) out << block;
    }
    const PeakMemory peak;
    try {
        ReadRosterFile(file);
        FAIL() << "a 100 MB name was taken";
    } catch (const Error& error) {
        EXPECT_NE(error.message().find(u"第 1 行：名字“xxxxxxxxxxxxxxxxxxxx…”有 100000000 个字符，最多 20 个"),
                  std::u16string::npos)
            << error.what();
    }
    if (!peak.Unavailable().empty()) GTEST_SKIP() << peak.Unavailable();
    // The file's bytes and their UTF-16 decoding are held once each; the name
    // is not. (Reading it whole into a name took 1.6 GB.)
    EXPECT_LT(peak.Growth(), 4 * kSize) << "peak growth " << peak.Growth() / 1'000'000 << " MB";
}

}  // namespace
