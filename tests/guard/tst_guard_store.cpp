// The guard trigger table and the registry layer under it, against the
// registry stand-in with a store file of each test's own.

#include "guard_table.h"
#include "registry.h"
#include "temp_store.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct Stored {
  const char *name;
  DWORD type;
  QByteArray data;
};
using StoredValues = std::vector<Stored>;

// A table entry that differs from the sentinel: level or action `index`.
struct Entry {
  bool action;
  std::size_t index;
  quint32 value;
};
using Entries = std::vector<Entry>;

constexpr quint32 sentinel = 0xA5A5A5A5;

QByteArray dword(quint32 v) {
  const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  return QByteArray(bytes, 4);
}

GuardTable tableOf(quint32 fill, const Entries &entries = {}) {
  GuardTable table;
  table.levels.fill(fill);
  table.actions.fill(fill);
  for (const Entry &e : entries) (e.action ? table.actions : table.levels)[e.index] = e.value;
  return table;
}

// Puts values into the guard key with the raw calls, making the key.
void store(const StoredValues &values) {
  HKEY key = nullptr;
  QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &key, nullptr),
           ERROR_SUCCESS);
  for (const Stored &v : values) {
    QCOMPARE(RegSetValueExA(key, v.name, 0, v.type,
                            reinterpret_cast<const BYTE *>(v.data.constData()), DWORD(v.data.size())),
             ERROR_SUCCESS);
  }
  QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
}

void compareTables(const GuardTable &actual, const GuardTable &expected) {
  for (std::size_t i = 0; i < guardLineCount; ++i) {
    QVERIFY2(actual.levels[i] == expected.levels[i],
             qPrintable(QStringLiteral("%1: %2, expected %3")
                            .arg(guardValueNames[i]).arg(actual.levels[i]).arg(expected.levels[i])));
    QVERIFY2(actual.actions[i] == expected.actions[i],
             qPrintable(QStringLiteral("%1: %2, expected %3")
                            .arg(guardActionNames[i]).arg(actual.actions[i]).arg(expected.actions[i])));
  }
}

bool guardKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

const char *countValues = "SELECT count(*) FROM reg_values";
const char *countWholeDwords = "SELECT count(*) FROM reg_values WHERE type = 4 AND length(data) = 4";

}  // namespace

Q_DECLARE_METATYPE(StoredValues)
Q_DECLARE_METATYPE(Entries)

class TestGuardStore : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    store_ = std::make_unique<TempStore>();
    QVERIFY(store_->isValid());
  }
  void cleanup() { store_.reset(); }

  void load_data();
  void load();
  void save_data();
  void save();
  void actionSevenWrittenBack();
  void oneWriteFails_data();
  void oneWriteFails();
  void keyCannotBeOpened();

  void openKeyWithoutCreate();
  void keyClosesItsHandle();
  void moveHandsOverTheHandle();
  void closedKeyNeitherReadsNorWrites();
  void localMachineKeyIsTheRoot();

 private:
  std::unique_ptr<TempStore> store_;
};

