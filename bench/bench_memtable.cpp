// The in-memory table against its peers on the same rows, in one run:
//   Ours    TCustomMemTable through the data set API, as the framework uses it
//   SQLite  an in-memory SQLite database through prepared statements
//   Floor   a std::vector of plain structs with sorted index vectors: the least
//           work that gives the same result
// Rows: an integer key (a shuffled 1..N), a name drawn from a pool of N/10
// (so the name index has ties), a city, an amount and a date. Every peer reads
// the same UTF-8 source rows and makes its own copy of the text.
//
// Small: the same on a table of N/10 rows (the same number of lookups, the
// walk going over it ten times), for costs that should not grow with the
// table. TextIndex builds an index over texts sharing a long prefix
// ("Customer 123456", N/2 rows), as sorting a grid by a name column does.
//
// Each group's goals are written beside it, one per line, as
//   // goal: <A> <= <number>x <B>          time of A against time of B
//   // goal: <A> bytes_per_row <= <number> peak memory per row of A
// which bench/run reads for its table of ratios against goals.
//
// BENCH_ROWS overrides N (default 1,000,000), for profiling on fewer rows.

#include "BenchSupport.h"
#include "MemTable.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int LookupCount = 100'000;

int RowCount()
{
    static const int rows = BenchRowCount(1'000'000);
    return rows;
}

// ---------------------------------------------------------------- source rows

struct TRow
{
    int32_t Id = 0;
    std::string Name;
    std::string City;
    double Amount = 0;
    double Day = 0; // TDateTime: days since 1899-12-30
};

struct TSource
{
    std::vector<TRow> Rows;
    std::vector<int32_t> LookupKeys; // existing keys, the same sequence for every peer
};

std::string RandomWord(std::mt19937_64& random)
{
    std::uniform_int_distribution<int> length(10, 20);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string word(static_cast<size_t>(length(random)), ' ');
    for (char& c : word)
        c = static_cast<char>(letter(random));
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
    return word;
}

const TSource& Source()
{
    static const TSource source = [] {
        TSource s;
        const int n = RowCount();
        std::mt19937_64 random(20240601);
        std::vector<std::string> names(static_cast<size_t>(std::max(n / 10, 1)));
        for (std::string& name : names)
            name = RandomWord(random);
        std::vector<int32_t> ids(static_cast<size_t>(n));
        std::iota(ids.begin(), ids.end(), 1);
        std::shuffle(ids.begin(), ids.end(), random);
        std::uniform_int_distribution<size_t> pickName(0, names.size() - 1);
        std::uniform_int_distribution<int> cents(0, 10'000'000);
        std::uniform_int_distribution<int> day(36526, 36526 + 9000); // 2000-01-01 onwards
        s.Rows.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            s.Rows.push_back({ids[static_cast<size_t>(i)], names[pickName(random)], RandomWord(random),
                              cents(random) / 100.0, static_cast<double>(day(random))});
        std::uniform_int_distribution<size_t> pickRow(0, static_cast<size_t>(n) - 1);
        s.LookupKeys.reserve(LookupCount);
        for (int i = 0; i < LookupCount; ++i)
            s.LookupKeys.push_back(s.Rows[pickRow(random)].Id);
        return s;
    }();
    return source;
}

// The first tenth of the rows, with lookup keys of its own.
const TSource& SmallSource()
{
    static const TSource source = [] {
        const TSource& full = Source();
        TSource s;
        s.Rows.assign(full.Rows.begin(), full.Rows.begin() + std::max<std::ptrdiff_t>(full.Rows.size() / 10, 1));
        std::mt19937_64 random(20240602);
        std::uniform_int_distribution<size_t> pickRow(0, s.Rows.size() - 1);
        s.LookupKeys.reserve(LookupCount);
        for (int i = 0; i < LookupCount; ++i)
            s.LookupKeys.push_back(s.Rows[pickRow(random)].Id);
        return s;
    }();
    return source;
}

// A scratch folder for the files, removed at exit.
QString ScratchPath(const char* name)
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench_memtable-XXXXXX"));
    if (!dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    return dir.filePath(QString::fromLatin1(name));
}

