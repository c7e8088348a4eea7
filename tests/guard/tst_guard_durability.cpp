// Saves of the guard trigger table survive a writer killed at any moment,
// whole or not at all, and a reader never sees an error while saves run.
//
// The test binary runs itself as the children:
//   --save-loop <generation>  saves the table again and again, each save
//       writing one generation number to all 20 values, counting up from
//       <generation>. On stdout it reports a 0 once the store is open, then
//       each completed save's generation (4 bytes each) before the next save;
//   --read-loop  reads the table, through the registry calls and straight
//       from the file as the guard service does, until its stdin ends; any
//       error ends it with exit code 1.

#include "guard_table.h"
#include "registry.h"
#include "temp_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

namespace {

using Values = std::array<std::uint32_t, 2 * guardLineCount>;  // in write order
constexpr int killRounds = 200;

const char *nameAt(std::size_t i) {
  return i < guardLineCount ? guardValueNames[i] : guardActionNames[i - guardLineCount];
}

// ---- the children ----

int saveLoop(std::uint32_t generation) {
  GuardTable table;
  if (loadGuardTable(table) != GuardResult::Ok) return 2;
  for (std::uint32_t done = 0;; done = generation++) {
    if (write(STDOUT_FILENO, &done, sizeof done) != sizeof done) return 3;
    table.levels.fill(generation);
    table.actions.fill(generation);
    if (saveGuardTable(table) != GuardResult::Ok) return 4;
  }
}

int readLoop() {
  // The service's way: a read-only connection that stays open, a busy
  // time-out, one SELECT per reading of the table.
  sqlite3 *db = nullptr;
  sqlite3_open_v2(std::getenv("VNKESTRIX_REGISTRY"), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(db, 5000);
  const char *wholeValues = "SELECT count(*) FROM reg_values WHERE type = 4 AND length(data) = 4"
                            " AND key = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane'";
  long readings = 0;
  for (pollfd stop{STDIN_FILENO, POLLIN, 0}; poll(&stop, 1, 0) == 0; ++readings) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, KEY_READ, &key);
    for (std::size_t i = 0; rc == ERROR_SUCCESS && i < 2 * guardLineCount; ++i) {
      DWORD type = 0, size = 4;
      BYTE data[4];
      rc = RegQueryValueExA(key, nameAt(i), nullptr, &type, data, &size);
      if (rc == ERROR_SUCCESS && (type != REG_DWORD || size != 4)) rc = -1;
    }
    RegCloseKey(key);
    sqlite3_stmt *select = nullptr;
    int rows = -1;
    if (sqlite3_prepare_v2(db, wholeValues, -1, &select, nullptr) == SQLITE_OK && sqlite3_step(select) == SQLITE_ROW)
      rows = sqlite3_column_int(select, 0);
    sqlite3_finalize(select);
    if (rc != ERROR_SUCCESS || rows != int(2 * guardLineCount)) {
      std::fprintf(stderr, "read-loop: reading %ld: registry result %d, %d whole values in the file (%s)\n", readings,
                   int(rc), rows, sqlite3_errmsg(db));
      readings = -1;
      break;
    }
  }
  sqlite3_close(db);
  std::fprintf(stderr, "read-loop: %ld readings\n", readings);
  return readings > 0 ? 0 : 1;
}

}  // namespace

class TestGuardDurability : public QObject {
  Q_OBJECT

 private slots:
  // After each kill the 20 values are the table of one save (the one before,
  // or one of the killed writer's), none older than the last save the writer
  // reported complete.
  void killedSavesLoseNothing() {
    TempStore store;
    QVERIFY(store.isValid());
    QCOMPARE(saveGuardTable(GuardTable{}), GuardResult::Ok);  // generation 0 everywhere
    Values current{};
    const QString self = QCoreApplication::applicationFilePath();
    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedChannels);
    reader.start(self, {"--read-loop"});
    QVERIFY(reader.waitForStarted());

    std::mt19937 random(std::random_device{}());
    double msPerSave = 5;  // estimated as rounds run
    double savingMs = 0;
    int saves = 0, unreported = 0;
    QElapsedTimer total;
    total.start();
    for (int round = 0; round < killRounds; ++round) {
      const std::uint32_t start = *std::max_element(current.begin(), current.end()) + 1;
      QProcess writer;
      writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
      writer.start(self, {"--save-loop", QString::number(start)});
      QVERIFY2(writer.waitForReadyRead(20000), "the saving child never opened the store");
      // Kill within about three saves' time: sometimes in the first save, often later.
      const double delayMs = std::uniform_real_distribution<double>(0, std::clamp(3 * msPerSave, 1.0, 200.0))(random);
      QElapsedTimer saving;
      saving.start();
      std::this_thread::sleep_for(std::chrono::microseconds(qint64(delayMs * 1000)));
      writer.kill();
      QVERIFY(writer.waitForFinished());
      savingMs += saving.nsecsElapsed() / 1e6;
      QVERIFY2(writer.exitStatus() == QProcess::CrashExit,
               qPrintable(QStringLiteral("round %1: the saving child ended by itself").arg(round)));
      const QByteArray reports = writer.readAllStandardOutput();
      std::uint32_t reported = 0;  // the last save reported complete, 0 for none
      std::memcpy(&reported, reports.constData() + reports.size() - 4, 4);
      saves += int(reports.size() / 4) - 1;
      msPerSave = saves > 0 ? savingMs / saves : msPerSave;

      GuardTable stored;  // a value that cannot be read keeps all bits set, which no save writes
      stored.levels.fill(~0u);
      stored.actions.fill(~0u);
      QCOMPARE(loadGuardTable(stored), GuardResult::Ok);
      Values after;
      std::copy(stored.actions.begin(), stored.actions.end(),
                std::copy(stored.levels.begin(), stored.levels.end(), after.begin()));
      // A save is one transaction: the table is the whole old one or the whole
      // table of one save, no older than the last save reported complete.
      const std::uint32_t newest = reported ? reported + 1 : start;  // the save the kill cut short
      const bool whole = std::all_of(after.begin(), after.end(), [&](std::uint32_t v) { return v == after[0]; });
      const bool written = after == current || (after[0] >= start && after[0] <= newest);
      QVERIFY2(whole && written && after[0] >= reported,
               qPrintable(QStringLiteral("round %1: %2 ... %3 is %4 ... %5; before %6, saves %7 to %8, %9 reported")
                              .arg(round).arg(nameAt(0)).arg(nameAt(after.size() - 1)).arg(after.front())
                              .arg(after.back()).arg(current[0]).arg(start).arg(newest).arg(reported)));
      unreported += after != current && after[0] > reported;
      current = after;
    }

    reader.closeWriteChannel();
    QVERIFY(reader.waitForFinished());
    QVERIFY2(reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0,
             "the reader met an error (its message is above)");
    QCOMPARE(store.query("PRAGMA integrity_check"), "ok");
    QCOMPARE(store.query("SELECT count(*) FROM reg_values WHERE type = 4 AND length(data) = 4"), "20");
    QVERIFY2(saves > 0, "no save ever completed");
    qInfo("%d kills in %.1f s; %d saves completed, %d kills came after a commit not yet reported; %.2f ms per save", killRounds,
          total.elapsed() / 1000.0, saves, unreported, msPerSave);
  }
};

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "--save-loop") == 0)
    return saveLoop(std::uint32_t(std::strtoul(argv[2], nullptr, 10)));
  if (argc == 2 && std::strcmp(argv[1], "--read-loop") == 0) return readLoop();
  QCoreApplication app(argc, argv);
  TestGuardDurability test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_guard_durability.moc"
