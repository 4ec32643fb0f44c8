#pragma once
// The program's own error type: a kind that callers and tests tell apart, and
// the message the user reads, made from the kind in one place.

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

// How long a write waits for another copy of the program to finish its own.
inline constexpr int kBusyWaitSeconds = 5;

// What went wrong, as far as the program tells failures apart. The parts each
// kind's message is made from are listed with it.
enum class ErrorKind {
    Other,           // a message of its own, said as it stands
    Busy,            // another copy held the store for the whole wait: {what, SQLite's words}
    DiskFull,        // {SQLite's words}
    DiskIo,          // the disk failed a read or a write: {SQLite's words}
    Unconfirmed,     // written, but the disk did not confirm it lasts: {the system's words}
    NotAStore,       // a file that is no store, or a damaged one: {SQLite's words}
    NoStoreFile,     // no file where the store should be: {}
    NotAFile,        // a folder or a device where the store should be: {}
    ReadOnly,        // a store that cannot be written: {}
    StoreReplaced,   // another copy put a newly imported store in its place: {path}
    RowGone,         // rows of the view have gone from the file: {first name} or {first name, "run"}
    NameTooLong,     // {the name's first units, its length, the limit}
    NoRosterFile,    // {file, quoted}
    RosterNotAFile,  // a folder or a device picked as roster: {file, quoted}
    NotText,         // a roster file that is plainly no text: {where, line}
    NoNames,         // a roster file without a single name: {where}
    CountLimit,      // a count that cannot go up: {count}
};

// The words for kind, filled with its parts: the one place where a kind
// becomes the text the user reads.
std::u16string ErrorMessage(ErrorKind kind, std::initializer_list<std::u16string_view> parts);

class Error : public std::exception {
public:
    // A failure of no kind of its own (ErrorKind::Other).
    explicit Error(std::u16string message);
    Error(ErrorKind kind, std::initializer_list<std::u16string_view> parts);
    // cause, with what it happened to said around it; its kind stays.
    static Error Within(std::u16string_view before, const std::exception& cause, std::u16string_view after = {});

    ErrorKind kind() const noexcept { return kind_; }
    const std::u16string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    // The message as it stands (a tag of its own, so that a kind with one
    // part in braces never picks it).
    struct Said {};
    Error(Said, ErrorKind kind, std::u16string message);

    ErrorKind kind_;
    std::u16string message_;
    std::string utf8_;
};

// The message of any exception, as UTF-16.
std::u16string MessageOf(const std::exception& error);
// The kind of any exception: Other for those not the program's own.
ErrorKind KindOf(const std::exception& error);
