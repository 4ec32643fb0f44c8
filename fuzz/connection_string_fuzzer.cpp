// ParseConnectionString on any UTF-16 text: it never fails, its values carry
// no blanks at either end and no ";", and a Data Source written into the
// string the store routines build comes back as it went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/connection_string.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool Blank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

void CheckValue(const std::u16string& value) {
    Require(value.find(u';') == std::u16string::npos);
    Require(value.empty() || (!Blank(value.front()) && !Blank(value.back())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    const ConnectionString parts = ParseConnectionString(text);
    CheckValue(parts.dataSource);
    CheckValue(parts.password);

    // The same text as a path in the strings the store routines build.
    std::u16string path;
    for (const char16_t unit : text) {
        if (unit != u';') path.push_back(unit);
    }
    while (!path.empty() && Blank(path.front())) path.erase(path.begin());
    while (!path.empty() && Blank(path.back())) path.pop_back();
    const ConnectionString built = ParseConnectionString(
        u"Provider=P.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" + path +
        u";Jet OLEDB:Database Password=");
    Require(built.dataSource == path);
    Require(built.password.empty());
    return 0;
}
