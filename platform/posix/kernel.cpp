// Kernel services on a POSIX system: the legacy code page, case mapping, folders and file replacement.

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "common/text.h"
#include "platform/kernel.h"

namespace kernel {

namespace {

// The locale's 8-bit code page, or GB18030 where it names none.
std::string LegacyCodeSet() {
    const char* name = nl_langinfo(CODESET);
    const std::string codeSet = name == nullptr ? "" : name;
    if (codeSet.empty() || codeSet == "UTF-8" || codeSet == "utf8" || codeSet == "ANSI_X3.4-1968" ||
        codeSet == "ASCII" || codeSet == "US-ASCII") {
        return "GB18030";
    }
    return codeSet;
}

}  // namespace

std::u16string DecodeSystemCodePage(std::string_view bytes) {
    std::u16string out;
    iconv_t converter = iconv_open("UTF-16LE", LegacyCodeSet().c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) converter = iconv_open("UTF-16LE", "GB18030");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        for (const char byte : bytes) {
            out.push_back(static_cast<unsigned char>(byte) < 0x80 ? static_cast<char16_t>(byte) : kReplacementCharacter);
        }
        return out;
    }
    out.reserve(bytes.size());
    char buffer[4096];
    const auto take = [&](const char* end) {
        for (const char* p = buffer; p + 1 < end; p += 2) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                                (static_cast<unsigned char>(p[1]) << 8)));
        }
    };
    // Some converters (TCVN5712-1, BIG5-HKSCS) hold a character back to see
    // whether a combining mark follows; only a flush gives it up.
    const auto flush = [&] {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
        take(outPtr);
    };
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        take(outPtr);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or cut-off sequence: what came before it, one
            // replacement character, then on from the next byte.
            flush();
            out.push_back(kReplacementCharacter);
            ++in;
            --inLeft;
        }
    }
    flush();
    iconv_close(converter);
    return out;
}

std::u16string LowerCase(std::u16string_view text) {
    // The mapping of glibc's C.UTF-8 covers all of Unicode, whatever the
    // user's own locale is.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        const bool pair = point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        if (pair) point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (unicode != static_cast<locale_t>(nullptr)) {
            point = static_cast<char32_t>(towlower_l(static_cast<wint_t>(point), unicode));
        } else if (point >= U'A' && point <= U'Z') {
            point += 32;
        }
        if (point >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
    }
    return out;
}

namespace {

// What errno says, in the C locale's (ASCII) words.
std::u16string SystemReason(int error) {
    std::u16string text;
    for (const char* p = std::strerror(error); *p != 0; ++p) text.push_back(static_cast<unsigned char>(*p));
    return text;
}

}  // namespace

std::u16string FolderWriteError(const std::filesystem::path& folder) {
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    if (::access(where.c_str(), W_OK | X_OK) == 0) return {};
    return SystemReason(errno);
}

std::u16string ReplaceFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        throw std::filesystem::filesystem_error("rename", from, to, std::error_code(errno, std::generic_category()));
    }
    // The rename itself is made durable by syncing the directory that holds it.
    // When that sync fails the new file has its name all the same, but a power
    // cut could still bring the old one back: the caller must say so.
    const std::filesystem::path directory = to.has_parent_path() ? to.parent_path() : std::filesystem::path(".");
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return {};
    std::u16string unconfirmed;
    if (::fsync(fd) != 0) unconfirmed = SystemReason(errno);
    ::close(fd);
    return unconfirmed;
}

// An open file description's own lock (F_OFD_SETLK): unlike a classic POSIX
// lock, it does not go when the process closes another descriptor of the same
// file, as SQLite does with its own while the hold lasts.
std::optional<FileHold> FileHold::Take(const std::filesystem::path& path, std::uint64_t offset) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return FileHold(fd);
}

FileHold::FileHold(FileHold&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

FileHold& FileHold::operator=(FileHold&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

FileHold::~FileHold() { Release(); }

void FileHold::Release() noexcept {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool FileHold::Holds(const std::filesystem::path& path) const {
    struct stat held {};
    struct stat named {};
    return handle_ >= 0 && ::fstat(static_cast<int>(handle_), &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace kernel
