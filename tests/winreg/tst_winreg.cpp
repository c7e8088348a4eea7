// What only the registry stand-in has: its store file, as other programs
// read it. The registry calls' results are in the conformance table
// (registry_calls.txt); a store the process cannot write is tested with the
// guard store.

#include "temp_store.h"
#include "winreg.h"

#include <QtTest>

class TestWinreg : public QObject {
  Q_OBJECT

 private slots:
  // The file is what the README describes to other programs: WAL, the two
  // tables, every parent key, names kept as written but matched without
  // case, REG_DWORD bytes little-endian, and values others write seen at once.
  void storeFile() {
    const TempStore store;
    QVERIFY(store.isValid());
    HKEY key = nullptr;
    const BYTE one[4] = {1, 0, 0, 0};
    QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Brivane", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr),
             ERROR_SUCCESS);
    QCOMPARE(RegSetValueExA(key, "Gpio0Value", 0, REG_DWORD, one, 4), ERROR_SUCCESS);
    QCOMPARE(store.query("PRAGMA journal_mode"), "wal");
    QCOMPARE(store.query("SELECT group_concat(path, '|') FROM (SELECT path FROM reg_keys ORDER BY path)"),
             "HKEY_LOCAL_MACHINE\\SOFTWARE|HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel|"
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane");
    QCOMPARE(store.query("SELECT name || ':' || type || ':' || hex(data) FROM reg_values"
                           " WHERE key = 'hkey_local_machine\\software\\vantrel\\brivane' AND name = 'GPIO0VALUE'"),
             "Gpio0Value:4:01000000");
    QCOMPARE(store.query("INSERT INTO reg_values VALUES"
                           " ('HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane', 'Extra', 3, x'0A0B')"),
             "");
    BYTE data[4] = {};
    DWORD type = 0, size = sizeof data;
    QCOMPARE(RegQueryValueExA(key, "extra", nullptr, &type, data, &size), ERROR_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(data), int(size)).toHex() + char('0' + type), "0a0b3");
    RegCloseKey(key);
  }
};

QTEST_APPLESS_MAIN(TestWinreg)
#include "tst_winreg.moc"
