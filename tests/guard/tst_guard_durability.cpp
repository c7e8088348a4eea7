// Saves of the guard trigger table survive a writer killed at any moment, and
// a reader never sees an error while saves run.
//
// The test binary runs itself as the children:
//   --save-loop <generation> <fd>  saves the table again and again, each save
//       writing one generation number to all 20 values, and reports every
//       completed save's generation on <fd> before the next one (a 0 first,
//       once the store is open);
//   --read-loop <fd>  reads the table, through the registry calls and straight
//       from the file as the guard service does, until <fd> reaches its end;
//       any error or inconsistency ends it with exit code 1.

#include "guard_table.h"
#include "registry.h"
#include "temp_store.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using Values = std::array<std::uint32_t, 2 * guardLineCount>;  // in write order

constexpr int killRounds = 200;
std::string selfPath;

Values inWriteOrder(const GuardTable &table) {
  Values values;
  std::copy(table.levels.begin(), table.levels.end(), values.begin());
  std::copy(table.actions.begin(), table.actions.end(), values.begin() + guardLineCount);
  return values;
}

const char *nameAt(std::size_t position) {
  return position < guardLineCount ? guardValueNames[position]
                                   : guardActionNames[position - guardLineCount];
}

// What is wrong with the values read after a writer was killed, or "" when
// nothing is. The writer began at generation `start`; `lastReported` is the
// last save it reported as complete. Saves write the values in order, so the
// values, in that order, never rise from one to the next.
QString checkAfterKill(const Values &before, const Values &after, std::uint32_t start,
                       std::optional<std::uint32_t> lastReported) {
  const std::uint32_t newest = lastReported ? *lastReported + 1 : start;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const QString where = QStringLiteral("%1 is %2: ").arg(nameAt(i)).arg(after[i]);
    if (after[i] != before[i] && (after[i] < start || after[i] > newest)) {
      return where + QStringLiteral("no save wrote it (before %1, saves %2 to %3)")
                         .arg(before[i]).arg(start).arg(newest);
    }
    if (lastReported && after[i] < *lastReported) {
      return where + QStringLiteral("save %1 was reported complete and is lost").arg(*lastReported);
    }
    if (i > 0 && after[i] > after[i - 1]) return where + QStringLiteral("newer than the value before it");
  }
  return {};
}

// ---- the children ----

int saveLoop(std::uint32_t generation, int reportFd) {
  GuardTable table;
  if (loadGuardTable(table) != GuardResult::Ok) return 2;
  const std::uint32_t ready = 0;
  if (write(reportFd, &ready, sizeof ready) != sizeof ready) return 3;
  for (;; ++generation) {
    table.levels.fill(generation);
    table.actions.fill(generation);
    if (saveGuardTable(table) != GuardResult::Ok) {
      std::fprintf(stderr, "save-loop: save %u failed\n", generation);
      return 4;
    }
    if (write(reportFd, &generation, sizeof generation) != sizeof generation) return 3;
  }
}

int fail(const char *what, long detail) {
  std::fprintf(stderr, "read-loop: %s (%ld)\n", what, detail);
  return 1;
}