// ---------------------------------------------------------------- Ours

struct TOurs
{
    std::unique_ptr<TCustomMemTable> Table;
    TField* Id = nullptr;
    TField* Name = nullptr;
    TField* City = nullptr;
    TField* Amount = nullptr;
    TField* Day = nullptr;

    void BindFields()
    {
        Id = Table->FieldByName(QStringLiteral("ID"));
        Name = Table->FieldByName(QStringLiteral("NAME"));
        City = Table->FieldByName(QStringLiteral("CITY"));
        Amount = Table->FieldByName(QStringLiteral("AMOUNT"));
        Day = Table->FieldByName(QStringLiteral("DAY"));
    }
};

const QString OursById = QStringLiteral("BY_ID");
const QString OursByName = QStringLiteral("BY_NAME");

TOurs LoadOurs(const TSource& source)
{
    TOurs ours;
    ours.Table = std::make_unique<TCustomMemTable>();
    TCustomMemTable& table = *ours.Table;
    table.FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
    table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
    table.FieldDefs().Add(QStringLiteral("CITY"), ftString, 20);
    table.FieldDefs().Add(QStringLiteral("AMOUNT"), ftFloat);
    table.FieldDefs().Add(QStringLiteral("DAY"), ftDate);
    table.AddIndex(OursById, QStringLiteral("ID"), ixUnique);
    table.AddIndex(OursByName, QStringLiteral("NAME"));
    table.Open();
    ours.BindFields();

    table.DisableControls();
    table.SetEnableIndexes(false);
    for (const TRow& row : source.Rows) {
        table.Append();
        ours.Id->SetAsInteger(row.Id);
        ours.Name->SetAsString(QString::fromUtf8(row.Name.data(), static_cast<qsizetype>(row.Name.size())));
        ours.City->SetAsString(QString::fromUtf8(row.City.data(), static_cast<qsizetype>(row.City.size())));
        ours.Amount->SetAsFloat(row.Amount);
        ours.Day->SetAsDateTime(row.Day);
        table.Post();
    }
    table.SetEnableIndexes(true);
    table.EnableControls();
    return ours;
}

// ---------------------------------------------------------------- SQLite

struct TSqliteClose
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using TSqliteDb = std::unique_ptr<sqlite3, TSqliteClose>;

