// The guard trigger table and the registry layer under it, against the
// registry stand-in with a store file of each test's own: what needs the
// stand-in. Loads and saves over values of every kind are in the registry
// conformance table (tests/winreg/registry_conformance.cpp), which also runs
// under Wine. Table entries are written "name=N".

#include "guard_table.h"
#include "registry.h"
#include "temp_store.h"

#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <utility>

namespace {

// SQLite's syncs reach these definitions before the C library's; those of
// the store's write-ahead log are counted.
int walSyncs = 0;

int countedSync(int fd, const char *call) {
  char link[32], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t size = readlink(link, target, sizeof target);
  walSyncs += size > 4 && std::memcmp(target + size - 4, "-wal", 4) == 0;
  return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, call))(fd);
}

constexpr quint32 sentinel = 0xA5A5A5A5;
const char *const valueCounts = "SELECT count(*) || '/' || sum(type = 4 AND length(data) = 4) FROM reg_values";

// The 20 names in the order the store writes them, levels first.
QString nameAt(std::size_t i) {
  return i < guardLineCount ? guardValueNames[i] : guardActionNames[i - guardLineCount];
}

quint32 &numberAt(GuardTable &table, std::size_t i) {
  return i < guardLineCount ? table.levels[i] : table.actions[i - guardLineCount];
}

// A table of `fill` only.
GuardTable tableOf(quint32 fill) {
  GuardTable table;
  for (std::size_t i = 0; i < 2 * guardLineCount; ++i) numberAt(table, i) = fill;
  return table;
}

// The table's numbers other than `fill`, as "name=N".
QStringList entriesOf(GuardTable table, quint32 fill) {
  QStringList entries;
  for (std::size_t i = 0; i < 2 * guardLineCount; ++i)
    if (numberAt(table, i) != fill) entries << nameAt(i) + "=" + QString::number(numberAt(table, i));
  return entries;
}

}  // namespace

extern "C" int fsync(int fd) { return countedSync(fd, "fsync"); }
extern "C" int fdatasync(int fd) { return countedSync(fd, "fdatasync"); }

class TestGuardStore : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    store_ = std::make_unique<TempStore>();
    QVERIFY(store_->isValid());
  }
  void cleanup() { store_.reset(); }

  // A save is one commit that reaches the disk before it is reported: the
  // write-ahead log is synced once, neither never nor for each value.
  void saveIsOneSyncedCommit() {
    QCOMPARE(saveGuardTable(tableOf(1)), GuardResult::Ok);  // the file and its connection exist
    walSyncs = 0;
    QCOMPARE(saveGuardTable(tableOf(2)), GuardResult::Ok);
    QCOMPARE(walSyncs, 1);
  }

  // The store file refuses one value name (a trigger in the file itself): the
  // save fails whole and leaves the table it found.
  void failedSaveKeepsTheOldTable_data() {
    QTest::addColumn<QString>("refused");
    QTest::newRow("first") << nameAt(0);
    QTest::newRow("middle") << nameAt(14);
    QTest::newRow("last") << nameAt(19);
  }

  void failedSaveKeepsTheOldTable() {
    QFETCH(QString, refused);
    QCOMPARE(saveGuardTable(tableOf(7)), GuardResult::Ok);
    const QString trigger = "CREATE TRIGGER refuse BEFORE UPDATE ON reg_values WHEN NEW.name = '" + refused +
                            "' BEGIN SELECT RAISE(ABORT, 'refused'); END";
    QCOMPARE(store_->query(trigger.toLatin1()), "");

    GuardTable table;
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i) numberAt(table, i) = quint32(i + 1);
    QCOMPARE(saveGuardTable(table), GuardResult::WriteFailed);
    QCOMPARE(store_->query(valueCounts), "20/20");
    GuardTable back = tableOf(sentinel);
    QCOMPARE(loadGuardTable(back), GuardResult::Ok);
    QCOMPARE(entriesOf(back, 7), QStringList());
  }

  void keyCannotBeOpened() {
    store_->makeUnusable();
    GuardTable table = tableOf(sentinel);
    QCOMPARE(loadGuardTable(table), GuardResult::KeyNotOpened);
    QCOMPARE(entriesOf(table, sentinel), QStringList());
    QCOMPARE(saveGuardTable(tableOf(1)), GuardResult::KeyNotOpened);
    // As for a Windows user without elevation: writes are refused, reads find nothing.
    QCOMPARE(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_DWORD, reinterpret_cast<const BYTE *>("\1\0\0"), 4),
             ERROR_ACCESS_DENIED);
    QCOMPARE(RegQueryValueExA(HKEY_LOCAL_MACHINE, "v", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  }

  // A key closes its handle once: when it is destroyed or assigned over, not
  // after it was moved from; the root is never closed.
  void registryKeyOwnsItsHandle() {
    const Registry &registry = Registry::instance();
    QVERIFY(!registry.openKey(localMachineKey(), "SOFTWARE\\A", false).isOpen());
    HKEY handle = nullptr;
    {
      RegistryKey first = registry.openKey(localMachineKey(), "SOFTWARE\\A", true);
      handle = first.handle();
      RegistryKey second(std::move(first));
      QVERIFY(!first.isOpen());
      QCOMPARE(second.handle(), handle);
      QVERIFY(registry.openKey(localMachineKey(), "SOFTWARE\\A", false).isOpen());
      second = registry.openKey(localMachineKey(), "SOFTWARE\\B", true);
      QVERIFY(second.isOpen() && second.handle() != handle);
      QCOMPARE(RegCloseKey(std::exchange(handle, second.handle())), ERROR_INVALID_HANDLE);
    }
    QCOMPARE(RegCloseKey(handle), ERROR_INVALID_HANDLE);

    const RegistryKey closed;
    std::uint32_t value = 5;
    QVERIFY(!closed.readDword("GPIO0 Value", value) && !closed.writeDword("GPIO0 Value", 1));
    QCOMPARE(value, 5u);
    QVERIFY(!registry.openKey(closed, "SOFTWARE", true).isOpen());
    { RegistryKey copyOfRoot(HKEY_LOCAL_MACHINE); }
    QCOMPARE(localMachineKey().handle(), HKEY_LOCAL_MACHINE);
    QVERIFY(localMachineKey().writeDword("v", 1));
  }

 private:
  std::unique_ptr<TempStore> store_;
};

QTEST_APPLESS_MAIN(TestGuardStore)
#include "tst_guard_store.moc"