int readLoop(int stopFd) {
  // The service's way: a read-only connection that stays open, a busy
  // time-out, one SELECT per reading of the table.
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(std::getenv("VNKESTRIX_REGISTRY"), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    return fail("cannot open the store", 0);
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt *select = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name, type, data FROM reg_values"
                         " WHERE key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane'",
                         -1, &select, nullptr) != SQLITE_OK) {
    return fail(sqlite3_errmsg(db), 0);
  }

  long readings = 0;
  for (;; ++readings) {
    pollfd stop{stopFd, POLLIN, 0};
    if (poll(&stop, 1, 0) > 0) break;

    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return fail("RegOpenKeyExA", rc);
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i) {
      DWORD type = 0;
      BYTE data[4];
      DWORD size = sizeof data;
      rc = RegQueryValueExA(key, nameAt(i), nullptr, &type, data, &size);
      if (rc != ERROR_SUCCESS) return fail("RegQueryValueExA", rc);
      if (type != REG_DWORD || size != 4) return fail("not a 4-byte REG_DWORD", long(type));
    }
    RegCloseKey(key);

    Values values{};
    std::size_t rows = 0;
    int step;
    while ((step = sqlite3_step(select)) == SQLITE_ROW) {
      const char *name = reinterpret_cast<const char *>(sqlite3_column_text(select, 0));
      std::size_t position = 0;
      while (position < values.size() && qstricmp(name, nameAt(position)) != 0) ++position;
      if (position == values.size()) return fail("unknown value in the key", 0);
      if (sqlite3_column_int(select, 1) != int(REG_DWORD) || sqlite3_column_bytes(select, 2) != 4) {
        return fail("not a 4-byte REG_DWORD in the file", sqlite3_column_int(select, 1));
      }
      const auto *bytes = static_cast<const unsigned char *>(sqlite3_column_blob(select, 2));
      values[position] = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                         std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
      ++rows;
    }
    sqlite3_reset(select);
    if (step != SQLITE_DONE) return fail(sqlite3_errstr(step), step);
    if (rows != values.size()) return fail("values missing", long(rows));
    for (std::size_t i = 1; i < values.size(); ++i) {
      if (values[i] > values[i - 1]) return fail("a later value is newer", long(i));
    }
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  if (readings == 0) return fail("never read", 0);
  std::fprintf(stderr, "read-loop: %ld readings, no error\n", readings);
  return 0;
}

// ---- the parent's side ----

// A pipe whose end `childEnd` (0 read, 1 write) a child inherits.
struct Pipe {
  int fds[2] = {-1, -1};
  explicit Pipe(int childEnd) {
    if (pipe2(fds, O_CLOEXEC) == 0) fcntl(fds[childEnd], F_SETFD, 0);
  }
  ~Pipe() { closeEnd(0), closeEnd(1); }
  void closeEnd(int end) {
    if (fds[end] >= 0) close(fds[end]);
    fds[end] = -1;
  }
};

pid_t spawnSelf(std::vector<std::string> args) {
  args.insert(args.begin(), selfPath);
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, selfPath.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Collects the generations a saving child reports until `until`, until the
// pipe ends, or (with `untilReady`) until the ready mark arrives.
struct Reports {
  std::string pending;
  bool ready = false;
  bool ended = false;
  std::optional<std::uint32_t> last;
  int count = 0;

  void read(int fd, Clock::time_point until, bool untilReady) {
    while (!ended && !(untilReady && ready)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) {
        if (Clock::now() >= until) return;
        continue;
      }
      char buffer[4096];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) {
        ended = true;
        break;
      }
      pending.append(buffer, std::size_t(n));
      for (; pending.size() >= 4; pending.erase(0, 4)) {
        std::uint32_t generation;
        std::memcpy(&generation, pending.data(), 4);
        if (generation == 0) {
          ready = true;
        } else {
          last = generation;
          ++count;
        }
      }
    }
  }
};

}  // namespace

Q_DECLARE_METATYPE(Values)

class TestGuardDurability : public QObject {
  Q_OBJECT

 private slots:
  void checkFindsFaults_data();
  void checkFindsFaults();
  void killedSavesLoseNothing();
};

// The check that the kill rounds rely on, shown to catch what it must.
void TestGuardDurability::checkFindsFaults_data() {
  QTest::addColumn<Values>("after");
  QTest::addColumn<bool>("fine");
  // Before: a save of 3 was cut after 5 values. The writer began at 5 and
  // reported 6 complete.
  Values torn;
  torn.fill(2);
  std::fill_n(torn.begin(), 5, 3);
  Values all7;
  all7.fill(7);
  Values partly7 = torn;
  partly7.fill(6);
  std::fill_n(partly7.begin(), 12, 7);
  Values lost = all7;
  lost[19] = 5;
  Values unknown = all7;
  unknown[0] = 8;
  Values rising = partly7;
  rising[15] = 7;

  QTest::newRow("save 7 complete") << all7 << true;
  QTest::newRow("save 7 cut after 12 values") << partly7 << true;
  QTest::newRow("a reported save lost") << lost << false;
  QTest::newRow("a generation never written") << unknown << false;
  QTest::newRow("values out of write order") << rising << false;
  QTest::newRow("nothing saved since before") << torn << false;
}

