#include "store/connection_string.h"

#include "common/text.h"

namespace {

bool Blank(char16_t unit) { return unit == u' ' || unit == u'\t'; }
bool Quote(char16_t unit) { return unit == u'"' || unit == u'\''; }

// Reads a value in the quote that stands at text[begin]. Gives the value and
// where its part ends (at the next ";" or the end), or false when the quote is
// never closed.
bool ReadQuoted(std::u16string_view text, std::size_t begin, std::u16string& value, std::size_t& end) {
    const char16_t quote = text[begin];
    value.clear();
    for (std::size_t i = begin + 1; i < text.size(); ++i) {
        if (text[i] != quote) {
            value.push_back(text[i]);
        } else if (i + 1 < text.size() && text[i + 1] == quote) {
            value.push_back(quote);
            ++i;
        } else {
            end = text.find(u';', i + 1);
            if (end == std::u16string_view::npos) end = text.size();
            return true;
        }
    }
    return false;
}

}  // namespace

ConnectionString ParseConnectionString(std::u16string_view text) {
    ConnectionString result;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(u';', begin);
        if (end == std::u16string_view::npos) end = text.size();
        const std::size_t equals = text.substr(begin, end - begin).find(u'=');
        if (equals != std::u16string_view::npos) {
            const std::u16string key = AsciiLowerCase(TrimBlanks(text.substr(begin, equals)));
            std::size_t valueBegin = begin + equals + 1;
            while (valueBegin < end && Blank(text[valueBegin])) ++valueBegin;
            std::u16string value;
            if (valueBegin == end || !Quote(text[valueBegin]) || !ReadQuoted(text, valueBegin, value, end)) {
                value = TrimBlanks(text.substr(valueBegin, end - valueBegin));
            }
            if (key == u"data source") {
                result.dataSource = std::move(value);
            } else if (key == u"jet oledb:database password") {
                result.password = std::move(value);
            }
        }
        begin = end + 1;
    }
    return result;
}

std::u16string ConnectionStringValue(std::u16string_view value) {
    const bool plain = value.find(u';') == std::u16string_view::npos &&
                       (value.empty() || (!Blank(value.front()) && !Blank(value.back()) && !Quote(value.front())));
    if (plain) return std::u16string(value);
    std::u16string quoted = u"\"";
    for (const char16_t unit : value) {
        quoted.push_back(unit);
        if (unit == u'"') quoted.push_back(u'"');
    }
    quoted.push_back(u'"');
    return quoted;
}
