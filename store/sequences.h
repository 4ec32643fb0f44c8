#pragma once
// The fixed sequences built on the store routines: create a store, load a
// roster into it, open the roster view.

#include <filesystem>
#include <optional>
#include <vector>

#include "common/error.h"
#include "store/roster_file.h"

class TADOConnection;
class TADOQuery;

// Builds a store holding roster (or no rows) and puts it at storePath in one
// atomic step, replacing what was there. Until that step nothing at storePath
// changes; on failure no temporary file of its own is left (and no other
// import's is touched), and the error says what failed.
// Leaves the connection and the query closed. Returns none, or, when the new
// store has taken its place but the disk did not confirm it, the error that
// says so for the user.
std::optional<Error> CreateStore(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath,
                                 const Roster* roster);

// Appends every name of roster with c = 0 to the open query, in one
// transaction: every line goes in, or none does. Throws UnconfirmedChange
// when they are in but the disk did not confirm it.
void LoadRosterFile(TADOConnection& connection, TADOQuery& query, const Roster& roster);

// Connects to the store, opens every row of its table, sorted by ascending count.
void OpenRosterView(TADOConnection& connection, TADOQuery& query, const std::filesystem::path& storePath);

// The temporary stores beside storePath, and their journals: each import
// builds its new store under a name of its own ("cs.db.tmp-…") and holds it
// (kernel::FileHold) until it has taken the store's place or is removed.
std::vector<std::filesystem::path> TemporaryStoresBeside(const std::filesystem::path& storePath);
// Removes the temporary stores (and journals) that copies of the program
// left when they were killed; those a running copy holds stay.
void RemoveStaleTemporaryStores(const std::filesystem::path& storePath);
