// The same workloads on a KAVRIN table and on two SQLite tables of the same schema, on the same machine in
// one run, in the manner of LevelDB's db_bench: each line gives the results and the ratios of the times
// (above 1: the engine took longer).
//
//   engine_vs_sqlite [--num=N] [--sizes=N1,N2,...] [--reads=R] [--runs=K] [--keyorder] [--dir=PATH]
//                    [--benchmarks=a,b,...]
//
// Schema: id integer (primary key), k1 integer (unique), k2 string 16 (unique), k3 integer (not
// unique), payload 100 bytes. No secondary key rises with the id. Benchmarks: fill0 fill3 readpk
// readsecondary scanpk scansecondary range100 update shared4. Rows are inserted in random id order unless
// --keyorder is given. Each size runs K times (default 3) and every figure printed is the median.
//
// Both sides are set up alike: neither syncs to disk (SQLite runs with synchronous=OFF and no rollback
// journal, or WAL with synchronous=OFF for shared4), tables and indexes are created outside the timing,
// and SQLite's page cache (cache_size) is the engine's cache budget for one open table. The engine opens
// its tables exclusively (no locks, no change checks) and SQLite runs each workload in one transaction;
// shared4 puts 4 processes inserting into a shared engine table and into an SQLite table in WAL mode,
// one change per call on both sides.
//
// Two SQLite references: "sqlite" keys its rows by id (rows stored in key order), "sqlite-ins" stores
// rows in insertion order with a UNIQUE index on id, as the engine does, so the cost of the layout and
// the cost of the engine can be told apart. The engine's columns add its system calls per operation
// (reads and writes, as counted by the platform layer). Both sides show the process's peak resident
// memory during the workload (freed memory is given back before each one), which counts the touched
// pages of mapped files, and its anonymous memory when the tables closed ("heap": the caches at their
// fullest, without the file pages that the kernel's cache holds for plain reads as well).
#include <malloc.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cache_budget.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "platform/io_counters.h"

namespace {

namespace fs = std::filesystem;
using kavrin::engine::TDataFile;
using kavrin::engine::TFieldDescriptor;
using kavrin::engine::TIndexDescriptor;

constexpr std::int16_t kId = 1, kK1 = 2, kK2 = 3, kK3 = 4, kPayload = 5;
constexpr std::uint8_t kK2Size = 16;
constexpr int kPayloadSize = 100;
constexpr int kRangeLength = 100;
constexpr int kSharedProcesses = 4;

struct Options {
  std::vector<std::int64_t> sizes{10000};
  std::int64_t reads = -1;  // -1: as many as records
  int runs = 3;
  bool keyOrder = false;
  std::string dir;
  std::set<std::string> benchmarks;  // empty: all
};

// --- The rows both sides store --------------------------------------------------------------------

struct Row {
  std::int32_t id;
  std::int32_t k1;
  std::array<char, kK2Size + 1> k2;
  std::int32_t k3;
  std::array<std::uint8_t, kPayloadSize> payload;
};

// Every column is a function of the id, so both sides hold the same rows and their sums must agree.
Row MakeRow(std::int32_t id, std::uint32_t salt = 0) {
  Row row{};
  row.id = id;
  // Odd multipliers are bijections modulo 2^32: the unique columns stay unique.
  row.k1 = static_cast<std::int32_t>(static_cast<std::uint32_t>(id) * 2654435761u);
  // A bijective mix of the id, so k2 follows no order of the ids at any table size.
  std::uint32_t mixed = static_cast<std::uint32_t>(id) * 0x9E3779B1u;
  mixed ^= mixed >> 15;
  mixed *= 0x85EBCA77u;
  mixed ^= mixed >> 13;
  std::snprintf(row.k2.data(), row.k2.size(), "K%08" PRIx32 "%07" PRIu32, mixed,
                static_cast<std::uint32_t>(id) % 9999991u);
  row.k3 = id % 1000;
  std::uint64_t x = static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ull + salt;
  for (auto& byte : row.payload) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    byte = static_cast<std::uint8_t>(x >> 56);
  }
  return row;
}

std::vector<std::int32_t> ShuffledIds(std::int64_t n, std::uint32_t seed) {
  std::vector<std::int32_t> ids(static_cast<std::size_t>(n));
  std::iota(ids.begin(), ids.end(), 1);
  std::mt19937 random(seed);
  std::shuffle(ids.begin(), ids.end(), random);
  return ids;
}