void TestGuardStore::load_data() {
  QTest::addColumn<bool>("keyExists");
  QTest::addColumn<StoredValues>("stored");
  QTest::addColumn<Entries>("expected");  // all others keep the sentinel

  QTest::newRow("missing key") << false << StoredValues{} << Entries{};
  QTest::newRow("empty key") << true << StoredValues{} << Entries{};
  QTest::newRow("GPIO3 Action as the string 2")
      << true << StoredValues{{"GPIO3 Action", REG_SZ, QByteArray("2\0", 2)}} << Entries{};
  QTest::newRow("BATLOW row")
      << true
      << StoredValues{{"BATLOW Value", REG_DWORD, dword(1)}, {"BATLOW Action", REG_DWORD, dword(2)}}
      << Entries{{false, 8, 1}, {true, 8, 2}};
  QTest::newRow("action 7") << true << StoredValues{{"GPIO0 Action", REG_DWORD, dword(7)}}
                            << Entries{{true, 0, 7}};
  QTest::newRow("all 32 bits") << true << StoredValues{{"GPIO1 Value", REG_DWORD, dword(0xFFFFFFFF)}}
                               << Entries{{false, 1, 0xFFFFFFFF}};
  QTest::newRow("REG_DWORD of 8 bytes")
      << true << StoredValues{{"GPIO2 Value", REG_DWORD, dword(1) + dword(0)}} << Entries{};
  QTest::newRow("REG_DWORD of 2 bytes")
      << true << StoredValues{{"GPIO2 Value", REG_DWORD, QByteArray("\x01\x00", 2)}} << Entries{};
  QTest::newRow("REG_BINARY of 4 bytes")
      << true << StoredValues{{"GPIO4 Action", REG_BINARY, dword(1)}} << Entries{};
  QTest::newRow("names in another case")
      << true << StoredValues{{"pwrbtn action", REG_DWORD, dword(1)}, {"GPIO5 VALUE", REG_DWORD, dword(0)}}
      << Entries{{true, 9, 1}, {false, 5, 0}};

  StoredValues all;
  Entries allEntries;
  for (std::size_t i = 0; i < guardLineCount; ++i) {
    all.push_back({guardValueNames[i], REG_DWORD, dword(quint32(i % 2))});
    all.push_back({guardActionNames[i], REG_DWORD, dword(quint32(i % 3))});
    allEntries.push_back({false, i, quint32(i % 2)});
    allEntries.push_back({true, i, quint32(i % 3)});
  }
  QTest::newRow("every value") << true << all << allEntries;
}

void TestGuardStore::load() {
  QFETCH(bool, keyExists);
  QFETCH(StoredValues, stored);
  QFETCH(Entries, expected);
  if (keyExists) store(stored);
  QCOMPARE(guardKeyExists(), keyExists);

  GuardTable table = tableOf(sentinel);
  QCOMPARE(loadGuardTable(table), GuardResult::Ok);
  compareTables(table, tableOf(sentinel, expected));
  if (QTest::currentTestFailed()) return;

  // Loading makes the key when it is missing and writes no value.
  QVERIFY(guardKeyExists());
  QCOMPARE(store_->query(countValues), std::to_string(stored.size()));
}

void TestGuardStore::save_data() {
  QTest::addColumn<StoredValues>("before");
  QTest::addColumn<Entries>("saved");  // all others 0

  QTest::newRow("into a missing key") << StoredValues{} << Entries{{false, 3, 1}, {true, 9, 2}};
  QTest::newRow("over values of other types")
      << StoredValues{{"GPIO3 Action", REG_SZ, QByteArray("2\0", 2)},
                      {"batlow value", REG_BINARY, dword(1) + dword(1)}}
      << Entries{{true, 3, 2}, {false, 8, 1}};
  QTest::newRow("numbers that are no item")
      << StoredValues{} << Entries{{true, 0, 7}, {false, 7, 0xFFFFFFFF}};
}

void TestGuardStore::save() {
  QFETCH(StoredValues, before);
  QFETCH(Entries, saved);
  if (!before.empty()) store(before);

  const GuardTable table = tableOf(0, saved);
  QCOMPARE(saveGuardTable(table), GuardResult::Ok);
  QCOMPARE(store_->query(countValues), std::string("20"));
  QCOMPARE(store_->query(countWholeDwords), std::string("20"));

  GuardTable back = tableOf(sentinel);
  QCOMPARE(loadGuardTable(back), GuardResult::Ok);
  compareTables(back, table);
}

void TestGuardStore::actionSevenWrittenBack() {
  store({{"GPIO0 Action", REG_DWORD, dword(7)}});
  GuardTable table;
  QCOMPARE(loadGuardTable(table), GuardResult::Ok);
  QCOMPARE(table.actions[0], quint32(7));
  QCOMPARE(saveGuardTable(table), GuardResult::Ok);
  QCOMPARE(store_->query("SELECT type || ':' || hex(data) FROM reg_values WHERE name = 'GPIO0 Action'"),
           std::string("4:07000000"));
}

void TestGuardStore::oneWriteFails_data() {
  QTest::addColumn<QString>("refused");
  QTest::newRow("first") << QString(guardValueNames[0]);
  QTest::newRow("middle") << QString(guardActionNames[4]);
  QTest::newRow("last") << QString(guardActionNames[9]);
}

