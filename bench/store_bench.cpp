// Figures of the store and of the draw, taken through the draw window's own
// handlers on the recording fake desktop of the unit tests:
//
//   bench_store makestore FILE N [COUNTS]  a store of N names (counts 0, or 0..9 at random)
//   bench_store roster FILE N              a UTF-8 roster file of N names
//   bench_store import DIR N               N3Click against the sqlite3 shell
//   bench_store reset DIR N                N2Click against the sqlite3 shell
//   bench_store draw DIR N                 one recorded draw: lookup, post, commit
//   bench_store fair DIR                   fairness of the draw over 50 names
//   bench_store term DIR TABLE             a term of draws in a class of 45: the
//                                          count of each name, the program's rule
//                                          against a plain uniform pick, into TABLE
//
// Every figure goes out as "figure <name> <value> <unit>". A run whose handler
// reports an error, or whose result in the file is not what it should be,
// stops with a message and exit code 1.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Unit1/unit1.h"
#include "Unit2/unit2.h"
#include "common/application.h"
#include "common/state.h"
#include "common/text.h"
#include "tests/support/fake_platform.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_store: %s\n", what.c_str());
    std::exit(1);
}

void Figure(const char* name, double value, const char* unit, int decimals = 3) {
    std::printf("figure %s %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

double Median(std::vector<double> values) {
    if (values.empty()) Fail("no samples");
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The program's median time for a piece of work against the sqlite3 shell's
// for the same work: WHAT_HANDLER, WHAT_sqlite3_cli and their ratio.
void AgainstTheShell(const char* what, const char* handler, const std::vector<double>& program,
                     const std::vector<double>& shell) {
    const double a = Median(program);
    const double b = Median(shell);
    char name[64];
    std::snprintf(name, sizeof name, "%s_%s", what, handler);
    Figure(name, a, "s");
    std::snprintf(name, sizeof name, "%s_sqlite3_cli", what);
    Figure(name, b, "s");
    std::snprintf(name, sizeof name, "%s_ratio", what);
    Figure(name, a / b, "x", 2);
}

std::string Name(int index) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "学生%07d", index);
    return buffer;
}

// A connection of the bench's own, outside the program.
class Db {
public:
    explicit Db(const fs::path& file) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) Fail("cannot open " + file.string());
        sqlite3_busy_timeout(db_, 5000);
    }
    ~Db() { sqlite3_close(db_); }
    void Exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "?";
            sqlite3_free(message);
            Fail("sql failed: " + text + " in: " + sql.substr(0, 80));
        }
    }
    long long Scalar(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) Fail("bad query " + sql);
        long long value = 0;
        if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    }
    sqlite3* handle() { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// The table the program makes, filled the way any SQLite tool would fill it.
void MakeStore(const fs::path& file, int count, bool randomCounts) {
    fs::remove(file);
    Db db(file);
    db.Exec("create table cs(xm char(20),c int); begin;");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db.handle(), "insert into cs values(?, ?)", -1, &insert, nullptr);
    std::mt19937 random(std::random_device{}());
    for (int i = 1; i <= count; ++i) {
        const std::string name = Name(i);
        sqlite3_bind_text(insert, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, randomCounts ? static_cast<int>(random() % 10) : 0);
        if (sqlite3_step(insert) != SQLITE_DONE) Fail("insert failed");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    db.Exec("commit;");
}

void WriteRoster(const fs::path& file, int count) {
    std::ofstream out(file, std::ios::binary);
    for (int i = 1; i <= count; ++i) out << Name(i) << '\n';
    if (!out) Fail("cannot write " + file.string());
}

// Runs a command of the shell, timed.
double TimedShell(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const auto end = Clock::now();
    if (rc != 0) Fail("command failed: " + command);
    return Seconds(start, end);
}

std::string Quoted(const fs::path& file) { return "'" + file.string() + "'"; }

// The program as RunProgram makes it, on the fake desktop, in folder dir.
class Program {
public:
    explicit Program(const fs::path& dir) : desktop(dir / "namewheel") {
        desktop.badgeImage = platform::Image{48, 48, std::vector<std::uint32_t>(48 * 48, 0xFFFFA000)};
        InitApplication(desktop);
        form1 = std::make_unique<TForm1>(desktop);
        form2 = std::make_unique<TForm2>(desktop);
        RequireNoBox("start-up");
    }
    ~Program() {
        form2.reset();
        form1.reset();
    }
    void RequireNoBox(const std::string& when) const {
        if (!desktop.boxes.empty()) Fail(when + " reported: " + fake::Utf8(desktop.boxes.back()));
    }
    fake::FakeControl& Control(const std::string& name) {
        return static_cast<fake::FakeWindow&>(form1->window()).fakeControl(name);
    }
    void Press() { Control("btn1").click(); }
    std::string Label() { return fake::Utf8(Control("lbl1").text()); }

    // A whole spin: the starting press, then the stopping press inside step
    // `steps`; afterStop runs right after the stopping press returns.
    void Spin(int steps, const std::function<void()>& afterStop = {}) {
        desktop.processCalls = 0;
        desktop.onProcessMessages = [this, steps, &afterStop](int call) {
            if (call != steps) return;
            Press();
            if (afterStop) afterStop();
        };
        Press();
        desktop.onProcessMessages = nullptr;
        if (Spinning) Fail("the spin did not stop");
        RequireNoBox("a spin");
    }

    fake::FakePlatform desktop;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
};

// ---- import -----------------------------------------------------------------

void BenchImport(const fs::path& dir, int count) {
    const fs::path roster = dir / "roster.txt";
    WriteRoster(roster, count);
    const fs::path app = dir / "import-app";
    const fs::path reference = dir / "import-ref.db";
    const fs::path script = dir / "import.sql";
    {
        // The shell's own way to load a text file, in one transaction; its
        // .import fills a one-column staging table, the names then go to cs.
        std::ofstream out(script);
        out << "create table cs(xm char(20),c int);\n"
               "create temp table roster(xm);\n"
               "begin;\n"
               ".import "
            << roster.string()
            << " roster\n"
               "insert into cs select xm, 0 from roster;\n"
               "commit;\n";
    }
    std::vector<double> program;
    std::vector<double> shell;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(app);
        fs::create_directories(app);
        {
            Program p(app);  // no store yet: it makes an empty one
            p.desktop.dialogAnswers.push_back(roster.u16string());
            const auto start = Clock::now();
            p.form1->N3Click();
            program.push_back(Seconds(start, Clock::now()));
            if (p.form1->ADOQuery1.RecordCount() != count) Fail("the import left the wrong number of rows");
            p.RequireNoBox("the import");
        }
        if (Db(app / "cs.db").Scalar("select count(*) from cs where c = 0") != count) Fail("import: rows missing");

        fs::remove(reference);
        shell.push_back(TimedShell("sqlite3 -batch " + Quoted(reference) + " < " + Quoted(script)));
        if (Db(reference).Scalar("select count(*) from cs where c = 0") != count) Fail("shell import: rows missing");
    }
    AgainstTheShell("import", "n3click", program, shell);
    fs::remove_all(app);
    fs::remove(reference);
    fs::remove(roster);
}