std::vector<std::int32_t> RandomIds(std::int64_t count, std::int64_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> pick(1, static_cast<std::int32_t>(n));
  std::vector<std::int32_t> ids(static_cast<std::size_t>(count));
  for (auto& id : ids) id = pick(random);
  return ids;
}

// --- Results --------------------------------------------------------------------------------------

struct Measure {
  double seconds = 0;
  std::int64_t ops = 0;
  std::int64_t checksum = 0;  // what the workload read, to compare the sides
  double reads = 0;           // system calls of the platform layer, for the whole workload
  double writes = 0;
  double peakMiB = 0;  // the process's peak resident memory while the workload ran
  double heapMiB = 0;  // its anonymous memory when the tables were closed, mapped files aside
};

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A field of /proc/self/status in KiB (VmRSS, VmHWM), 0 when it cannot be read.
double StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtod(line.c_str() + prefix.size(), nullptr);
  }
  return 0;
}

// The largest anonymous resident memory seen when a table closed: the caches at their fullest,
// without the pages of mapped files, which the kernel's file cache holds for plain reads too.
double g_heapKiB = 0;
double StatusKiB(const char* field);
void NoteHeap() { g_heapKiB = std::max(g_heapKiB, StatusKiB("RssAnon")); }

// Gives freed memory back and resets the peak resident size to the current one, so each workload's
// peak is its own.
void ResetPeakMemory() {
  malloc_trim(0);
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

Measure Timed(std::int64_t ops, const std::function<std::int64_t()>& work) {
  ResetPeakMemory();
  g_heapKiB = 0;
  const kavrin::platform::IoCounts before = kavrin::platform::GetIoCounts();
  const double start = Now();
  const std::int64_t checksum = work();
  const double seconds = Now() - start;
  const kavrin::platform::IoCounts after = kavrin::platform::GetIoCounts();
  Measure measure{seconds, ops, checksum};
  measure.reads = static_cast<double>(after.Reads - before.Reads);
  measure.writes = static_cast<double>(after.Writes - before.Writes);
  measure.peakMiB = StatusKiB("VmHWM") / 1024.0;
  measure.heapMiB = g_heapKiB / 1024.0;
  return measure;
}

// One workload's figures from one run.
struct Sample {
  std::string unit;
  std::int64_t ops = 0;
  double engineUs = 0, sqliteUs = 0, referenceUs = 0;
  double readsPerOp = 0, writesPerOp = 0;
  double enginePeakMiB = 0, sqlitePeakMiB = 0;
  double engineHeapMiB = 0, sqliteHeapMiB = 0;
};

// The samples of every workload of one size, in the order first run.
class Results {
 public:
  void Add(const std::string& name, const std::string& unit, const Measure& engine, const Measure& sqlite,
           const Measure& reference) {
    auto checksum = [&](const char* side, const Measure& other) {
      if (engine.checksum != other.checksum) {
        std::printf("  WARNING: %s read different data: engine checksum %" PRId64 ", %s %" PRId64 "\n", name.c_str(),
                    engine.checksum, side, other.checksum);
      }
    };
    checksum("sqlite", sqlite);
    checksum("sqlite-ins", reference);
    auto us = [](const Measure& m) { return m.seconds * 1e6 / static_cast<double>(m.ops); };
    Sample sample{unit,
                  engine.ops,
                  us(engine),
                  us(sqlite),
                  us(reference),
                  engine.reads / static_cast<double>(engine.ops),
                  engine.writes / static_cast<double>(engine.ops),
                  engine.peakMiB,
                  std::max(sqlite.peakMiB, reference.peakMiB),
                  engine.heapMiB,
                  std::max(sqlite.heapMiB, reference.heapMiB)};
    if (!samples_.contains(name)) order_.push_back(name);
    samples_[name].push_back(sample);
  }

  void Print() const {
    std::printf("%-14s %10s %10s %10s %8s %8s %9s %9s %15s %15s\n", "benchmark", "engine", "sqlite", "sqlite-ins",
                "/sqlite", "/ins", "reads/op", "writes/op", "engine MiB", "sqlite MiB");
    std::printf("%-14s %10s %10s %10s %8s %8s %9s %9s %15s %15s\n", "", "us/op", "us/op", "us/op", "ratio", "ratio",
                "engine", "engine", "peak / heap", "peak / heap");
    std::printf("%s\n", std::string(118, '-').c_str());
    for (const std::string& name : order_) {
      const std::vector<Sample>& all = samples_.at(name);
      auto median = [&](double Sample::*field) {
        std::vector<double> values;
        for (const Sample& sample : all) values.push_back(sample.*field);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
      };
      const double e = median(&Sample::engineUs), q = median(&Sample::sqliteUs), r = median(&Sample::referenceUs);
      std::printf("%-14s %10.3f %10.3f %10.3f %7.2fx %7.2fx %9.2f %9.2f %7.1f / %5.1f %7.1f / %5.1f   (%" PRId64
                  " %s)\n",
                  name.c_str(), e, q, r, e / q, e / r, median(&Sample::readsPerOp), median(&Sample::writesPerOp),
                  median(&Sample::enginePeakMiB), median(&Sample::engineHeapMiB), median(&Sample::sqlitePeakMiB),
                  median(&Sample::sqliteHeapMiB), all.front().ops, all.front().unit.c_str());
    }
    std::fflush(stdout);
  }

 private:
  std::vector<std::string> order_;
  std::map<std::string, std::vector<Sample>> samples_;
};

// --- The engine side ------------------------------------------------------------------------------

TFieldDescriptor Field(std::int16_t number, const char* name, std::uint8_t type, std::uint8_t size = 0) {
  TFieldDescriptor field;
  field.FieldNumber = number;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  return field;
}

TIndexDescriptor Index(const char* name, std::int16_t field, bool unique) {
  TIndexDescriptor index;
  index.Name = name;
  index.KeyFields[0] = field;
  index.Unique = unique;
  return index;
}

void CreateEngineTable(const std::string& path, bool secondaries) {
  std::vector<TFieldDescriptor> fields{
      Field(kId, "id", kavrin::engine::ftInteger), Field(kK1, "k1", kavrin::engine::ftInteger),
      Field(kK2, "k2", kavrin::engine::ftString, kK2Size), Field(kK3, "k3", kavrin::engine::ftInteger),
      Field(kPayload, "payload", kavrin::engine::ftBytes, kPayloadSize)};
  // Built whole rather than grown: GCC 12 at -O3 warns falsely on growing a vector of descriptors.
  std::vector<TIndexDescriptor> indexes =
      secondaries ? std::vector<TIndexDescriptor>{Index("", kId, true), Index("k1", kK1, true), Index("k2", kK2, true),
                                                  Index("k3", kK3, false)}
                  : std::vector<TIndexDescriptor>{Index("", kId, true)};
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.CreateTable(false, "", indexes, fields, 512, "benchmark");
}

class EngineTable {
 public:
  EngineTable(const std::string& path, bool exclusive) {
    table_.SetExclusive(exclusive);
    table_.SetFileName(path);
    table_.Open();
    image_.resize(static_cast<std::size_t>(table_.RecordSize()));
    probe_.resize(image_.size());
  }

  void Insert(const Row& row) {
    table_.InitRecord(image_.data());
    Fill(image_.data(), row);
    table_.InsertRecord(image_.data());
  }

  // The k3 of the record found, or -1 when none was.
  std::int64_t FindById(std::int32_t id) {
    table_.InitRecord(probe_.data());
    table_.SetField(kId, probe_.data(), &id);
    if (!table_.FindKey(false, probe_.data(), image_.data(), 0, false, 0)) return -1;
    return Int(kK3, image_.data());
  }
  std::int64_t FindByK1(std::int32_t k1) {
    table_.InitRecord(probe_.data());
    table_.SetField(kK1, probe_.data(), &k1);
    if (!table_.FindKey(false, probe_.data(), image_.data(), 0, false, 0)) return -1;
    return Int(kK3, image_.data());
  }

  // Records walked and the sum of their ids and k3 values.
  std::pair<std::int64_t, std::int64_t> Scan() {
    std::int64_t count = 0, sum = 0;
    table_.GotoBOF();
    while (table_.Next(image_.data()) == 0) {
      ++count;
      sum += Int(kId, image_.data()) + Int(kK3, image_.data());
    }
    return {count, sum};
  }

  std::pair<std::int64_t, std::int64_t> Range(std::int32_t first, std::int32_t last) {
    table_.InitRecord(probe_.data());
    table_.SetField(kId, probe_.data(), &first);
    std::vector<std::uint8_t> end(image_.size());
    table_.InitRecord(end.data());
    table_.SetField(kId, end.data(), &last);
    table_.SetRange(false, probe_.data(), 1, end.data(), 1);
    const auto result = Scan();
    table_.CancelRange();
    return result;
  }

  bool UpdatePayload(std::int32_t id, std::uint32_t salt) {
    if (FindById(id) < 0) return false;
    table_.GetCurrent(image_.data(), true);
    const Row row = MakeRow(id, salt);
    table_.SetField(kPayload, image_.data(), row.payload.data());
    table_.UpdateRecord(image_.data(), true);
    return true;
  }

  void SelectIndex(std::uint8_t index) { table_.SelectIndex(index); }
  void Close() {
    NoteHeap();
    table_.Close();
  }
  ~EngineTable() { NoteHeap(); }

 private:
  void Fill(std::uint8_t* image, const Row& row) {
    table_.SetField(kId, image, &row.id);
    table_.SetField(kK1, image, &row.k1);
    table_.SetField(kK2, image, row.k2.data());
    table_.SetField(kK3, image, &row.k3);
    table_.SetField(kPayload, image, row.payload.data());
  }
  std::int32_t Int(std::int16_t field, const std::uint8_t* image) const {
    std::int32_t value = 0;
    bool isNull = true;
    table_.GetField(field, image, isNull, &value);
    return value;
  }

  TDataFile table_;
  std::vector<std::uint8_t> image_;
  std::vector<std::uint8_t> probe_;
};

// --- The SQLite side ------------------------------------------------------------------------------

[[noreturn]] void SqliteFailed(sqlite3* db, const char* what) {
  throw std::runtime_error(std::string("sqlite: ") + what + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) SqliteFailed(db, sql);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* operator*() const { return statement_; }
  // One step; true while rows come.
  bool Step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) SqliteFailed(db_, "step");
    return false;
  }
  void Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

