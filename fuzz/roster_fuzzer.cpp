// The roster file reader on any bytes, in every code page this machine has a
// locale for: decoding never fails and gives valid UTF-16, the legacy decoder
// keeps every line end and loses nothing at the end of the text, and the
// names split from it hold no line end. The whole reader either gives a
// roster the store takes (names of at most its limit, no NUL)
// or refuses with the program's own error, never anything else.
//
// The locales come from NAMEWHEEL_FUZZ_LOCALES (blank-separated; scripts/fuzz.sh
// builds them with localedef under LOCPATH); the ones setlocale refuses are left out.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "platform/kernel.h"
#include "store/query.h"
#include "store/roster_file.h"

namespace {

std::vector<std::string> g_locales;
const char* g_current = "";

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "roster_fuzzer: %s (locale %s)\n", what, g_current);
    std::abort();
}

void Require(bool condition, const char* what) {
    if (!condition) Fail(what);
}

bool ValidUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

template <typename Text>
std::size_t LineFeeds(const Text& text) {
    std::size_t count = 0;
    for (const auto unit : text) count += unit == '\n';
    return count;
}

void CheckOneLocale(std::string_view bytes) {
    std::u16string text;
    std::vector<std::u16string> names;
    try {
        text = DecodeRosterText(bytes, kernel::DecodeSystemCodePage);
        names = SplitRosterLines(text);
    } catch (...) {
        Fail("decoding or splitting threw");
    }
    Require(ValidUtf16(text), "decoded text is not valid UTF-16");
    for (const std::u16string& name : names) {
        Require(name.find(u'\n') == std::u16string::npos, "a name holds a LF");
        Require(name.find(u'\r') == std::u16string::npos, "a name holds a CR");
        Require(name.find(u'\x1A') == std::u16string::npos, "a name holds 0x1A");
        Require(ValidUtf16(name), "a name is not valid UTF-16");
    }
    Require(names.size() <= LineFeeds(text) + 1, "more names than lines");

    // The legacy decoder on its own: in every code page reached here the byte
    // 0x0A is a line feed and nothing else, and a converter that holds back a
    // character (to see whether a combining mark follows) must still give it up
    // at the end of the text.
    const std::u16string legacy = kernel::DecodeSystemCodePage(bytes);
    Require(ValidUtf16(legacy), "legacy decoding is not valid UTF-16");
    Require(LineFeeds(legacy) == LineFeeds(bytes), "legacy decoding changed the number of line feeds");
    const std::u16string withLineEnd = kernel::DecodeSystemCodePage(std::string(bytes) + "\n");
    Require(withLineEnd == legacy + u"\n", "legacy decoding lost or changed the end of the text");

    try {
        const Roster roster = ParseRosterFile("fuzz.txt", bytes, kernel::DecodeSystemCodePage);
        Require(!roster.names.empty(), "a roster without names was taken");
        Require(roster.names.size() == names.size(), "the roster's names are not the split lines");
        for (std::size_t i = 0; i < names.size(); ++i) {
            Require(roster.names[i] == names[i], "the roster's names are not the split lines");
            Require(names[i].size() <= TADOQuery::kNameLimit, "a name longer than the store takes was taken");
            // A NUL is a sign of a binary file; other control characters stay as read.
            Require(names[i].find(u'\0') == std::u16string::npos, "a NUL was taken");
        }
    } catch (const Error& error) {
        Require(error.message().find(u"fuzz.txt") != std::u16string::npos, "a refusal that does not name the file");
    } catch (...) {
        Fail("the reader threw something other than its own error");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string wanted = "C C.UTF-8";
    if (const char* list = std::getenv("NAMEWHEEL_FUZZ_LOCALES")) wanted += std::string(" ") + list;
    std::istringstream in(wanted);
    for (std::string name; in >> name;) {
        if (std::setlocale(LC_ALL, name.c_str()) != nullptr) {
            g_locales.push_back(name);
        } else {
            std::fprintf(stderr, "roster_fuzzer: no locale %s, left out\n", name.c_str());
        }
    }
    std::fprintf(stderr, "roster_fuzzer: %zu locales\n", g_locales.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& locale : g_locales) {
        g_current = locale.c_str();
        std::setlocale(LC_ALL, g_current);
        CheckOneLocale(bytes);
    }
    return 0;
}