// ---- count reset ------------------------------------------------------------

void BenchReset(const fs::path& dir, int count) {
    const fs::path app = dir / "reset-app";
    const fs::path template_ = dir / "reset-template.db";
    const fs::path reference = dir / "reset-ref.db";
    fs::remove_all(app);
    fs::create_directories(app);
    MakeStore(template_, count, true);
    std::vector<double> program;
    std::vector<double> shell;
    for (int round = 0; round < 3; ++round) {
        fs::copy_file(template_, app / "cs.db", fs::copy_options::overwrite_existing);
        fs::copy_file(template_, reference, fs::copy_options::overwrite_existing);
        {
            Program p(app);
            const auto start = Clock::now();
            p.form1->N2Click();
            program.push_back(Seconds(start, Clock::now()));
            if (p.desktop.boxes.size() != 1 || p.desktop.boxes[0] != u"提示: 已清除记录") {
                Fail("the reset did not end with its notice");
            }
        }
        if (Db(app / "cs.db").Scalar("select count(*) from cs where c <> 0") != 0) Fail("reset: counts left");
        shell.push_back(TimedShell("sqlite3 -batch " + Quoted(reference) + " 'update cs set c=0'"));
        if (Db(reference).Scalar("select count(*) from cs where c <> 0") != 0) Fail("shell reset: counts left");
    }
    AgainstTheShell("reset", "n2click", program, shell);
    fs::remove_all(app);
    fs::remove(template_);
    fs::remove(reference);
}

// ---- one recorded draw --------------------------------------------------------

