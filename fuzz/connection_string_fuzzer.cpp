// ParseConnectionString on any UTF-16 text: it never fails, and what it gives
// comes back the same when written again. Any path and password written into
// the strings the store routines build, whatever they hold (";", "=",
// quotes, blanks at either end), come back as they went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/connection_string.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

std::u16string Written(const std::u16string& path, const std::u16string& password) {
    return u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" +
           ConnectionStringValue(path) + u";Jet OLEDB:Database Password=" + ConnectionStringValue(password);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    const ConnectionString parts = ParseConnectionString(text);
    const ConnectionString again = ParseConnectionString(Written(parts.dataSource, parts.password));
    Require(again.dataSource == parts.dataSource);
    Require(again.password == parts.password);

    // The same text as a path, and as a path and a password cut at the place
    // the first unit names.
    const ConnectionString whole = ParseConnectionString(Written(text, u""));
    Require(whole.dataSource == text);
    Require(whole.password.empty());
    const std::size_t cut = text.empty() ? 0 : text.front() % (text.size() + 1);
    const std::u16string path = text.substr(0, cut);
    const std::u16string password = text.substr(cut);
    const ConnectionString split = ParseConnectionString(Written(path, password));
    Require(split.dataSource == path);
    Require(split.password == password);
    return 0;
}