class SqliteTable {
 public:
  explicit SqliteTable(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) SqliteFailed(db_, "open");
    sqlite3_busy_timeout(db_, 60000);
  }
  ~SqliteTable() {
    NoteHeap();
    sqlite3_close(db_);
  }
  SqliteTable(const SqliteTable&) = delete;
  SqliteTable& operator=(const SqliteTable&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(std::string("sqlite: ") + sql + ": " + text);
    }
  }

  // The settings of every connection: no sync, no rollback journal (WAL for shared use), and a page
  // cache of the engine's budget.
  void Configure(bool shared, std::int64_t cacheBytes) {
    Exec(shared ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=OFF");
    Exec("PRAGMA synchronous=OFF");
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(std::max<std::int64_t>(1, cacheBytes / 1024));
    Exec(cache.c_str());
  }

  // Keyed by id (rows in key order), or in insertion order with a UNIQUE index on id as the engine.
  void Create(bool secondaries, bool insertionOrder) {
    Exec(insertionOrder ? "CREATE TABLE t(id INTEGER NOT NULL UNIQUE, k1 INTEGER NOT NULL, k2 TEXT NOT NULL, "
                          "k3 INTEGER NOT NULL, payload BLOB NOT NULL)"
                        : "CREATE TABLE t(id INTEGER PRIMARY KEY, k1 INTEGER NOT NULL, k2 TEXT NOT NULL, "
                          "k3 INTEGER NOT NULL, payload BLOB NOT NULL)");
    if (secondaries) {
      Exec("CREATE UNIQUE INDEX t_k1 ON t(k1)");
      Exec("CREATE UNIQUE INDEX t_k2 ON t(k2)");
      Exec("CREATE INDEX t_k3 ON t(k3)");
    }
  }

  void Insert(Statement& insert, const Row& row) {
    sqlite3_bind_int(*insert, 1, row.id);
    sqlite3_bind_int(*insert, 2, row.k1);
    sqlite3_bind_text(*insert, 3, row.k2.data(), -1, SQLITE_STATIC);
    sqlite3_bind_int(*insert, 4, row.k3);
    sqlite3_bind_blob(*insert, 5, row.payload.data(), kPayloadSize, SQLITE_STATIC);
    insert.Step();
    insert.Reset();
  }

  std::int64_t FindOne(Statement& query, std::int32_t key) {
    sqlite3_bind_int(*query, 1, key);
    std::int64_t k3 = -1;
    if (query.Step()) k3 = RowChecksumK3(query);
    query.Reset();
    return k3;
  }

  static std::int64_t RowChecksumK3(Statement& query) {
    // Every column is read, as the engine copies the whole record.
    (void)sqlite3_column_int(*query, 0);
    (void)sqlite3_column_int(*query, 1);
    (void)sqlite3_column_text(*query, 2);
    (void)sqlite3_column_blob(*query, 4);
    return sqlite3_column_int(*query, 3);
  }

  std::pair<std::int64_t, std::int64_t> Walk(Statement& query) {
    std::int64_t count = 0, sum = 0;
    while (query.Step()) {
      ++count;
      const std::int64_t k3 = RowChecksumK3(query);
      sum += sqlite3_column_int(*query, 0) + k3;
    }
    query.Reset();
    return {count, sum};
  }

  sqlite3* Db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

constexpr const char* kSelectColumns = "SELECT id, k1, k2, k3, payload FROM t";

// --- Workloads --------------------------------------------------------------------------------------

// The cache budget of one open engine table (its record, blob block and index page caches), which
// SQLite's page cache is given as well.
std::int64_t EngineCacheBudget() { return static_cast<std::int64_t>(kavrin::engine::TableCacheBudget()); }

class Run {
 public:
  Run(const Options& options, std::int64_t n, Results& results) : options_(options), n_(n), results_(results) {
    reads_ = options.reads > 0 ? options.reads : n;
    char name[32];
    std::snprintf(name, sizeof name, "n%" PRId64, n);
    dir_ = fs::path(options.dir) / name;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Run() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs the wanted workloads; the sizes of the files they left.
  std::string All() {
    if (Wanted("fill0")) Fill(false);
    const bool needFilled = Wanted("readpk") || Wanted("readsecondary") || Wanted("scanpk") ||
                            Wanted("scansecondary") || Wanted("range100") || Wanted("update");
    if (Wanted("fill3") || needFilled) Fill(true);
    if (Wanted("readpk")) ReadByPrimary();
    if (Wanted("readsecondary")) ReadBySecondary();
    if (Wanted("scanpk")) ScanPrimary();
    if (Wanted("scansecondary")) ScanSecondary();
    if (Wanted("range100")) Ranges();
    if (Wanted("update")) Updates();
    if (Wanted("shared4")) Shared();
    return "files: engine " + SizeText(EngineBytes("t3")) + ", sqlite " + SizeText(SqliteBytes("t3.db")) +
           ", sqlite-ins " + SizeText(SqliteBytes("t3i.db")) + " (3 secondary indexes)";
  }

  std::int64_t Reads() const { return reads_; }
  std::int64_t RangeCount() const { return std::max<std::int64_t>(1, reads_ / 10); }

 private:
  using SqliteWork = std::function<std::int64_t(SqliteTable&)>;

  bool Wanted(const char* name) const { return options_.benchmarks.empty() || options_.benchmarks.contains(name); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::int64_t EngineBytes(const std::string& stem) const {
    std::int64_t total = 0;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      std::error_code error;
      const auto size = fs::file_size(dir_ / (stem + ext), error);
      if (!error) total += static_cast<std::int64_t>(size);
    }
    return total;
  }
  std::int64_t SqliteBytes(const std::string& name) const {
    std::error_code error;
    const auto size = fs::file_size(dir_ / name, error);
    return error ? 0 : static_cast<std::int64_t>(size);
  }
  static std::string SizeText(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
  }

  // The same work on both SQLite tables of a stem: keyed by id, then in insertion order.
  std::pair<Measure, Measure> OnSqlite(const std::string& stem, std::int64_t ops, const SqliteWork& work) {
    auto one = [&](const std::string& file) {
      return Timed(ops, [&] {
        SqliteTable db(Path(file));
        db.Configure(false, EngineCacheBudget());
        return work(db);
      });
    };
    Measure keyed = one(stem + ".db");
    Measure inserted = one(stem + "i.db");
    return {keyed, inserted};
  }

  void Report(const char* name, const char* unit, const Measure& engine, const std::pair<Measure, Measure>& sqlite) {
    results_.Add(name, unit, engine, sqlite.first, sqlite.second);
  }

  std::vector<std::int32_t> FillOrder(std::uint32_t seed) const {
    if (!options_.keyOrder) return ShuffledIds(n_, seed);
    std::vector<std::int32_t> ids(static_cast<std::size_t>(n_));
    std::iota(ids.begin(), ids.end(), 1);
    return ids;
  }

  void Fill(bool secondaries) {
    const std::string stem = secondaries ? "t3" : "t0";
    const std::vector<std::int32_t> order = FillOrder(301);
    CreateEngineTable(Path(stem + ".DAT"), secondaries);
    for (bool insertionOrder : {false, true}) {
      SqliteTable db(Path(stem + (insertionOrder ? "i.db" : ".db")));
      db.Configure(false, EngineCacheBudget());
      db.Create(secondaries, insertionOrder);
    }
    const Measure engine = Timed(n_, [&] {
      EngineTable table(Path(stem + ".DAT"), true);
      for (std::int32_t id : order) table.Insert(MakeRow(id));
      table.Close();
      return std::int64_t{0};
    });
    const auto sqlite = OnSqlite(stem, n_, [&](SqliteTable& db) {
      db.Exec("BEGIN");
      Statement insert(db.Db(), "INSERT INTO t VALUES (?, ?, ?, ?, ?)");
      for (std::int32_t id : order) db.Insert(insert, MakeRow(id));
      db.Exec("COMMIT");
      return std::int64_t{0};
    });
    Report(secondaries ? "fill3" : "fill0", "inserts", engine, sqlite);
  }

  void ReadByPrimary() {
    const std::vector<std::int32_t> ids = RandomIds(reads_, n_, 302);
    const Measure engine = Timed(reads_, [&] {
      EngineTable table(Path("t3.DAT"), true);
      std::int64_t sum = 0;
      for (std::int32_t id : ids) sum += table.FindById(id);
      return sum;
    });
    const auto sqlite = OnSqlite("t3", reads_, [&](SqliteTable& db) {
      Statement query(db.Db(), (std::string(kSelectColumns) + " WHERE id = ?").c_str());
      db.Exec("BEGIN");
      std::int64_t sum = 0;
      for (std::int32_t id : ids) sum += db.FindOne(query, id);
      db.Exec("COMMIT");
      return sum;
    });
    Report("readpk", "lookups", engine, sqlite);
  }

  void ReadBySecondary() {
    const std::vector<std::int32_t> ids = RandomIds(reads_, n_, 303);
    const Measure engine = Timed(reads_, [&] {
      EngineTable table(Path("t3.DAT"), true);
      table.SelectIndex(1);
      std::int64_t sum = 0;
      for (std::int32_t id : ids) sum += table.FindByK1(MakeRow(id).k1);
      return sum;
    });
    const auto sqlite = OnSqlite("t3", reads_, [&](SqliteTable& db) {
      Statement query(db.Db(), (std::string(kSelectColumns) + " WHERE k1 = ?").c_str());
      db.Exec("BEGIN");
      std::int64_t sum = 0;
      for (std::int32_t id : ids) sum += db.FindOne(query, MakeRow(id).k1);
      db.Exec("COMMIT");
      return sum;
    });
    Report("readsecondary", "lookups", engine, sqlite);
  }

  void ScanPrimary() {
    const Measure engine = Timed(n_, [&] {
      EngineTable table(Path("t3.DAT"), true);
      return table.Scan().second;
    });
    const auto sqlite = OnSqlite("t3", n_, [&](SqliteTable& db) {
      Statement query(db.Db(), (std::string(kSelectColumns) + " ORDER BY id").c_str());
      return db.Walk(query).second;
    });
    Report("scanpk", "records", engine, sqlite);
  }

  void ScanSecondary() {
    const Measure engine = Timed(n_, [&] {
      EngineTable table(Path("t3.DAT"), true);
      table.SelectIndex(2);
      return table.Scan().second;
    });
    const auto sqlite = OnSqlite("t3", n_, [&](SqliteTable& db) {
      Statement query(db.Db(), (std::string(kSelectColumns) + " ORDER BY k2").c_str());
      return db.Walk(query).second;
    });
    Report("scansecondary", "records", engine, sqlite);
  }

  void Ranges() {
    const std::int64_t count = RangeCount();
    const std::vector<std::int32_t> starts = RandomIds(count, std::max<std::int64_t>(1, n_ - kRangeLength + 1), 304);
    const Measure engine = Timed(count, [&] {
      EngineTable table(Path("t3.DAT"), true);
      std::int64_t sum = 0;
      for (std::int32_t first : starts) sum += table.Range(first, first + kRangeLength - 1).second;
      return sum;
    });
    const auto sqlite = OnSqlite("t3", count, [&](SqliteTable& db) {
      Statement query(db.Db(), (std::string(kSelectColumns) + " WHERE id BETWEEN ? AND ? ORDER BY id").c_str());
      db.Exec("BEGIN");
      std::int64_t sum = 0;
      for (std::int32_t first : starts) {
        sqlite3_bind_int(*query, 1, first);
        sqlite3_bind_int(*query, 2, first + kRangeLength - 1);
        sum += db.Walk(query).second;
      }
      db.Exec("COMMIT");
      return sum;
    });
    Report("range100", "ranges", engine, sqlite);
  }

  void Updates() {
    const std::vector<std::int32_t> ids = RandomIds(reads_, n_, 305);
    const Measure engine = Timed(reads_, [&] {
      EngineTable table(Path("t3.DAT"), true);
      std::int64_t done = 0;
      for (std::size_t i = 0; i < ids.size(); ++i) {
        done += table.UpdatePayload(ids[i], static_cast<std::uint32_t>(i + 1));
      }
      table.Close();
      return done;
    });
    const auto sqlite = OnSqlite("t3", reads_, [&](SqliteTable& db) {
      db.Exec("BEGIN");
      Statement update(db.Db(), "UPDATE t SET payload = ? WHERE id = ?");
      std::int64_t done = 0;
      for (std::size_t i = 0; i < ids.size(); ++i) {
        const Row row = MakeRow(ids[i], static_cast<std::uint32_t>(i + 1));
        sqlite3_bind_blob(*update, 1, row.payload.data(), kPayloadSize, SQLITE_STATIC);
        sqlite3_bind_int(*update, 2, ids[i]);
        update.Step();
        done += sqlite3_changes(db.Db());
        update.Reset();
      }
      db.Exec("COMMIT");
      return done;
    });
    Report("update", "updates", engine, sqlite);
  }

  // Forks the processes, each running work(process) on its share; the wall time of them all, with the
  // system calls of the children (sent back through a pipe) and the largest peak memory among them.
  static Measure InProcesses(std::int64_t ops, const std::function<void(int)>& work) {
    int gate[2];
    int report[2];
    if (pipe(gate) != 0 || pipe(report) != 0) throw std::runtime_error("pipe failed");
    std::vector<pid_t> children;
    for (int p = 0; p < kSharedProcesses; ++p) {
      const pid_t pid = fork();
      if (pid < 0) throw std::runtime_error("fork failed");
      if (pid == 0) {
        close(gate[1]);
        close(report[0]);
        char byte;
        while (read(gate[0], &byte, 1) < 0) {
        }
        int status = 0;
        ResetPeakMemory();
        g_heapKiB = 0;
        const kavrin::platform::IoCounts before = kavrin::platform::GetIoCounts();
        try {
          work(p);
        } catch (const std::exception& error) {
          std::fprintf(stderr, "process %d: %s\n", p, error.what());
          status = 1;
        }
        const kavrin::platform::IoCounts after = kavrin::platform::GetIoCounts();
        const double figures[4] = {static_cast<double>(after.Reads - before.Reads),
                                   static_cast<double>(after.Writes - before.Writes), StatusKiB("VmHWM") / 1024.0,
                                   g_heapKiB / 1024.0};
        if (write(report[1], figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) status = 1;
        _exit(status);
      }
      children.push_back(pid);
    }
    close(gate[0]);
    close(report[1]);
    const double start = Now();
    close(gate[1]);
    bool failed = false;
    for (pid_t pid : children) {
      int status = 0;
      waitpid(pid, &status, 0);
      failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    Measure measure{Now() - start, ops, 0};
    double figures[4];
    while (read(report[0], figures, sizeof figures) == static_cast<ssize_t>(sizeof figures)) {
      measure.reads += figures[0];
      measure.writes += figures[1];
      measure.peakMiB = std::max(measure.peakMiB, figures[2]);
      measure.heapMiB = std::max(measure.heapMiB, figures[3]);
    }
    close(report[0]);
    if (failed) throw std::runtime_error("a shared-mode process failed");
    return measure;
  }

  void Shared() {
    const std::vector<std::int32_t> order = FillOrder(306);
    auto share = [&](int p) {
      const std::size_t begin = order.size() * static_cast<std::size_t>(p) / kSharedProcesses;
      const std::size_t end = order.size() * static_cast<std::size_t>(p + 1) / kSharedProcesses;
      return std::make_pair(begin, end);
    };
    CreateEngineTable(Path("s3.DAT"), true);
    Measure engine = InProcesses(n_, [&](int p) {
      EngineTable table(Path("s3.DAT"), false);
      const auto [begin, end] = share(p);
      for (std::size_t i = begin; i < end; ++i) table.Insert(MakeRow(order[i]));
      table.Close();
    });
    auto onSqlite = [&](const std::string& file, bool insertionOrder) {
      {
        SqliteTable db(Path(file));
        db.Configure(true, EngineCacheBudget());
        db.Create(true, insertionOrder);
      }
      Measure measure = InProcesses(n_, [&](int p) {
        SqliteTable db(Path(file));
        db.Configure(true, EngineCacheBudget());
        Statement insert(db.Db(), "INSERT INTO t VALUES (?, ?, ?, ?, ?)");
        const auto [begin, end] = share(p);
        for (std::size_t i = begin; i < end; ++i) db.Insert(insert, MakeRow(order[i]));
      });
      measure.checksum = CountSqlite(Path(file));
      return measure;
    };
    const Measure keyed = onSqlite("s3.db", false);
    const Measure inserted = onSqlite("s3i.db", true);
    engine.checksum = CountEngine(Path("s3.DAT"));
    Report("shared4", "inserts", engine, {keyed, inserted});
    if (engine.checksum != n_) {
      std::printf("  WARNING: the shared engine table holds %" PRId64 " records\n", engine.checksum);
    }
  }

  static std::int64_t CountEngine(const std::string& path) {
    EngineTable table(path, true);
    return table.Scan().first;
  }
  static std::int64_t CountSqlite(const std::string& path) {
    SqliteTable db(path);
    Statement query(db.Db(), "SELECT count(*) FROM t");
    query.Step();
    return sqlite3_column_int64(*query, 0);
  }

  const Options& options_;
  std::int64_t n_;
  std::int64_t reads_;
  fs::path dir_;
  Results& results_;
};

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = text.find(',', from);
    const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (!part.empty()) parts.push_back(part);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return parts;
}

std::int64_t Number(const std::string& text, const char* flag) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0) throw std::invalid_argument(std::string("bad value for ") + flag);
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* flag) -> std::optional<std::string> {
      const std::string prefix = std::string(flag) + "=";
      if (arg.rfind(prefix, 0) != 0) return std::nullopt;
      return arg.substr(prefix.size());
    };
    if (auto v = value("--num")) {
      options.sizes = {Number(*v, "--num")};
    } else if (auto v = value("--sizes")) {
      options.sizes.clear();
      for (const std::string& part : SplitCommas(*v)) options.sizes.push_back(Number(part, "--sizes"));
    } else if (auto v = value("--reads")) {
      options.reads = Number(*v, "--reads");
    } else if (auto v = value("--runs")) {
      options.runs = static_cast<int>(std::min<std::int64_t>(Number(*v, "--runs"), 99));
    } else if (arg == "--keyorder") {
      options.keyOrder = true;
    } else if (auto v = value("--dir")) {
      options.dir = *v;
    } else if (auto v = value("--benchmarks")) {
      for (const std::string& part : SplitCommas(*v)) options.benchmarks.insert(part);
    } else {
      throw std::invalid_argument("unknown argument " + arg);
    }
  }
  if (options.sizes.empty()) throw std::invalid_argument("no sizes");
  for (std::int64_t n : options.sizes) {
    if (n > 0x7FFFFFF0) throw std::invalid_argument("a size does not fit the 32-bit keys");
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr,
                 "%s\nusage: %s [--num=N] [--sizes=N1,N2,...] [--reads=R] [--runs=K] [--keyorder] [--dir=PATH] "
                 "[--benchmarks=a,b]\n",
                 error.what(), argv[0]);
    return 2;
  }
  std::string made;
  if (options.dir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "kavrin-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    options.dir = made = pattern;
  }
  std::printf("KAVRIN engine vs SQLite %s, one run on this machine (%ld cores), files in %s\n", sqlite3_libversion(),
              sysconf(_SC_NPROCESSORS_ONLN), options.dir.c_str());
  std::printf(
      "ratio = engine time / SQLite time: above 1 the engine is slower; no sync on either side; SQLite "
      "cache_size %" PRId64 " KiB, the engine's cache budget per open table\n",
      EngineCacheBudget() / 1024);
  int status = 0;
  try {
    for (std::int64_t n : options.sizes) {
      Results results;
      std::string files;
      std::int64_t reads = 0, ranges = 0;
      for (int run = 0; run < options.runs; ++run) {
        Run one(options, n, results);
        files = one.All();
        reads = one.Reads();
        ranges = one.RangeCount();
      }
      std::printf("\nN = %" PRId64 " records of %d bytes, filled in %s order, %" PRId64 " lookups and updates, %" PRId64
                  " range scans of %d; medians of %d runs\n",
                  n, 4 + 4 + kK2Size + 4 + kPayloadSize, options.keyOrder ? "key" : "random", reads, ranges,
                  kRangeLength, options.runs);
      results.Print();
      std::printf("%s\n", files.c_str());
    }
  } catch (const kavrin::engine::EDBEngineError& error) {
    std::fprintf(stderr, "engine error: %s\n", error.what());
    status = 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    status = 1;
  }
  if (!made.empty()) {
    std::error_code ignored;
    fs::remove_all(made, ignored);
  }
  return status;
}