void TestGuardDurability::checkFindsFaults() {
  QFETCH(Values, after);
  QFETCH(bool, fine);
  Values before;
  before.fill(2);
  std::fill_n(before.begin(), 5, 3);
  QCOMPARE(checkAfterKill(before, after, 5, 6).isEmpty(), fine);
}

void TestGuardDurability::killedSavesLoseNothing() {
  TempStore store;
  QVERIFY(store.isValid());
  GuardTable table;  // generation 0 everywhere
  QCOMPARE(saveGuardTable(table), GuardResult::Ok);
  Values current = inWriteOrder(table);

  Pipe stopReader(0);
  const pid_t reader = spawnSelf({"--read-loop", std::to_string(stopReader.fds[0])});
  QVERIFY(reader > 0);
  stopReader.closeEnd(0);

  std::mt19937 random(std::random_device{}());
  double saveMs = 5;  // estimated time of one save, refined as rounds run
  double savingMs = 0;
  int saves = 0;
  int cutSaves = 0;
  const auto begin = Clock::now();
  for (int round = 0; round < killRounds; ++round) {
    const std::uint32_t start = *std::max_element(current.begin(), current.end()) + 1;
    Pipe reports(1);
    const pid_t writer = spawnSelf({"--save-loop", std::to_string(start), std::to_string(reports.fds[1])});
    QVERIFY(writer > 0);
    reports.closeEnd(1);

    Reports got;
    got.read(reports.fds[0], Clock::now() + std::chrono::seconds(20), true);
    QVERIFY2(got.ready, "the saving child never opened the store");
    // Kill within about three saves' time: sometimes in the first save, often later.
    const double window = std::clamp(3 * saveMs, 1.0, 200.0);
    const double delayMs = std::uniform_real_distribution<double>(0, window)(random);
    const auto readyAt = Clock::now();
    got.read(reports.fds[0], readyAt + std::chrono::microseconds(qint64(delayMs * 1000)), false);
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    const auto killedAt = Clock::now();
    got.read(reports.fds[0], Clock::now() + std::chrono::seconds(5), false);
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
             qPrintable(QStringLiteral("round %1: the saving child ended by itself, status %2")
                            .arg(round).arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1)));

    GuardTable stored;  // a value that cannot be read keeps all bits set, which no save writes
    stored.levels.fill(0xFFFFFFFF);
    stored.actions.fill(0xFFFFFFFF);
    QCOMPARE(loadGuardTable(stored), GuardResult::Ok);
    const Values after = inWriteOrder(stored);
    const QString fault = checkAfterKill(current, after, start, got.last);
    QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(fault)));

    if (after.front() != after.back()) ++cutSaves;
    saves += got.count;
    savingMs += std::chrono::duration<double, std::milli>(killedAt - readyAt).count();
    if (saves > 0) saveMs = savingMs / saves;
    current = after;
  }

  stopReader.closeEnd(1);
  int readerStatus = 0;
  waitpid(reader, &readerStatus, 0);
  QVERIFY2(WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0,
           "the reader met an error (its message is above)");

  QCOMPARE(store.query("PRAGMA integrity_check"), std::string("ok"));
  QCOMPARE(store.query("SELECT count(*) FROM reg_values WHERE type = 4 AND length(data) = 4"),
           std::string("20"));
  QVERIFY2(saves > 0, "no save ever completed");
  qInfo("%d kills in %.1f s; %d saves completed, %d kills left a save cut short; %.2f ms per save",
        killRounds, std::chrono::duration<double>(Clock::now() - begin).count(), saves, cutSaves,
        saveMs);
}

int main(int argc, char **argv) {
  if (argc == 4 && std::strcmp(argv[1], "--save-loop") == 0) {
    return saveLoop(std::uint32_t(std::strtoul(argv[2], nullptr, 10)), std::atoi(argv[3]));
  }
  if (argc == 3 && std::strcmp(argv[1], "--read-loop") == 0) return readLoop(std::atoi(argv[2]));

  char resolved[PATH_MAX];
  selfPath = realpath(argv[0], resolved) ? resolved : "/proc/self/exe";
  TestGuardDurability test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_guard_durability.moc"