struct TSqliteFinalize
{
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TSqliteFinalize>;

[[noreturn]] void SqliteFailed(sqlite3* db, const std::string& what)
{
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

TSqliteDb OpenSqlite(const std::string& name, int flags)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    TSqliteDb owner(db);
    if (rc != SQLITE_OK)
        SqliteFailed(db, "open " + name);
    return owner;
}

void Exec(sqlite3* db, const std::string& sql)
{
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        SqliteFailed(db, sql);
}

TStatement Prepare(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
        SqliteFailed(db, sql);
    return TStatement(statement);
}

// Sorts for index builds stay in memory, as the database does.
void TuneSqlite(sqlite3* db) { Exec(db, "PRAGMA temp_store = MEMORY"); }

TSqliteDb LoadSqlite(const TSource& source)
{
    TSqliteDb db = OpenSqlite(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    TuneSqlite(db.get());
    Exec(db.get(), "CREATE TABLE t (id INTEGER NOT NULL, name TEXT, city TEXT, amount REAL, day REAL)");
    Exec(db.get(), "BEGIN");
    {
        TStatement insert = Prepare(db.get(),
                                    "INSERT INTO t (id, name, city, amount, day) VALUES (?1, ?2, ?3, ?4, ?5)");
        sqlite3_stmt* s = insert.get();
        for (const TRow& row : source.Rows) {
            sqlite3_bind_int(s, 1, row.Id);
            sqlite3_bind_text(s, 2, row.Name.data(), static_cast<int>(row.Name.size()), SQLITE_STATIC);
            sqlite3_bind_text(s, 3, row.City.data(), static_cast<int>(row.City.size()), SQLITE_STATIC);
            sqlite3_bind_double(s, 4, row.Amount);
            sqlite3_bind_double(s, 5, row.Day);
            if (sqlite3_step(s) != SQLITE_DONE)
                SqliteFailed(db.get(), "insert");
            sqlite3_reset(s);
        }
    }
    Exec(db.get(), "COMMIT");
    Exec(db.get(), "CREATE UNIQUE INDEX t_id ON t (id)");
    Exec(db.get(), "CREATE INDEX t_name ON t (name)");
    return db;
}

int64_t SqliteCount(sqlite3* db)
{
    TStatement count = Prepare(db, "SELECT count(*) FROM t");
    if (sqlite3_step(count.get()) != SQLITE_ROW)
        SqliteFailed(db, "count");
    return sqlite3_column_int64(count.get(), 0);
}

// ---------------------------------------------------------------- Floor

struct TFloor
{
    std::vector<TRow> Rows;
    std::vector<uint32_t> ById;   // row numbers by key
    std::vector<uint32_t> ByName; // row numbers by name, ties in row order
};

void SortFloorIndexes(TFloor& floor)
{
    const auto& rows = floor.Rows;
    floor.ById.resize(rows.size());
    std::iota(floor.ById.begin(), floor.ById.end(), 0u);
    std::sort(floor.ById.begin(), floor.ById.end(), [&](uint32_t a, uint32_t b) { return rows[a].Id < rows[b].Id; });
    Check(std::adjacent_find(floor.ById.begin(), floor.ById.end(),
                             [&](uint32_t a, uint32_t b) { return rows[a].Id == rows[b].Id; })
              == floor.ById.end(),
          "duplicate key");
    floor.ByName.resize(rows.size());
    std::iota(floor.ByName.begin(), floor.ByName.end(), 0u);
    std::sort(floor.ByName.begin(), floor.ByName.end(), [&](uint32_t a, uint32_t b) {
        const int c = rows[a].Name.compare(rows[b].Name);
        return c < 0 || (c == 0 && a < b);
    });
}

TFloor LoadFloor(const TSource& source)
{
    TFloor floor;
    for (const TRow& row : source.Rows)
        floor.Rows.push_back(row);
    SortFloorIndexes(floor);
    return floor;
}

// ---------------------------------------------------------------- loaded once, shared by the families

TOurs& OursLoaded()
{
    static TOurs ours = LoadOurs(Source());
    return ours;
}

TOurs& SmallOursLoaded()
{
    static TOurs ours = LoadOurs(SmallSource());
    return ours;
}

sqlite3* SqliteLoaded()
{
    static TSqliteDb db = LoadSqlite(Source());
    return db.get();
}

// Not const: a const object would let the compiler hoist whole walks out of
// the timing loop.
TFloor& FloorLoaded()
{
    static TFloor floor = LoadFloor(Source());
    return floor;
}

// ================================================================ BulkLoad
// goal: BulkLoad/Ours <= 0.5x BulkLoad/SQLite
// goal: BulkLoad/Ours bytes_per_row <= 120

void BulkLoad_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        const TMemoryProbe probe;
        TOurs ours;
        for (auto _ : state) {
            ours = LoadOurs(source);
            benchmark::DoNotOptimize(ours.Table.get());
        }
        probe.Report(state, RowCount());
        Check(ours.Table->RecordCount() == RowCount(), "rows lost");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

void BulkLoad_SQLite(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        const TMemoryProbe probe;
        TSqliteDb db;
        for (auto _ : state) {
            db = LoadSqlite(source);
            benchmark::DoNotOptimize(db.get());
        }
        probe.Report(state, RowCount());
        Check(SqliteCount(db.get()) == RowCount(), "rows lost");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

void BulkLoad_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        const TSource& source = Source();
        const TMemoryProbe probe;
        TFloor floor;
        for (auto _ : state) {
            floor = LoadFloor(source);
            benchmark::DoNotOptimize(floor.Rows.data());
        }
        probe.Report(state, RowCount());
        Check(floor.Rows.size() == static_cast<size_t>(RowCount()), "rows lost");
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ================================================================ FindKey
// goal: FindKey/Ours <= 1.0x FindKey/SQLite
// goal: FindKey/Ours <= 3.0x FindKey/Floor
// goal: FindKey/Ours <= 2.0x FindKey/Small

void FindKeyIn(benchmark::State& state, TOurs& ours, const std::vector<int32_t>& keys)
{
    Guarded(state, [&] {
        TCustomMemTable& table = *ours.Table;
        table.SetIndexName(OursById);
        for (auto _ : state) {
            int64_t sum = 0;
            for (int32_t key : keys) {
                if (!table.FindKey({Variant(key)}))
                    throw std::runtime_error("key not found");
                sum += ours.Name->AsString().size();
            }
            benchmark::DoNotOptimize(sum);
        }
        state.SetItemsProcessed(state.iterations() * LookupCount);
    });
}

void FindKey_Ours(benchmark::State& state) { FindKeyIn(state, OursLoaded(), Source().LookupKeys); }

void FindKey_Small(benchmark::State& state) { FindKeyIn(state, SmallOursLoaded(), SmallSource().LookupKeys); }

void FindKey_SQLite(benchmark::State& state)
{
    Guarded(state, [&] {
        const std::vector<int32_t>& keys = Source().LookupKeys;
        sqlite3* db = SqliteLoaded();
        TStatement find = Prepare(db, "SELECT name FROM t WHERE id = ?1");
        sqlite3_stmt* s = find.get();
        for (auto _ : state) {
            int64_t sum = 0;
            for (int32_t key : keys) {
                sqlite3_bind_int(s, 1, key);
                if (sqlite3_step(s) != SQLITE_ROW)
                    throw std::runtime_error("key not found");
                benchmark::DoNotOptimize(sqlite3_column_text(s, 0));
                sum += sqlite3_column_bytes(s, 0);
                sqlite3_reset(s);
            }
            benchmark::DoNotOptimize(sum);
        }
        state.SetItemsProcessed(state.iterations() * LookupCount);
    });
}

void FindKey_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        const std::vector<int32_t>& keys = Source().LookupKeys;
        TFloor& floor = FloorLoaded();
        const auto& rows = floor.Rows;
        for (auto _ : state) {
            int64_t sum = 0;
            for (int32_t key : keys) {
                const auto at = std::lower_bound(floor.ById.begin(), floor.ById.end(), key,
                                                 [&](uint32_t row, int32_t k) { return rows[row].Id < k; });
                if (at == floor.ById.end() || rows[*at].Id != key)
                    throw std::runtime_error("key not found");
                sum += static_cast<int64_t>(rows[*at].Name.size());
            }
            benchmark::DoNotOptimize(sum);
        }
        state.SetItemsProcessed(state.iterations() * LookupCount);
    });
}

