#include "store/jet.h"

#include <sqlite3.h>

#include <filesystem>

#include "common/text.h"
#include "store/db.h"

namespace {

// The catalog's Create: a new, empty database file where the connection string says.
void CreateCatalog(const std::u16string& connectionString) {
    const ConnectionString parts = ParseConnectionString(connectionString);
    const std::filesystem::path path(parts.dataSource);
    const std::u16string where = u"无法建立名单库“" + path.u16string() + u"”";
    if (parts.dataSource.empty()) throw Error(where + u"：连接串里没有 Data Source");
    if (!parts.password.empty()) throw Error(where + u"：名单库不设密码");
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        throw Error(where + u"：文件已存在");
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   nullptr);
    std::u16string reason;
    if (rc != SQLITE_OK) reason = db ? StoreErrorReason(db) : Utf8ToUtf16(sqlite3_errstr(rc));
    // A new database is written on its first change: write its header now, so
    // that the file is a database, not an empty file, when this returns.
    if (rc == SQLITE_OK && sqlite3_exec(db, "PRAGMA user_version=0;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        reason = StoreErrorReason(db);
    }
    sqlite3_close_v2(db);
    if (!std::filesystem::exists(path, ec)) {
        throw Error(where + u"：" + (reason.empty() ? std::u16string(u"文件没有建成") : reason));
    }
    if (!reason.empty()) throw Error(where + u"：" + reason);
}

std::u16string g_lastError;

bool Failed(const std::exception& error) {
    g_lastError = MessageOf(error);
    return false;
}

}  // namespace

const std::u16string& LastStoreRoutineError() { return g_lastError; }

bool CreateJetDatabase(std::u16string path, std::u16string password) {
    try {
        CreateCatalog(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                      u";Jet OLEDB:Database Password=" + password);
        return true;
    } catch (const std::exception& error) {
        return Failed(error);
    } catch (...) {
        return false;
    }
}

bool ConnectJetDatabase(TADOConnection& connection, std::u16string path, std::u16string password) {
    try {
        connection.LoginPrompt = false;
        connection.ConnectionString =
            u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" +
            path + u";Jet OLEDB:Database Password=" + password;
        connection.Open();
        return connection.Connected();
    } catch (const std::exception& error) {
        return Failed(error);
    } catch (...) {
        return false;
    }
}

bool ExecSql(TADOQuery& query, std::u16string statement) {
    try {
        query.Close();
        query.SQL.clear();
        query.SQL.push_back(std::move(statement));
        query.ExecSQL();
        query.SQL.clear();
        return true;
    } catch (const std::exception& error) {
        return Failed(error);
    } catch (...) {
        return false;
    }
}

bool OpenTable(TADOQuery& query, std::u16string table) {
    try {
        query.Close();
        query.SQL.clear();
        query.SQL.push_back(u"select * from " + table);
        query.Open();
    } catch (const std::exception& error) {
        Failed(error);
        query.NoteOpenFailure(MessageOf(error));
    } catch (...) {
    }
    return query.Active();
}
