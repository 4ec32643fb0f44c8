#include "store/connection_string.h"

#include "common/text.h"

ConnectionString ParseConnectionString(std::u16string_view text) {
    ConnectionString result;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(u';', begin);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string_view part = text.substr(begin, end - begin);
        const std::size_t equals = part.find(u'=');
        if (equals != std::u16string_view::npos) {
            const std::u16string key = AsciiLowerCase(TrimBlanks(part.substr(0, equals)));
            std::u16string value = TrimBlanks(part.substr(equals + 1));
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