// The store file refuses one value name (a trigger in the file itself); the
// other 19 writes still happen and the result says that one failed.
void TestGuardStore::oneWriteFails() {
  QFETCH(QString, refused);
  GuardTable ignored;
  QCOMPARE(loadGuardTable(ignored), GuardResult::Ok);  // makes the file and its tables
  const std::string trigger = "CREATE TRIGGER refuse BEFORE INSERT ON reg_values WHEN NEW.name = '" +
                              refused.toStdString() + "' BEGIN SELECT RAISE(ABORT, 'refused'); END";
  QCOMPARE(store_->query(trigger.c_str()), std::string());

  GuardTable table;
  for (std::size_t i = 0; i < guardLineCount; ++i) {
    table.levels[i] = quint32(i);
    table.actions[i] = quint32(100 + i);
  }
  QCOMPARE(saveGuardTable(table), GuardResult::WriteFailed);
  QCOMPARE(store_->query(countWholeDwords), std::string("19"));

  GuardTable back = tableOf(sentinel);
  QCOMPARE(loadGuardTable(back), GuardResult::Ok);
  GuardTable expected = table;
  for (std::size_t i = 0; i < guardLineCount; ++i) {
    if (refused == guardValueNames[i]) expected.levels[i] = sentinel;
    if (refused == guardActionNames[i]) expected.actions[i] = sentinel;
  }
  compareTables(back, expected);
}

void TestGuardStore::keyCannotBeOpened() {
  store_->makeUnusable();
  GuardTable table = tableOf(sentinel);
  QCOMPARE(loadGuardTable(table), GuardResult::KeyNotOpened);
  compareTables(table, tableOf(sentinel));
  QCOMPARE(saveGuardTable(tableOf(1)), GuardResult::KeyNotOpened);
}

void TestGuardStore::openKeyWithoutCreate() {
  const Registry &registry = Registry::instance();
  QVERIFY(!registry.openKey(localMachineKey(), guardKeyPath, false).isOpen());
  QVERIFY(registry.openKey(localMachineKey(), guardKeyPath, true).isOpen());
  const RegistryKey key = registry.openKey(localMachineKey(), guardKeyPath, false);
  QVERIFY(key.isOpen());
  QVERIFY(key.writeDword("GPIO0 Value", 1));
  std::uint32_t value = 0;
  QVERIFY(key.readDword("gpio0 value", value));
  QCOMPARE(value, 1u);
}

void TestGuardStore::keyClosesItsHandle() {
  HKEY handle = nullptr;
  {
    const RegistryKey key = Registry::instance().openKey(localMachineKey(), guardKeyPath, true);
    QVERIFY(key.isOpen());
    handle = key.handle();
    QCOMPARE(RegQueryValueExA(handle, "x", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  }
  QCOMPARE(RegQueryValueExA(handle, "x", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

void TestGuardStore::moveHandsOverTheHandle() {
  const Registry &registry = Registry::instance();
  RegistryKey first = registry.openKey(localMachineKey(), "SOFTWARE\\A", true);
  const HKEY handle = first.handle();
  RegistryKey second(std::move(first));
  QVERIFY(!first.isOpen());
  QCOMPARE(second.handle(), handle);

  second = registry.openKey(localMachineKey(), "SOFTWARE\\B", true);
  QVERIFY(second.isOpen());
  QVERIFY(second.handle() != handle);
  QCOMPARE(RegCloseKey(handle), ERROR_INVALID_HANDLE);  // closed by the assignment
}

void TestGuardStore::closedKeyNeitherReadsNorWrites() {
  const RegistryKey key;
  QVERIFY(!key.isOpen());
  std::uint32_t value = 5;
  QVERIFY(!key.readDword("GPIO0 Value", value));
  QCOMPARE(value, 5u);
  QVERIFY(!key.writeDword("GPIO0 Value", 1));
  QVERIFY(!Registry::instance().openKey(key, "SOFTWARE", true).isOpen());
}

void TestGuardStore::localMachineKeyIsTheRoot() {
  QCOMPARE(&localMachineKey(), &localMachineKey());
  QCOMPARE(localMachineKey().handle(), HKEY_LOCAL_MACHINE);
  { RegistryKey copyOfRoot(HKEY_LOCAL_MACHINE); }
  QVERIFY(localMachineKey().writeDword("v", 1));
}

QTEST_APPLESS_MAIN(TestGuardStore)
#include "tst_guard_store.moc"
