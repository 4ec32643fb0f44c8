// Kernel services on Windows: the ANSI code page, case mapping, folders and file replacement.

#include <windows.h>

#include <string>
#include <system_error>

#include "common/text.h"
#include "platform/kernel.h"

namespace kernel {

namespace {

constexpr UINT kGb18030 = 54936;
constexpr int kLongestSequence = 4;  // GB18030's four-byte sequences

// The system's 8-bit code page; GB18030 where it is UTF-8.
UINT LegacyCodePage() {
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8 && IsValidCodePage(kGb18030)) return kGb18030;
    return codePage;
}

// Decodes bytes strictly; false when any of them is not valid in codePage.
bool DecodeStrictly(UINT codePage, const char* bytes, int length, std::u16string& out) {
    if (length == 0) return true;
    const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
    if (units <= 0) return false;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(units));
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, reinterpret_cast<wchar_t*>(&out[start]),
                        units);
    return true;
}

std::string Utf8Of(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes) - 1);
    return out;
}

// The system's own words for an error code, in UTF-8, without the line end.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length > 0 && text != nullptr) {
        message = Utf8Of(text);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
            message.pop_back();
        }
    }
    if (text != nullptr) LocalFree(text);
    if (message.empty()) message = "错误 " + std::to_string(code);
    return message;
}

}  // namespace

std::u16string DecodeSystemCodePage(std::string_view bytes) {
    const UINT codePage = LegacyCodePage();
    std::u16string out;
    out.reserve(bytes.size());
    if (DecodeStrictly(codePage, bytes.data(), static_cast<int>(bytes.size()), out)) return out;
    // Somewhere a byte is not valid: decode sequence by sequence, taking the
    // shortest run of bytes that is a character; a byte that starts none
    // becomes one replacement character.
    out.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        bool decoded = false;
        for (int length = 1; length <= kLongestSequence && i + static_cast<std::size_t>(length) <= bytes.size();
             ++length) {
            if (DecodeStrictly(codePage, bytes.data() + i, length, out)) {
                i += static_cast<std::size_t>(length);
                decoded = true;
                break;
            }
        }
        if (!decoded) {
            out.push_back(kReplacementCharacter);
            ++i;
        }
    }
    return out;
}

std::u16string LowerCase(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int needed = LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, source, length, nullptr, 0);
    if (needed <= 0) return std::u16string(text);
    std::u16string out(static_cast<std::size_t>(needed), u'\0');
    LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, source, length, reinterpret_cast<wchar_t*>(out.data()), needed);
    return out;
}

std::u16string FolderWriteError(const std::filesystem::path& folder) {
    // Permission bits and attributes do not tell: only a file made there does.
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(L".") : folder;
    const std::filesystem::path probe = where / (L"namewheel-" + std::to_wstring(GetCurrentProcessId()) + L".probe");
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS) return {};
        return Utf8ToUtf16(SystemMessage(code));
    }
    CloseHandle(file);
    return {};
}

std::u16string ReplaceFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to) {
    // One rename that replaces the target, on disk when it returns.
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        throw std::filesystem::filesystem_error(SystemMessage(code), from, to,
                                                std::error_code(static_cast<int>(code), std::system_category()));
    }
    return {};
}

std::optional<FileHold> FileHold::Take(const std::filesystem::path& path, std::uint64_t offset) {
    // Shared for deleting too: the holder renames the file while it holds it.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        CloseHandle(file);
        return std::nullopt;
    }
    return FileHold(reinterpret_cast<std::intptr_t>(file));
}

FileHold::FileHold(FileHold&& other) noexcept : handle_(other.handle_) { other.handle_ = 0; }

FileHold& FileHold::operator=(FileHold&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = 0;
    }
    return *this;
}

FileHold::~FileHold() { Release(); }

void FileHold::Release() noexcept {
    // Closing the handle ends its locks.
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = 0;
}

bool FileHold::Holds(const std::filesystem::path& path) const {
    if (handle_ == 0) return false;
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &held)) return false;
    const HANDLE named = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = GetFileInformationByHandle(named, &info) &&
                      info.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
                      info.nFileIndexHigh == held.nFileIndexHigh && info.nFileIndexLow == held.nFileIndexLow;
    CloseHandle(named);
    return same;
}

}  // namespace kernel