// ================================================================ WalkIndex
// goal: WalkIndex/Ours <= 3.0x WalkIndex/Floor
// goal: WalkIndex/Ours <= 1.5x WalkIndex/Small

// Walks the table by its name index rounds times, reading every field.
void WalkIndexOf(benchmark::State& state, TOurs& ours, int rounds)
{
    Guarded(state, [&] {
        TCustomMemTable& table = *ours.Table;
        table.SetIndexName(OursByName);
        for (auto _ : state) {
            int64_t sum = 0;
            double total = 0;
            table.DisableControls();
            for (int round = 0; round < rounds; ++round) {
                table.First();
                while (!table.Eof()) {
                    sum += ours.Id->AsInteger();
                    sum += ours.Name->AsStringView().size();
                    sum += ours.City->AsStringView().size();
                    total += ours.Amount->AsFloat();
                    total += ours.Day->AsDateTime();
                    table.Next();
                }
            }
            table.EnableControls();
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        state.SetItemsProcessed(state.iterations() * rounds * table.RecordCount());
    });
}

void WalkIndex_Ours(benchmark::State& state) { WalkIndexOf(state, OursLoaded(), 1); }

// As many rows walked as the whole table has.
void WalkIndex_Small(benchmark::State& state)
{
    WalkIndexOf(state, SmallOursLoaded(), std::max(1, RowCount() / SmallOursLoaded().Table->RecordCount()));
}

void WalkIndex_SQLite(benchmark::State& state)
{
    Guarded(state, [&] {
        sqlite3* db = SqliteLoaded();
        const std::string sql = "SELECT id, name, city, amount, day FROM t ORDER BY name";
        {
            // The walk must follow the index, not sort.
            TStatement plan = Prepare(db, "EXPLAIN QUERY PLAN " + sql);
            std::string detail;
            while (sqlite3_step(plan.get()) == SQLITE_ROW)
                detail += reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3)) + std::string(";");
            Check(detail.find("t_name") != std::string::npos && detail.find("TEMP B-TREE") == std::string::npos,
                  "SQLite does not walk the name index");
        }
        TStatement walk = Prepare(db, sql);
        sqlite3_stmt* s = walk.get();
        for (auto _ : state) {
            int64_t sum = 0;
            double total = 0;
            int rc;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                sum += sqlite3_column_int(s, 0);
                benchmark::DoNotOptimize(sqlite3_column_text(s, 1));
                sum += sqlite3_column_bytes(s, 1);
                benchmark::DoNotOptimize(sqlite3_column_text(s, 2));
                sum += sqlite3_column_bytes(s, 2);
                total += sqlite3_column_double(s, 3);
                total += sqlite3_column_double(s, 4);
            }
            if (rc != SQLITE_DONE)
                SqliteFailed(db, sql);
            sqlite3_reset(s);
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

void WalkIndex_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        TFloor& floor = FloorLoaded();
        for (auto _ : state) {
            benchmark::ClobberMemory();
            int64_t sum = 0;
            double total = 0;
            for (uint32_t i : floor.ByName) {
                const TRow& row = floor.Rows[i];
                sum += row.Id;
                sum += static_cast<int64_t>(row.Name.size());
                sum += static_cast<int64_t>(row.City.size());
                total += row.Amount;
                total += row.Day;
            }
            benchmark::DoNotOptimize(sum);
            benchmark::DoNotOptimize(total);
        }
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// ================================================================ TextIndex
// goal: TextIndex/Ours <= 2.0x TextIndex/Floor

// "Customer <n>" for a shuffled 1..rows: every text shares its first nine
// characters with every other.
const std::vector<QString>& CustomerNames()
{
    static const std::vector<QString> names = [] {
        std::vector<int> numbers(static_cast<size_t>(std::max(RowCount() / 2, 1)));
        std::iota(numbers.begin(), numbers.end(), 1);
        std::shuffle(numbers.begin(), numbers.end(), std::mt19937_64(20240603));
        std::vector<QString> texts;
        texts.reserve(numbers.size());
        for (int n : numbers)
            texts.push_back(QStringLiteral("Customer %1").arg(n));
        return texts;
    }();
    return names;
}

void TextIndex_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TCustomMemTable table;
        table.FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
        table.FieldDefs().Add(QStringLiteral("NAME"), ftString, 40);
        table.Open();
        TField* id = table.FieldByName(QStringLiteral("ID"));
        TField* name = table.FieldByName(QStringLiteral("NAME"));
        table.DisableControls();
        int next = 0;
        for (const QString& text : CustomerNames()) {
            table.Append();
            id->SetAsInteger(++next);
            name->SetAsString(text);
            table.Post();
        }
        for (auto _ : state) {
            state.PauseTiming();
            table.SetIndexFieldNames(QString());
            table.DeleteIndexes();
            state.ResumeTiming();
            table.SetIndexFieldNames(QStringLiteral("NAME"));
        }
        table.First();
        Check(name->AsString() == QStringLiteral("Customer 1"), "wrong order");
        state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(CustomerNames().size()));
    });
}

