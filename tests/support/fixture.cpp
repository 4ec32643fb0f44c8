#include "tests/support/fixture.h"

#include <sqlite3.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

#include "common/application.h"
#include "common/state.h"
#include "common/text.h"

namespace fake {

void PrintTo(const StoredRow& row, std::ostream* out) { *out << "{" << Utf8(row.xm) << ", " << row.c << "}"; }

TempDir::TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("namewheel-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {
sqlite3* OpenOwn(const std::filesystem::path& store) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + store.string());
    }
    sqlite3_busy_timeout(db, 2000);
    return db;
}
}  // namespace

std::vector<StoredRow> StoredRows(const std::filesystem::path& store) {
    if (!std::filesystem::is_regular_file(store)) throw std::runtime_error("no store at " + store.string());
    sqlite3* db = OpenOwn(store);
    sqlite3_stmt* statement = nullptr;
    std::vector<StoredRow> rows;
    if (sqlite3_prepare_v2(db, "select xm, c from cs order by rowid", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, 0));
            rows.push_back(StoredRow{text ? std::u16string(text) : std::u16string(), sqlite3_column_int(statement, 1)});
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

void Sql(const std::filesystem::path& store, const std::string& statements) {
    sqlite3* db = OpenOwn(store);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error(message);
}

void MakeStore(const std::filesystem::path& store, const std::vector<StoredRow>& rows) {
    std::string sql = "create table cs(xm char(20),c int);";
    for (const StoredRow& row : rows) {
        std::string name = Utf8(row.xm);
        std::string quoted;
        for (char ch : name) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
        sql += "insert into cs values('" + quoted + "'," + std::to_string(row.c) + ");";
    }
    Sql(store, sql);
}

std::string Names(int count, const std::string& prefix) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += prefix + std::to_string(i) + "\n";
    return text;
}

std::string RunUnprivileged(const std::function<std::string()>& body) {
    int pipe_[2];
    if (pipe(pipe_) != 0) return "no pipe";
    const pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        close(pipe_[0]);
        alarm(30);  // a child that hangs ends, and the test fails
        std::string result;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            result = "cannot become nobody";
        } else {
            try {
                result = body();
            } catch (const std::exception& error) {
                result = std::string("threw: ") + error.what();
            }
        }
        for (std::size_t done = 0; done < result.size();) {
            const ssize_t n = write(pipe_[1], result.data() + done, result.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(pipe_[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
    close(pipe_[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child ended badly: " + result;
    return result;
}

void ProgramTest::SetUp() {
    desktop = std::make_unique<FakePlatform>(dir_.path() / "namewheel");
    desktop->badgeImage = platform::Image{48, 48, std::vector<std::uint32_t>(48 * 48, 0xFFFFA000)};
    InitApplication(*desktop);
    Spinning = true;  // FormCreate must set it
    ElapsedTicks = 77;
    ShownTicks = 77;
}

void ProgramTest::TearDown() {
    form2.reset();
    form1.reset();
}

void ProgramTest::Start() {
    form1 = std::make_unique<TForm1>(*desktop);
    form2 = std::make_unique<TForm2>(*desktop);
}

void ProgramTest::Spin(int steps) {
    desktop->onProcessMessages = [this, steps](int call) {
        if (call == steps) Press();
    };
    desktop->processCalls = 0;
    Press();
    desktop->onProcessMessages = nullptr;
}

}  // namespace fake
