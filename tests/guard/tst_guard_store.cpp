// The guard trigger table and the registry layer under it, against the
// registry stand-in with a store file of each test's own. Values are written
// "name=N" (a REG_DWORD) or "name=TYPE:hex".

#include "guard_table.h"
#include "registry.h"
#include "temp_store.h"

#include <QtEndian>
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

// Puts values into the guard key with the raw calls, making the key.
void store(const QStringList &values) {
  const QMap<QString, DWORD> types = {{"SZ", REG_SZ}, {"BINARY", REG_BINARY}, {"DWORD", REG_DWORD}};
  HKEY key = nullptr;
  QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, &key, nullptr),
           ERROR_SUCCESS);
  for (const QString &value : values) {
    const QString data = value.section('=', 1);
    const quint32 number = qToLittleEndian(data.toUInt());
    const QByteArray bytes = data.contains(':') ? QByteArray::fromHex(data.section(':', 1).toLatin1())
                                                : QByteArray(reinterpret_cast<const char *>(&number), 4);
    const DWORD type = types.value(data.section(':', 0, 0), REG_DWORD);
    QCOMPARE(RegSetValueExA(key, value.section('=', 0, 0).toLatin1(), 0, type,
                            reinterpret_cast<const BYTE *>(bytes.constData()), DWORD(bytes.size())),
             ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

// A table of `fill` with the given "name=N" entries.
GuardTable tableOf(quint32 fill, const QStringList &entries = {}) {
  GuardTable table;
  for (std::size_t i = 0; i < 2 * guardLineCount; ++i) numberAt(table, i) = fill;
  for (const QString &entry : entries) {
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i)
      if (nameAt(i) == entry.section('=', 0, 0)) numberAt(table, i) = entry.section('=', 1).toUInt();
  }
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

  // A number that is missing, not a REG_DWORD or not four bytes long is left
  // as it was; any 32-bit number is kept.
  void load_data() {
    QTest::addColumn<QStringList>("stored");  // empty: no key
    QTest::addColumn<QStringList>("loaded");
    QStringList every;
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i) every << nameAt(i) + "=" + QString::number(i % 3);

    QTest::newRow("missing key") << QStringList() << QStringList();
    QTest::newRow("GPIO3 Action as the string 2") << QStringList{"GPIO3 Action=SZ:3200"} << QStringList();
    QTest::newRow("BATLOW row") << QStringList{"BATLOW Value=1", "BATLOW Action=2"}
                                << QStringList{"BATLOW Value=1", "BATLOW Action=2"};
    QTest::newRow("action 7") << QStringList{"GPIO0 Action=7"} << QStringList{"GPIO0 Action=7"};
    QTest::newRow("all 32 bits") << QStringList{"GPIO1 Value=4294967295"} << QStringList{"GPIO1 Value=4294967295"};
    QTest::newRow("REG_DWORD of 8 bytes") << QStringList{"GPIO2 Value=DWORD:0100000000000000"} << QStringList();
    QTest::newRow("REG_DWORD of 2 bytes") << QStringList{"GPIO2 Value=DWORD:0100"} << QStringList();
    QTest::newRow("REG_BINARY of 4 bytes") << QStringList{"GPIO4 Action=BINARY:01000000"} << QStringList();
    QTest::newRow("names in another case") << QStringList{"gpio5 VALUE=1", "pwrbtn action=2"}
                                           << QStringList{"GPIO5 Value=1", "PWRBTN Action=2"};
    QTest::newRow("every value") << every << every;
  }

  void load() {
    QFETCH(QStringList, stored);
    QFETCH(QStringList, loaded);
    if (!stored.isEmpty()) store(stored);

    GuardTable table = tableOf(sentinel);
    QCOMPARE(loadGuardTable(table), GuardResult::Ok);
    QCOMPARE(entriesOf(table, sentinel), loaded);
    // Loading makes a missing key and writes no value.
    QVERIFY(Registry::instance().openKey(localMachineKey(), guardKeyPath, false).isOpen());
    QCOMPARE(store_->query("SELECT count(*) FROM reg_values"), std::to_string(stored.size()));
  }

  // Every save writes all 20 values as REG_DWORDs, replacing other types.
  void save_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("saved");  // all others 0
    QTest::newRow("into a missing key") << QStringList() << QStringList{"GPIO3 Value=1", "PWRBTN Action=2"};
    QTest::newRow("over values of other types") << QStringList{"GPIO3 Action=SZ:3200", "batlow value=BINARY:0100"}
                                                << QStringList{"BATLOW Value=1", "GPIO3 Action=2"};
    QTest::newRow("numbers that are no item")
        << QStringList() << QStringList{"GPIO7 Value=4294967295", "GPIO0 Action=7"};
  }

  void save() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, saved);
    if (!before.isEmpty()) store(before);

    QCOMPARE(saveGuardTable(tableOf(0, saved)), GuardResult::Ok);
    QCOMPARE(store_->query(valueCounts), "20/20");
    GuardTable back = tableOf(sentinel);
    QCOMPARE(loadGuardTable(back), GuardResult::Ok);
    QCOMPARE(entriesOf(back, 0), saved);
  }

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