// What the index does, on a vector of the texts: a stable sort.
void TextIndex_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        for (auto _ : state) {
            state.PauseTiming();
            std::vector<QString> keys = CustomerNames();
            state.ResumeTiming();
            std::stable_sort(keys.begin(), keys.end());
            benchmark::DoNotOptimize(keys.data());
        }
        state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(CustomerNames().size()));
    });
}

// ================================================================ SaveLoad
// Save the loaded table to a file, then load the file into a new table that
// has both indexes ready. The file is removed before each round, untimed.
// The memory figures are those of the loaded copy.
// goal: SaveLoad/Ours <= 1.0x SaveLoad/SQLite
// goal: SaveLoad/Ours bytes_per_row <= 150

void SaveLoad_Ours(benchmark::State& state)
{
    Guarded(state, [&] {
        TCustomMemTable& table = *OursLoaded().Table;
        const QString path = ScratchPath("ours.dat");
        std::unique_ptr<TCustomMemTable> loaded;
        const TMemoryProbe probe;
        for (auto _ : state) {
            state.PauseTiming();
            QFile::remove(path);
            loaded.reset();
            state.ResumeTiming();
            table.SaveToFile(path);
            loaded = std::make_unique<TCustomMemTable>();
            loaded->LoadFromFile(path);
            benchmark::DoNotOptimize(loaded.get());
        }
        Check(loaded->RecordCount() == RowCount() && loaded->IndexDefs().Count() == 2, "rows lost");
        probe.Report(state, RowCount());
        state.counters["file_bytes_per_row"] = static_cast<double>(QFile(path).size()) / RowCount();
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// VACUUM INTO writes a compact copy of the database; the backup API copies its
// pages (indexes included) into a fresh in-memory database.
void SaveLoad_SQLite(benchmark::State& state)
{
    Guarded(state, [&] {
        sqlite3* db = SqliteLoaded();
        const QString path = ScratchPath("sqlite.db");
        const std::string file = path.toStdString();
        TStatement vacuum = Prepare(db, "VACUUM INTO ?1");
        TSqliteDb loaded;
        const TMemoryProbe probe;
        for (auto _ : state) {
            state.PauseTiming();
            QFile::remove(path);
            loaded.reset();
            state.ResumeTiming();
            sqlite3_bind_text(vacuum.get(), 1, file.c_str(), -1, SQLITE_STATIC);
            if (sqlite3_step(vacuum.get()) != SQLITE_DONE)
                SqliteFailed(db, "VACUUM INTO");
            sqlite3_reset(vacuum.get());
            const TSqliteDb saved = OpenSqlite(file, SQLITE_OPEN_READONLY);
            loaded = OpenSqlite(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            sqlite3_backup* backup = sqlite3_backup_init(loaded.get(), "main", saved.get(), "main");
            if (!backup)
                SqliteFailed(loaded.get(), "backup");
            sqlite3_backup_step(backup, -1);
            if (sqlite3_backup_finish(backup) != SQLITE_OK)
                SqliteFailed(loaded.get(), "backup");
            benchmark::DoNotOptimize(loaded.get());
        }
        Check(SqliteCount(loaded.get()) == RowCount(), "rows lost");
        probe.Report(state, RowCount());
        state.counters["file_bytes_per_row"] = static_cast<double>(QFile(path).size()) / RowCount();
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// The floor's file: the row count, each row's fields (strings with their
// length first), then both index vectors as they are, so nothing is sorted
// again on loading.
void WriteFloor(const TFloor& floor, const std::string& file)
{
    FILE* out = std::fopen(file.c_str(), "wb");
    Check(out, "cannot write the floor's file");
    std::unique_ptr<FILE, int (*)(FILE*)> closer(out, &std::fclose);
    const auto put = [&](const void* data, size_t size) {
        if (std::fwrite(data, 1, size, out) != size)
            throw std::runtime_error("write failed");
    };
    const auto putString = [&](const std::string& text) {
        const uint32_t length = static_cast<uint32_t>(text.size());
        put(&length, sizeof length);
        put(text.data(), text.size());
    };
    const uint64_t count = floor.Rows.size();
    put(&count, sizeof count);
    for (const TRow& row : floor.Rows) {
        put(&row.Id, sizeof row.Id);
        putString(row.Name);
        putString(row.City);
        put(&row.Amount, sizeof row.Amount);
        put(&row.Day, sizeof row.Day);
    }
    put(floor.ById.data(), floor.ById.size() * sizeof(uint32_t));
    put(floor.ByName.data(), floor.ByName.size() * sizeof(uint32_t));
    // On disk before saving returns, as the other two make sure.
    Check(std::fflush(out) == 0 && fdatasync(fileno(out)) == 0, "write failed");
    Check(std::fclose(closer.release()) == 0, "write failed");
}

TFloor ReadFloor(const std::string& file)
{
    FILE* in = std::fopen(file.c_str(), "rb");
    Check(in, "cannot read the floor's file");
    const std::unique_ptr<FILE, int (*)(FILE*)> closer(in, &std::fclose);
    const auto get = [&](void* data, size_t size) {
        if (std::fread(data, 1, size, in) != size)
            throw std::runtime_error("read failed");
    };
    const auto getString = [&](std::string& text) {
        uint32_t length = 0;
        get(&length, sizeof length);
        text.resize(length);
        get(text.data(), length);
    };
    TFloor floor;
    uint64_t count = 0;
    get(&count, sizeof count);
    floor.Rows.resize(count);
    for (TRow& row : floor.Rows) {
        get(&row.Id, sizeof row.Id);
        getString(row.Name);
        getString(row.City);
        get(&row.Amount, sizeof row.Amount);
        get(&row.Day, sizeof row.Day);
    }
    floor.ById.resize(count);
    floor.ByName.resize(count);
    get(floor.ById.data(), count * sizeof(uint32_t));
    get(floor.ByName.data(), count * sizeof(uint32_t));
    return floor;
}

void SaveLoad_Floor(benchmark::State& state)
{
    Guarded(state, [&] {
        TFloor& floor = FloorLoaded();
        const QString path = ScratchPath("floor.dat");
        const std::string file = path.toStdString();
        TFloor loaded;
        const TMemoryProbe probe;
        for (auto _ : state) {
            state.PauseTiming();
            QFile::remove(path);
            loaded = TFloor();
            state.ResumeTiming();
            WriteFloor(floor, file);
            loaded = ReadFloor(file);
            benchmark::DoNotOptimize(loaded.Rows.data());
        }
        Check(loaded.Rows.size() == static_cast<size_t>(RowCount()), "rows lost");
        probe.Report(state, RowCount());
        state.counters["file_bytes_per_row"] = static_cast<double>(QFile(path).size()) / RowCount();
        state.SetItemsProcessed(state.iterations() * RowCount());
    });
}

// One load or save of a million rows is long enough to time on its own; the
// repetitions give the median the ratio table uses.
void Whole(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->DisplayAggregatesOnly(true);
}

void Repeated(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->DisplayAggregatesOnly(true);
}

} // namespace

BENCHMARK(BulkLoad_Ours)->Name("BulkLoad/Ours")->Apply(Whole);
BENCHMARK(BulkLoad_SQLite)->Name("BulkLoad/SQLite")->Apply(Whole);
BENCHMARK(BulkLoad_Floor)->Name("BulkLoad/Floor")->Apply(Whole);

BENCHMARK(FindKey_Ours)->Name("FindKey/Ours")->Apply(Repeated);
BENCHMARK(FindKey_SQLite)->Name("FindKey/SQLite")->Apply(Repeated);
BENCHMARK(FindKey_Floor)->Name("FindKey/Floor")->Apply(Repeated);
BENCHMARK(FindKey_Small)->Name("FindKey/Small")->Apply(Repeated);

BENCHMARK(WalkIndex_Ours)->Name("WalkIndex/Ours")->Apply(Repeated);
BENCHMARK(WalkIndex_SQLite)->Name("WalkIndex/SQLite")->Apply(Repeated);
BENCHMARK(WalkIndex_Floor)->Name("WalkIndex/Floor")->Apply(Repeated);
BENCHMARK(WalkIndex_Small)->Name("WalkIndex/Small")->Apply(Repeated);

BENCHMARK(TextIndex_Ours)->Name("TextIndex/Ours")->Apply(Repeated);
BENCHMARK(TextIndex_Floor)->Name("TextIndex/Floor")->Apply(Repeated);

BENCHMARK(SaveLoad_Ours)->Name("SaveLoad/Ours")->Apply(Whole);
BENCHMARK(SaveLoad_SQLite)->Name("SaveLoad/SQLite")->Apply(Whole);
BENCHMARK(SaveLoad_Floor)->Name("SaveLoad/Floor")->Apply(Whole);

BENCHMARK_MAIN();
