#include "store/jet.h"

#include <sqlite3.h>

#include <filesystem>
#include <optional>

#include "common/text.h"
#include "store/connection.h"
#include "store/connection_string.h"
#include "store/query.h"

namespace {

// Makes a new database file at path and writes its header; none, or why not.
std::optional<Error> WriteNewDatabase(const std::filesystem::path& path) {
    try {
        const DatabaseHandle db = OpenDatabase(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // A new database is written on its first change: write its header now, so
        // that the file is a database, not an empty file, when this returns.
        if (sqlite3_exec(db.get(), "PRAGMA user_version=0;", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return StoreError(db.get());
        }
        return std::nullopt;
    } catch (const Error& error) {
        return error;
    }
}

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
    const std::optional<Error> reason = WriteNewDatabase(path);
    if (!std::filesystem::exists(path, ec)) throw Error::Within(where + u"：", reason ? *reason : Error(u"文件没有建成"));
    if (reason) throw Error::Within(where + u"：", *reason);
}

Error g_lastError(u"名单库出错");

// Runs a routine's body: every failure, whatever it throws or when the body
// reports it, becomes false and the routine's last error, never one left from
// before.
template <typename Body>
bool Routine(Body body) {
    try {
        if (body()) return true;
        g_lastError = Error(u"名单库出错");
    } catch (const std::exception& error) {
        g_lastError = Error::Within(u"", error);
    } catch (...) {
        g_lastError = Error(u"名单库出错");
    }
    return false;
}

}  // namespace

const Error& LastStoreRoutineError() { return g_lastError; }

bool CreateJetDatabase(std::u16string path, std::u16string password) {
    return Routine([&] {
        CreateCatalog(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + ConnectionStringValue(path) +
                      u";Jet OLEDB:Database Password=" + ConnectionStringValue(password));
        return true;
    });
}

bool ConnectJetDatabase(TADOConnection& connection, std::u16string path, std::u16string password) {
    return Routine([&] {
        connection.LoginPrompt = false;
        connection.ConnectionString =
            u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" +
            ConnectionStringValue(path) + u";Jet OLEDB:Database Password=" + ConnectionStringValue(password);
        connection.Open();
        return connection.Connected();
    });
}

bool ExecSql(TADOQuery& query, std::u16string statement) {
    return Routine([&] {
        query.Close();
        query.SQL.clear();
        query.SQL.push_back(std::move(statement));
        query.ExecSQL();
        query.SQL.clear();
        return true;
    });
}

bool OpenTable(TADOQuery& query, std::u16string table) {
    const bool open = Routine([&] {
        query.Close();
        query.SQL.clear();
        query.SQL.push_back(u"select * from " + table);
        query.Open();
        return query.Active();
    });
    if (!open) query.NoteOpenFailure(g_lastError);
    return open;
}