void BenchDraw(const fs::path& dir, int count) {
    const fs::path app = dir / "draw-app";
    fs::remove_all(app);
    fs::create_directories(app);
    MakeStore(app / "cs.db", count, false);
    constexpr int kDraws = 101;
    std::vector<double> times;
    std::mt19937 random(std::random_device{}());
    {
        Program p(app);
        for (int i = 0; i < kDraws; ++i) {
            Clock::time_point stopped;
            // From the moment the stopping press has been handled until the
            // starting press returns: the lookup of the shown name, its edit,
            // post and commit.
            p.Spin(static_cast<int>(random() % 30) + 1, [&] { stopped = Clock::now(); });
            times.push_back(Seconds(stopped, Clock::now()) * 1000.0);
        }
    }
    if (Db(app / "cs.db").Scalar("select sum(c) from cs") != kDraws) Fail("draw: not every draw was recorded");
    Figure("draw_recorded_median", Median(times), "ms");
    std::sort(times.begin(), times.end());
    Figure("draw_recorded_p90", times[times.size() * 9 / 10], "ms");
    fs::remove_all(app);
}

// ---- fairness -------------------------------------------------------------------

// The regularized upper incomplete gamma function Q(a, x).
double UpperGammaQ(double a, double x) {
    if (x <= 0) return 1.0;
    const double logPrefix = -x + a * std::log(x) - std::lgamma(a);
    if (x < a + 1) {
        // Series of P(a, x).
        double term = 1.0 / a;
        double sum = term;
        for (int n = 1; n < 1000; ++n) {
            term *= x / (a + n);
            sum += term;
            if (std::fabs(term) < std::fabs(sum) * 1e-15) break;
        }
        return 1.0 - sum * std::exp(logPrefix);
    }
    // Continued fraction of Q(a, x), modified Lentz.
    const double tiny = 1e-300;
    double b = x + 1 - a;
    double c = 1 / tiny;
    double d = 1 / b;
    double h = d;
    for (int i = 1; i < 1000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-15) break;
    }
    return std::exp(logPrefix) * h;
}

// A fresh program folder whose 名单.txt holds names 1..count, from which the
// first start builds cs.db.
fs::path FolderWithRoster(const fs::path& app, int count) {
    fs::remove_all(app);
    fs::create_directories(app);
    std::ofstream out(app / "名单.txt", std::ios::binary);
    for (int i = 1; i <= count; ++i) out << Name(i) << '\n';
    if (!out.flush()) Fail("cannot write the roster in " + app.string());
    return app;
}

void BenchFairness(const fs::path& dir) {
    constexpr int kNames = 50;
    constexpr int kDraws = 5000;
    constexpr int kSkip = 50;
    constexpr int kRosters = 2000;
    constexpr int kMaxSteps = 200;  // the stopping press comes after 1..200 steps
    const fs::path app = FolderWithRoster(dir / "fair-app", kNames);
    std::mt19937 random(std::random_device{}());
    const auto steps = [&] { return static_cast<int>(random() % kMaxSteps) + 1; };

    // 5 000 draws in one roster.
    std::map<std::string, int> tally;
    for (int i = 1; i <= kNames; ++i) tally[Name(i)] = 0;
    int worst = 0;
    int drawsOverTwo = 0;
    {
        Program p(app);  // builds cs.db from 名单.txt
        if (p.form1->ADOQuery1.RecordCount() != kNames) Fail("fairness: the roster was not loaded");
        for (int draw = 1; draw <= kDraws; ++draw) {
            p.Spin(steps());
            const auto found = tally.find(p.Label());
            if (found == tally.end()) Fail("fairness: the label shows an unknown name " + p.Label());
            ++found->second;
            if (draw <= kSkip) continue;
            const auto [low, high] = std::minmax_element(tally.begin(), tally.end(),
                                                         [](auto& a, auto& b) { return a.second < b.second; });
            const int spread = high->second - low->second;
            worst = std::max(worst, spread);
            if (spread > 2) ++drawsOverTwo;
        }
    }
    {
        // What the file holds must be what the label showed.
        Db db(app / "cs.db");
        for (const auto& [name, drawn] : tally) {
            if (db.Scalar("select c from cs where xm = '" + name + "'") != drawn) {
                Fail("fairness: the store's count of " + name + " differs from the draws shown");
            }
        }
    }
    Figure("fairness_max_minus_min", worst, "draws", 0);
    Figure("fairness_draws_over_2", drawsOverTwo, "draws", 0);

    // The first draw of 2 000 fresh rosters: each time a new store is built
    // from the roster file at start-up, as on a first run.
    std::map<std::string, int> first;
    for (int roster = 0; roster < kRosters; ++roster) {
        fs::remove(app / "cs.db");
        Program p(app);
        p.Spin(steps());
        ++first[p.Label()];
    }
    double chiSquare = 0;
    const double expected = static_cast<double>(kRosters) / kNames;
    int seen = 0;
    for (int i = 1; i <= kNames; ++i) {
        const auto found = first.find(Name(i));
        const double observed = found == first.end() ? 0 : found->second;
        seen += static_cast<int>(observed);
        chiSquare += (observed - expected) * (observed - expected) / expected;
    }
    if (seen != kRosters) Fail("fairness: a first draw showed a name not in the roster");
    Figure("fairness_first_draw_chi2", chiSquare, "chi2_49df", 1);
    Figure("fairness_first_draw_p", UpperGammaQ((kNames - 1) / 2.0, chiSquare / 2.0), "p", 3);
    fs::remove_all(app);
}

