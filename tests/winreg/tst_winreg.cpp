// What only the registry stand-in has: its transactions, its refusal of
// another program's file, and its store file as other programs read it. The
// registry calls' results are in the conformance table (registry_calls.txt);
// a store the process cannot write is tested with the guard store.

#include "temp_store.h"
#include "winreg.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Result codes and value types by their Windows names, without the prefix.
const QMap<QString, LONG> codes = {
    {"SUCCESS", ERROR_SUCCESS},      {"FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
    {"ACCESS_DENIED", ERROR_ACCESS_DENIED}, {"INVALID_HANDLE", ERROR_INVALID_HANDLE},
    {"BAD_PATHNAME", ERROR_BAD_PATHNAME},   {"MORE_DATA", ERROR_MORE_DATA},
    {"INVALID_PARAMETER", ERROR_INVALID_PARAMETER}, {"NOT_REGISTRY_FILE", ERROR_NOT_REGISTRY_FILE},
    {"CANTWRITE", ERROR_CANTWRITE}};
const QMap<QString, DWORD> types = {{"SZ", REG_SZ}, {"BINARY", REG_BINARY}, {"DWORD", REG_DWORD}};

}  // namespace

class TestWinreg : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    store_ = std::make_unique<TempStore>();
    QVERIFY(store_->isValid());
  }
  void cleanup() {
    for (HKEY key : opened_) RegCloseKey(key);
    opened_.clear();
    store_.reset();
  }

  // A step is "call handle name [argument] -> result". Handles: HKLM, HKCU,
  // last (the key the row last created or opened), null, bogus. Arguments:
  // `all` opens with KEY_ALL_ACCESS (else KEY_READ); a set writes TYPE=hex;
  // a query offers a buffer of that many bytes (64 when not given) or none
  // (`null`). Results: the code, then for a create "new" or "existing", for a
  // query TYPE=hex when it read the bytes, TYPE/size when it could not.
  // begin, commit and rollback are the stand-in's transaction calls.
  void calls_data() {
    QTest::addColumn<QString>("file");  // "foreign" (another program's tables), "refusing" (value "bad") or new
    QTest::addColumn<QStringList>("steps");
    const auto row = [](const char *tag, const QStringList &steps, const char *file = "") {
      QTest::newRow(tag) << file << steps;
    };
    const QString key = "create HKLM K -> SUCCESS new";
    row("another program's file", {"open HKLM K -> NOT_REGISTRY_FILE", "create HKLM K -> NOT_REGISTRY_FILE",
                                   "set HKLM v DWORD=01000000 -> NOT_REGISTRY_FILE", "begin -> NOT_REGISTRY_FILE"},
        "foreign");
    row("transaction committed", {"begin -> SUCCESS", key, "set last v DWORD=01000000 -> SUCCESS",
                                  "begin -> INVALID_PARAMETER", "commit -> SUCCESS",
                                  "query last v -> SUCCESS DWORD=01000000", "commit -> INVALID_PARAMETER"});
    // After a write that failed, nothing of the transaction may be committed.
    row("transaction with a failed write",
        {"begin -> SUCCESS", key, "set last v DWORD=01000000 -> SUCCESS", "set last bad DWORD=01000000 -> CANTWRITE",
         "commit -> CANTWRITE", "open HKLM K -> FILE_NOT_FOUND", "query HKLM v -> FILE_NOT_FOUND"},
        "refusing");
    row("transaction rolled back", {"begin -> SUCCESS", key, "set last v DWORD=01000000 -> SUCCESS",
                                    "query last v -> SUCCESS DWORD=01000000", "rollback -> SUCCESS",
                                    "open HKLM K -> FILE_NOT_FOUND", "query HKLM v -> FILE_NOT_FOUND"});
  }

  void calls() {
    QFETCH(QString, file);
    QFETCH(QStringList, steps);
    if (!file.isEmpty()) {
      if (file == "refusing") {  // the store's tables first, then a trigger in the file itself
        HKEY root = nullptr;
        QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
                 ERROR_SUCCESS);
        RegCloseKey(root);
      }
      sqlite3 *db = nullptr;
      sqlite3_open(qgetenv("VNKESTRIX_REGISTRY").constData(), &db);
      const char *sql = file == "foreign" ? "CREATE TABLE photos(id INTEGER)"
                                          : "CREATE TRIGGER refuse BEFORE INSERT ON reg_values WHEN NEW.name = 'bad'"
                                            " BEGIN SELECT RAISE(ABORT, 'refused'); END";
      QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    runScript(steps);
  }

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

 private:
  void runScript(const QStringList &steps) {
    for (const QString &line : steps) {
      const QString step = line.section(" -> ", 0, 0);
      QCOMPARE(step + " -> " + run(step.split(' ')), line);
    }
  }

  // Runs one step; returns its result in the rows' notation.
  QString run(const QStringList &w) {
    const QMap<QString, HKEY> roots = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKCU", HKEY_CURRENT_USER}, {"last", last_},
                                       {"bogus", reinterpret_cast<HKEY>(std::uintptr_t{0x12345678})}};
    const HKEY key = roots.value(w.value(1));
    const QByteArray name = w.value(2) == "\"\"" ? QByteArray("") : w.value(2).toLatin1();
    LONG rc = ERROR_SUCCESS;
    QString detail;
    if (w[0] == "create" || w[0] == "open") {
      HKEY opened = nullptr;
      DWORD disposition = 0;
      rc = w[0] == "open" ? RegOpenKeyExA(key, name, 0, w.value(3) == "all" ? KEY_ALL_ACCESS : KEY_READ, &opened)
                          : RegCreateKeyExA(key, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                            nullptr, &opened, &disposition);
      if (rc == ERROR_SUCCESS) opened_.push_back(last_ = opened);
      if (rc == ERROR_SUCCESS && w[0] == "create")
        detail = disposition == REG_CREATED_NEW_KEY       ? " new"
                 : disposition == REG_OPENED_EXISTING_KEY ? " existing"
                                                          : " ?";
    } else if (w[0] == "set") {
      const QByteArray data = QByteArray::fromHex(w.at(3).section('=', 1).toLatin1());
      rc = RegSetValueExA(key, name, 0, types.value(w.at(3).section('=', 0, 0)),
                          reinterpret_cast<const BYTE *>(data.constData()), DWORD(data.size()));
    } else if (w[0] == "query") {
      const bool none = w.value(3) == "null";
      QByteArray buffer(w.value(3, "64").toInt(), '\xEE');
      DWORD type = 0xDEAD, size = DWORD(buffer.size());
      rc = RegQueryValueExA(key, name, nullptr, &type, none ? nullptr : reinterpret_cast<BYTE *>(buffer.data()), &size);
      const QString typeName = types.key(type, QString::number(type));
      if (rc == ERROR_SUCCESS && !none) detail = " " + typeName + "=" + buffer.left(int(size)).toHex();
      else if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) detail = QStringLiteral(" %1/%2").arg(typeName).arg(size);
    } else if (w[0] == "begin") {
      rc = VnkRegBeginTransaction(1000);
    } else if (w[0] == "commit" || w[0] == "rollback") {
      rc = VnkRegEndTransaction(w[0] == "commit");
    } else {
      rc = RegCloseKey(key);
    }
    return codes.key(rc, QString::number(rc)) + detail;
  }

  std::unique_ptr<TempStore> store_;
  std::vector<HKEY> opened_;  // closed after each case, also a failed one
  HKEY last_ = nullptr;
};

QTEST_APPLESS_MAIN(TestWinreg)
#include "tst_winreg.moc"
