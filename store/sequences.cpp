#include "store/sequences.h"

#include <chrono>
#include <optional>
#include <random>

#include "common/text.h"
#include "platform/kernel.h"
#include "store/connection.h"
#include "store/jet.h"
#include "store/query.h"
#include "store/transaction.h"
#include "store/write_lock.h"

namespace {

void Require(bool done) {
    if (!done) throw LastStoreRoutineError();
}

constexpr char16_t kTemporaryMark[] = u".tmp";
constexpr char16_t kJournalEnd[] = u"-journal";
// The byte a copy holds on its temporary store: in the page of the file that
// SQLite keeps for its own locks (from 1 GiB on), past the bytes it locks.
// Nothing reads, writes or locks it otherwise.
constexpr std::uint64_t kHoldByte = 0x40000000 + 0x800;

std::filesystem::path JournalOf(const std::filesystem::path& file) {
    std::filesystem::path journal = file;
    journal += kJournalEnd;
    return journal;
}

bool EndsWith(std::u16string_view text, std::u16string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A name beside storePath that no other import uses: "cs.db.tmp-" and 16
// random hexadecimal digits, from the system's source of randomness each
// time (a generator of our own would be in the same state in two copies of
// a process), and no file there yet.
std::filesystem::path NewTemporaryStorePath(const std::filesystem::path& storePath) {
    std::random_device system;
    for (;;) {
        std::u16string name = storePath.filename().u16string() + kTemporaryMark + u"-";
        const std::uint64_t bits = (std::uint64_t{system()} << 32) ^ system() ^
                                   static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (int shift = 60; shift >= 0; shift -= 4) name.push_back(u"0123456789abcdef"[(bits >> shift) & 0xF]);
        const std::filesystem::path path = storePath.parent_path() / std::filesystem::path(name);
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return path;
    }
}

void RemoveWithJournal(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    std::filesystem::remove(JournalOf(file), ec);
}

// A new, empty store file beside storePath under a name of its own, held by
// this copy until it goes: only this import may rename or remove it.
struct TemporaryStore {
    std::filesystem::path path;
    kernel::FileHold hold;
};

TemporaryStore MakeTemporaryStore(const std::filesystem::path& storePath) {
    // Between the file's making and its hold, a copy that starts may take it
    // for one a killed copy left, and remove it: then another name is made.
    for (int attempt = 1;; ++attempt) {
        const std::filesystem::path path = NewTemporaryStorePath(storePath);
        if (!CreateJetDatabase(path.u16string(), u"")) {
            RemoveWithJournal(path);  // whatever of it was made: the name is this import's own
            throw LastStoreRoutineError();
        }
        std::optional<kernel::FileHold> hold = kernel::FileHold::Take(path, kHoldByte);
        if (hold && hold->Holds(path)) return TemporaryStore{path, std::move(*hold)};
        if (attempt == 3) throw Error(u"无法建立临时名单库“" + path.u16string() + u"”：它刚建好就被别的程序拿走了");
    }
}

}  // namespace

std::vector<std::filesystem::path> TemporaryStoresBeside(const std::filesystem::path& storePath) {
    const std::u16string start = storePath.filename().u16string() + kTemporaryMark;
    const std::filesystem::path folder = storePath.has_parent_path() ? storePath.parent_path() : ".";
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
        const std::u16string name = entry->path().filename().u16string();
        if (name.compare(0, start.size(), start) == 0) found.push_back(entry->path());
    }
    return found;
}

void RemoveStaleTemporaryStores(const std::filesystem::path& storePath) {
    for (const std::filesystem::path& file : TemporaryStoresBeside(storePath)) {
        const std::u16string name = file.filename().u16string();
        std::error_code ec;
        if (EndsWith(name, kJournalEnd)) {
            // A journal without its store: its copy was killed between the two removals.
            const std::u16string storeName = name.substr(0, name.size() - std::u16string_view(kJournalEnd).size());
            if (!std::filesystem::exists(std::filesystem::symlink_status(file.parent_path() / storeName, ec))) {
                std::filesystem::remove(file, ec);
            }
            continue;
        }
        // A store that a running copy holds is its import, half-way through.
        const std::optional<kernel::FileHold> hold = kernel::FileHold::Take(file, kHoldByte);
        if (hold && hold->Holds(file)) RemoveWithJournal(file);
    }
}

