#include "common/error.h"

#include <vector>

#include "common/text.h"

std::u16string ErrorMessage(ErrorKind kind, std::initializer_list<std::u16string_view> parts) {
    const std::vector<std::u16string> part(parts.begin(), parts.end());
    const auto at = [&](std::size_t i) { return i < part.size() ? part[i] : std::u16string(); };
    switch (kind) {
        case ErrorKind::Other:
        case ErrorKind::NotAStore:
            return at(0);
        case ErrorKind::Busy:
            return at(0) + u"正被另一个程序使用，等了 " + ToU16(kBusyWaitSeconds) + u" 秒仍没有空出来：" + at(1);
        case ErrorKind::DiskFull:
            return u"磁盘已满（" + at(0) + u"）";
        case ErrorKind::DiskIo:
            return u"磁盘读写出错（" + at(0) + u"）";
        case ErrorKind::Unconfirmed:
            return u"磁盘没有确认写入（" + at(0) + u"）";
        case ErrorKind::NoStoreFile:
            return u"文件不存在";
        case ErrorKind::NotAFile:
            return u"这不是一个文件";
        case ErrorKind::ReadOnly:
            return u"文件是只读的，抽中的次数无法保存";
        case ErrorKind::StoreReplaced:
            return u"名单库“" + at(0) + u"”已被另一个程序换成了新导入的名单，这里打开的名单已经过时，"
                   u"不能再记录：请关闭程序，再重新打开";
        case ErrorKind::RowGone:
            return u"“" + TrimControl(at(0)) + u"”" + (part.size() > 1 ? u"和它后面的名字中有的" : u"") +
                   u"已不在名单库里";
        case ErrorKind::NameTooLong:
            return u"名字“" + at(0) + u"…”有 " + at(1) + u" 个字符，最多 " + at(2) + u" 个";
        case ErrorKind::NoRosterFile:
            return u"找不到名单文件" + at(0);
        case ErrorKind::RosterNotAFile:
            return at(0) + u"不是一个名单文件，而是文件夹或设备";
        case ErrorKind::NotText:
            return at(0) + u"不是文本文件：第 " + at(1) + u" 行有控制字符 U+0000";
        case ErrorKind::NoNames:
            return at(0) + u"里没有名字";
        case ErrorKind::CountLimit:
            return u"次数已到上限 " + at(0);
    }
    return at(0);
}

Error::Error(Said, ErrorKind kind, std::u16string message)
    : kind_(kind), message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

Error::Error(std::u16string message) : Error(Said{}, ErrorKind::Other, std::move(message)) {}

Error::Error(ErrorKind kind, std::initializer_list<std::u16string_view> parts)
    : Error(Said{}, kind, ErrorMessage(kind, parts)) {}

Error Error::Within(std::u16string_view before, const std::exception& cause, std::u16string_view after) {
    return Error(Said{}, KindOf(cause), std::u16string(before) + MessageOf(cause) + std::u16string(after));
}

std::u16string MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Error*>(&error)) return own->message();
    return Utf8ToUtf16(error.what());
}

ErrorKind KindOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Error*>(&error)) return own->kind();
    return ErrorKind::Other;
}
