#pragma once
// The four routines through which the draw window creates, connects, changes
// and reads its roster store. Each reports failure only through its result.

#include <string>

#include "common/error.h"

class TADOConnection;
class TADOQuery;

// Creates a new, empty store file at path.
bool CreateJetDatabase(std::u16string path, std::u16string password);
// Connects connection to the store at path; true when it is then connected.
bool ConnectJetDatabase(TADOConnection& connection, std::u16string path, std::u16string password);
// Runs statement as a command that returns no rows.
bool ExecSql(TADOQuery& query, std::u16string statement);
// Opens query on every row of table; true when it is then open.
bool OpenTable(TADOQuery& query, std::u16string table);

// Why the last of the four routines that failed did.
const Error& LastStoreRoutineError();

// The statement that makes the store's one table.
inline constexpr char16_t kCreateTableSql[] = u"create table cs(xm char(20),c int)";
inline constexpr char16_t kTableName[] = u"cs";
inline constexpr char16_t kSortByCount[] = u"c ASC";