void LoadRosterFile(TADOConnection& connection, TADOQuery& query, const Roster& roster) {
    const std::u16string file = u"名单文件“" + roster.file.u16string() + u"”";
    // A line the store would refuse is named; what fails after that is the
    // store's or the disk's doing, whichever line it came at.
    for (std::size_t line = 0; line < roster.names.size(); ++line) {
        const std::u16string& name = roster.names[line];
        if (name.size() > TADOQuery::kNameLimit) {
            throw Error::Within(file + u"第 " + ToU16(static_cast<int>(line + 1)) + u" 行：", NameTooLong(name, name.size()));
        }
    }
    try {
        Transaction load(connection);
        query.ReserveForAppend(roster.names.size());
        for (const std::u16string& name : roster.names) query.AppendRecord(name, 0);
        load.Commit();
    } catch (const UnconfirmedChange&) {
        throw;
    } catch (const std::exception& error) {
        throw Error::Within(file + u"的名字没有存进名单库：", error);
    }
}

std::optional<Error> CreateStore(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath,
                                 const Roster* roster) {
    std::optional<TemporaryStore> temporary;
    std::u16string unconfirmed;
    try {
        const std::filesystem::path folder = storePath.parent_path();
        const std::u16string unwritable = kernel::FolderWriteError(folder);
        if (!unwritable.empty()) {
            throw Error(u"无法建立名单库“" + storePath.u16string() + u"”：文件夹“" + folder.u16string() +
                        u"”不能写入（" + unwritable + u"）");
        }
        temporary = MakeTemporaryStore(storePath);
        Require(ConnectJetDatabase(connection, temporary->path.u16string(), u""));
        Require(ExecSql(query, kCreateTableSql));
        Require(OpenTable(query, kTableName));
        try {
            if (roster != nullptr) LoadRosterFile(connection, query, *roster);
        } catch (const UnconfirmedChange&) {
            // The names are in the new file. The sync of the folder after the
            // rename below confirms them along with it, or says it did not.
        }
        query.Close();
        connection.Close();
        // Where journals are cut to nothing rather than deleted (Windows), the
        // new store's empty one would stay behind under its temporary name.
        std::error_code ec;
        std::filesystem::remove(JournalOf(temporary->path), ec);
        // The new store is complete and on disk (its commit synced it); only
        // now does it take the old one's place, in one rename, so that a crash
        // at any moment leaves either the old roster or the whole new one.
        try {
            // Nobody may be half-way through a write to the old store when it
            // goes: a crash would leave that write's journal beside the new
            // file, and the next open would roll old pages back into it.
            std::optional<StoreWriteLock> oldStore(std::in_place, storePath);
            // Where an open file cannot be replaced (Windows), the lock only
            // waits until nobody is writing: holding it would stop the rename.
            if (!kernel::kOpenFilesCanBeReplaced) oldStore.reset();
            // Held across the rename: the file then has the store's name.
            unconfirmed = kernel::ReplaceFileAtomically(temporary->path, storePath);
        } catch (const std::exception& error) {
            throw Error::Within(u"无法替换名单库“" + storePath.u16string() + u"”：", error);
        }
    } catch (const std::exception& error) {
        query.Close();
        connection.Close();
        if (temporary) RemoveWithJournal(temporary->path);
        query.NoteOpenFailure(Error::Within(u"名单库没有建成：", error));
        throw;
    }
    if (unconfirmed.empty()) return std::nullopt;
    return Error::Within(u"新名单已换上名单库“" + storePath.u16string() + u"”，但",
                         Error(ErrorKind::Unconfirmed, {unconfirmed}), u"：断电后可能仍是原来的名单。请检查磁盘，再导入一次");
}

void OpenRosterView(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath) {
    ConnectJetDatabase(connection, storePath.u16string(), u"");
    OpenTable(query, kTableName);
    query.SetSort(kSortByCount);
}
