#pragma once
// The services of the operating system's kernel that differ between systems:
// code pages, case mapping, folders and files. No window is needed for any of
// them, and nothing here may pull in Qt or Windows. Implemented once per system
// (platform/posix, platform/win32); the store and the helpers use them.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kernel {

// Text in the system's 8-bit code page to UTF-16; invalid bytes become U+FFFD.
// Where the system names no 8-bit code page (a UTF-8 or plain ASCII locale), GB18030.
std::u16string DecodeSystemCodePage(std::string_view bytes);

// Every letter in lower case, by the system's case mapping for all of Unicode
// (not the user's language): "AÉ" gives "aé".
std::u16string LowerCase(std::u16string_view text);

// Why files cannot be made (and removed) in folder, in the system's words;
// empty when they can. Asks the system, so that it also holds where
// permission bits do not (an administrator, a read-only medium).
std::u16string FolderWriteError(const std::filesystem::path& folder);

// Whether a file that is open (by this program or another) can be replaced.
#ifdef _WIN32
inline constexpr bool kOpenFilesCanBeReplaced = false;
#else
inline constexpr bool kOpenFilesCanBeReplaced = true;
#endif

// Whether a folder can be synced, so that a file deleted from it stays deleted
// after a power cut. Windows has no call for it: a file that is to go is cut
// to nothing there, and synced through its own handle.
#ifdef _WIN32
inline constexpr bool kFoldersCanBeSynced = false;
#else
inline constexpr bool kFoldersCanBeSynced = true;
#endif

// Puts from in the place of to in one atomic step, replacing to. Throws
// std::filesystem::filesystem_error when the move was not made. Returns empty
// when the move is on disk; when it was made but the disk did not confirm it
// (a failing disk), what the system said.
[[nodiscard]] std::u16string ReplaceFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// A hold that one copy of the program keeps on a file it is using: while it
// lasts, no other copy (and no other hold in this one) can take one on the
// same file. A copy that ends, or is killed, lets go of its holds with it.
// The hold is a lock on the one byte at offset, which nothing else may read,
// write or lock; other locks on the file (SQLite's) and their ends leave it be.
class FileHold {
public:
    // The hold on the file at path; nothing when another holds it, or when
    // path names no file that can be opened for writing.
    static std::optional<FileHold> Take(const std::filesystem::path& path, std::uint64_t offset);
    FileHold(FileHold&& other) noexcept;
    FileHold& operator=(FileHold&& other) noexcept;
    ~FileHold();

    // Whether path still names the file held, not another put in its place.
    bool Holds(const std::filesystem::path& path) const;

private:
    explicit FileHold(std::intptr_t handle) : handle_(handle) {}
    void Release() noexcept;
    std::intptr_t handle_;
};

}  // namespace kernel