// A term in a class of 45: 18 weeks of five school days with ten draws a day.
// The same number of draws by a plain uniform pick among all names beside it.
// TABLE gets one line a name, "NAME PROGRAM UNIFORM" (the counts), sorted by
// the program's count.
void BenchTerm(const fs::path& dir, const fs::path& table) {
    constexpr int kNames = 45;
    constexpr int kDraws = 18 * 5 * 10;
    constexpr int kMaxSteps = 200;
    const fs::path app = FolderWithRoster(dir / "term-app", kNames);
    std::mt19937 random(std::random_device{}());
    std::map<std::string, int> program;
    std::map<std::string, int> uniform;
    for (int i = 1; i <= kNames; ++i) program[Name(i)] = uniform[Name(i)] = 0;
    {
        Program p(app);
        if (p.form1->ADOQuery1.RecordCount() != kNames) Fail("term: the roster was not loaded");
        for (int draw = 0; draw < kDraws; ++draw) {
            p.Spin(static_cast<int>(random() % kMaxSteps) + 1);
            const auto found = program.find(p.Label());
            if (found == program.end()) Fail("term: the label shows an unknown name " + p.Label());
            ++found->second;
        }
    }
    std::uniform_int_distribution<int> anyone(1, kNames);
    for (int draw = 0; draw < kDraws; ++draw) ++uniform[Name(anyone(random))];

    {
        Db db(app / "cs.db");
        if (db.Scalar("select sum(c) from cs") != kDraws) Fail("term: the store does not hold every draw");
    }
    const auto gap = [](const std::map<std::string, int>& counts) {
        const auto [low, high] = std::minmax_element(counts.begin(), counts.end(),
                                                     [](auto& a, auto& b) { return a.second < b.second; });
        return high->second - low->second;
    };
    std::vector<std::string> names;
    for (const auto& entry : program) names.push_back(entry.first);
    std::stable_sort(names.begin(), names.end(),
                     [&](const std::string& a, const std::string& b) { return program[a] < program[b]; });
    std::ofstream out(table, std::ios::binary);
    for (const std::string& name : names) out << name << ' ' << program[name] << ' ' << uniform[name] << '\n';
    if (!out.flush()) Fail("term: cannot write " + table.string());
    Figure("term45_draws", kDraws, "draws", 0);
    Figure("term45_max_minus_min", gap(program), "draws", 0);
    Figure("term45_uniform_max_minus_min", gap(uniform), "draws", 0);
    fs::remove_all(app);
}

int Number(const char* text) {
    const int value = std::atoi(text);
    if (value <= 0) Fail(std::string("not a count: ") + text);
    return value;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "makestore" && argc >= 4) {
            MakeStore(argv[2], Number(argv[3]), argc > 4 && std::string(argv[4]) == "random");
        } else if (mode == "roster" && argc == 4) {
            WriteRoster(argv[2], Number(argv[3]));
        } else if (mode == "import" && argc == 4) {
            BenchImport(argv[2], Number(argv[3]));
        } else if (mode == "reset" && argc == 4) {
            BenchReset(argv[2], Number(argv[3]));
        } else if (mode == "draw" && argc == 4) {
            BenchDraw(argv[2], Number(argv[3]));
        } else if (mode == "fair" && argc == 3) {
            BenchFairness(argv[2]);
        } else if (mode == "term" && argc == 4) {
            BenchTerm(argv[2], argv[3]);
        } else {
            std::fprintf(stderr,
                         "usage: bench_store makestore FILE N [random] | roster FILE N | import DIR N | "
                         "reset DIR N | draw DIR N | fair DIR | term DIR TABLE\n");
            return 2;
        }
    } catch (const std::exception& error) {
        Fail(std::string("error: ") + error.what());
    }
    return 0;
}
