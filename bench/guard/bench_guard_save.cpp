// Time per save of the whole guard trigger table (20 REG_DWORD values in one
// transaction with one synchronous commit, plus opening and closing the key) in a
// temporary registry store, against two baselines measured in the same run on
// a file with the same settings (rollback journal, synchronous=FULL): 20 plain INSERTs in
// one transaction, and one INSERT in a transaction of its own. The three are
// measured in turn, round after round, so that drift hits them alike.
//
//   bench_guard_save [iterations] [directory]
//
// iterations: rounds (default 300); directory: where the temporary files go
// (default $TMPDIR or /tmp), so that a given disk can be measured.

#include "guard_table.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Figures {
  double median;
  double p99;
};

Figures figures(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  const auto p99Index = std::size_t(std::ceil(0.99 * double(n))) - 1;
  return {median, samples[std::min(p99Index, n - 1)]};
}

bool exec(sqlite3 *db, const char *sql) {
  char *error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
  sqlite3_free(error);
  return false;
}

// The plain SQLite side: one connection, one prepared INSERT.
struct Baseline {
  sqlite3 *db = nullptr;
  sqlite3_stmt *insert = nullptr;

  bool open(const std::string &path) {
    return sqlite3_open(path.c_str(), &db) == SQLITE_OK && sqlite3_busy_timeout(db, 5000) == SQLITE_OK &&
           exec(db, "PRAGMA journal_mode=DELETE") && exec(db, "PRAGMA synchronous=FULL") &&
           exec(db,
                "CREATE TABLE t(name TEXT NOT NULL COLLATE NOCASE PRIMARY KEY,"
                " type INTEGER NOT NULL, data BLOB NOT NULL) WITHOUT ROWID") &&
           sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO t VALUES(?1, 4, ?2)", -1, &insert, nullptr) ==
               SQLITE_OK;
  }
  void put(const char *name, std::uint32_t value) {
    sqlite3_bind_text(insert, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 2, &value, 4, SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  ~Baseline() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
};

}  // namespace

int main(int argc, char **argv) {
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const char *tmp = std::getenv("TMPDIR");
  std::string dir = std::string(argc > 2 ? argv[2] : tmp && *tmp ? tmp : "/tmp") + "/bench_guard_XXXXXX";
  if (!mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string storeFile = dir + "/registry.sqlite3";
  const std::string baselineFile = dir + "/baseline.sqlite3";
  setenv("VNKESTRIX_REGISTRY", storeFile.c_str(), 1);

  Baseline baseline;
  GuardTable table;
  bool ok = baseline.open(baselineFile) && saveGuardTable(table) == GuardResult::Ok;

  std::vector<double> saves, batched, single;
  for (int i = 0; ok && i < iterations; ++i) {
    const auto value = std::uint32_t(i);
    table.levels.fill(value);
    table.actions.fill(value);
    auto t0 = Clock::now();
    ok = saveGuardTable(table) == GuardResult::Ok;
    saves.push_back(microseconds(Clock::now() - t0));

    t0 = Clock::now();
    ok = ok && exec(baseline.db, "BEGIN");
    for (std::size_t k = 0; k < guardLineCount; ++k) {
      baseline.put(guardValueNames[k], value);
      baseline.put(guardActionNames[k], value);
    }
    ok = ok && exec(baseline.db, "COMMIT");
    batched.push_back(microseconds(Clock::now() - t0));

    t0 = Clock::now();
    baseline.put(guardValueNames[0], value);
    single.push_back(microseconds(Clock::now() - t0));
  }

  for (const char *suffix : {"", "-journal", "-wal", "-shm"}) {
    unlink((storeFile + suffix).c_str());
    unlink((baselineFile + suffix).c_str());
  }
  rmdir(dir.c_str());
  if (!ok) {
    std::fprintf(stderr, "a save or a baseline write failed\n");
    return 1;
  }

  const Figures save = figures(saves), batch = figures(batched), one = figures(single);
  std::printf("guard table save (20 values, one transaction), %d iterations in %s\n", iterations,
              dir.c_str());
  std::printf("  %-44s median %9.1f us   p99 %9.1f us\n", "save of the table through the registry calls",
              save.median, save.p99);
  std::printf("  %-44s median %9.1f us   p99 %9.1f us\n", "baseline: 20 INSERTs in one transaction",
              batch.median, batch.p99);
  std::printf("  %-44s median %9.1f us   p99 %9.1f us\n", "baseline: one INSERT, one transaction",
              one.median, one.p99);
  std::printf("  ratio save / 20 INSERTs in one transaction:  median %.1fx   p99 %.1fx\n",
              save.median / batch.median, save.p99 / batch.p99);
  std::printf("  ratio save / (20 x one-INSERT transaction):  median %.2fx   p99 %.2fx\n",
              save.median / (20 * one.median), save.p99 / (20 * one.p99));
  return 0;
}
