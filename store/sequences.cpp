#include "store/sequences.h"

#include <optional>

#include "common/text.h"
#include "platform/kernel.h"
#include "store/connection.h"
#include "store/jet.h"
#include "store/query.h"
#include "store/transaction.h"
#include "store/write_lock.h"

namespace {

void Require(bool done) {
    if (!done) throw Error(LastStoreRoutineError());
}

}  // namespace

std::filesystem::path TemporaryStorePath(const std::filesystem::path& storePath) {
    std::filesystem::path temporary = storePath;
    temporary += ".tmp";
    return temporary;
}

void RemoveTemporaryStore(const std::filesystem::path& storePath) {
    const std::filesystem::path temporary = TemporaryStorePath(storePath);
    std::filesystem::path journal = temporary;
    journal += "-journal";
    std::error_code ec;
    std::filesystem::remove(temporary, ec);
    std::filesystem::remove(journal, ec);
}

void LoadRosterFile(TADOConnection& connection, TADOQuery& query, const Roster& roster) {
    const std::u16string file = u"名单文件“" + roster.file.u16string() + u"”";
    // A line the store would refuse is named; what fails after that is the
    // store's or the disk's doing, whichever line it came at.
    for (std::size_t line = 0; line < roster.names.size(); ++line) {
        const std::u16string& name = roster.names[line];
        if (name.size() > TADOQuery::kNameLimit) {
            throw Error(file + u"第 " + ToU16(static_cast<int>(line + 1)) + u" 行：" + NameTooLongMessage(name, name.size()));
        }
    }
    try {
        Transaction load(connection);
        for (const std::u16string& name : roster.names) query.AppendRecord(name, 0);
        load.Commit();
    } catch (const UnconfirmedChange&) {
        throw;
    } catch (const std::exception& error) {
        throw Error(file + u"的名字没有存进名单库：" + MessageOf(error));
    }
}

std::u16string CreateStore(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath,
                           const Roster* roster) {
    const std::filesystem::path temporary = TemporaryStorePath(storePath);
    RemoveTemporaryStore(storePath);
    std::u16string unconfirmed;
    try {
        const std::filesystem::path folder = storePath.parent_path();
        const std::u16string unwritable = kernel::FolderWriteError(folder);
        if (!unwritable.empty()) {
            throw Error(u"无法建立名单库“" + storePath.u16string() + u"”：文件夹“" + folder.u16string() +
                        u"”不能写入（" + unwritable + u"）");
        }
        Require(CreateJetDatabase(temporary.u16string(), u""));
        Require(ConnectJetDatabase(connection, temporary.u16string(), u""));
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
            unconfirmed = kernel::ReplaceFileAtomically(temporary, storePath);
        } catch (const std::exception& error) {
            throw Error(u"无法替换名单库“" + storePath.u16string() + u"”：" + MessageOf(error));
        }
    } catch (const std::exception& error) {
        query.Close();
        connection.Close();
        RemoveTemporaryStore(storePath);
        query.NoteOpenFailure(u"名单库没有建成：" + MessageOf(error));
        throw;
    }
    if (unconfirmed.empty()) return {};
    return u"新名单已换上名单库“" + storePath.u16string() + u"”，但磁盘没有确认写入（" + unconfirmed +
           u"）：断电后可能仍是原来的名单。请检查磁盘，再导入一次";
}

void OpenRosterView(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath) {
    ConnectJetDatabase(connection, storePath.u16string(), u"");
    OpenTable(query, kTableName);
    query.SetSort(kSortByCount);
}
