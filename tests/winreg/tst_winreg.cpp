// The registry stand-in against the result codes Windows gives. Each row is
// a short script of calls on a fresh store; every call states its result.

#include "temp_store.h"
#include "winreg.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

enum class Op { Create, Open, Set, Query, Close };

// The handle a step works on: a root, the key the last create/open of the
// row returned, 0, or a value that was never a handle.
enum class On { Hklm, Hkcu, Last, Zero, Bogus };

constexpr DWORD noBuffer = ~DWORD{0};  // query with a NULL data pointer

struct Step {
  Op op;
  On on;
  const char *name;  // sub-key path (create, open) or value name (set, query)
  LONG rc;           // the result Windows gives
  REGSAM access = KEY_ALL_ACCESS;
  DWORD type = REG_NONE;   // set: the type written; query: the type expected
  QByteArray data;         // set: the bytes written; query: the whole value expected
  DWORD buffer = 64;       // query: the buffer size offered
  DWORD disposition = 0;   // create: the disposition expected (0: not checked)
};

using Script = std::vector<Step>;

Step create(const char *path, LONG rc, DWORD disposition = 0, On on = On::Hklm) {
  return {Op::Create, on, path, rc, KEY_ALL_ACCESS, REG_NONE, {}, 0, disposition};
}
Step open(const char *path, LONG rc, REGSAM access = KEY_READ, On on = On::Hklm) {
  return {Op::Open, on, path, rc, access, REG_NONE, {}, 0, 0};
}
Step set(const char *name, DWORD type, const QByteArray &data, LONG rc, On on = On::Last) {
  return {Op::Set, on, name, rc, KEY_ALL_ACCESS, type, data, 0, 0};
}
Step query(const char *name, LONG rc, DWORD type = REG_NONE, const QByteArray &data = {},
           DWORD buffer = 64, On on = On::Last) {
  return {Op::Query, on, name, rc, KEY_ALL_ACCESS, type, data, buffer, 0};
}
Step closeKey(On on, LONG rc) { return {Op::Close, on, "", rc, 0, REG_NONE, {}, 0, 0}; }

QByteArray dword(quint32 v) {
  const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  return QByteArray(bytes, 4);
}
const QByteArray sz2("2\0", 2);  // the string "2" as REG_SZ, with its terminator
const QByteArray eightBytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);

}  // namespace

Q_DECLARE_METATYPE(Script)

class TestWinreg : public QObject {
  Q_OBJECT

 private slots:
  void init() { store_ = std::make_unique<TempStore>(); }
  void cleanup() {
    for (HKEY key : opened_) RegCloseKey(key);
    opened_.clear();
    store_.reset();
  }

  void calls_data();
  void calls();
  void storeFile();

 private:
  std::unique_ptr<TempStore> store_;
  std::vector<HKEY> opened_;  // closed after each case, also a failed one
};

void TestWinreg::calls_data() {
  QTest::addColumn<bool>("usable");
  QTest::addColumn<Script>("script");

  QTest::newRow("nested create, then reopen")
      << true
      << Script{create("A\\B\\C", ERROR_SUCCESS, REG_CREATED_NEW_KEY),
                open("A", ERROR_SUCCESS), open("A\\B", ERROR_SUCCESS),
                open("A\\B\\C", ERROR_SUCCESS, KEY_ALL_ACCESS),
                create("A\\B\\C", ERROR_SUCCESS, REG_OPENED_EXISTING_KEY),
                create("A\\B\\D", ERROR_SUCCESS, REG_CREATED_NEW_KEY)};
  QTest::newRow("create below an open key")
      << true
      << Script{create("A", ERROR_SUCCESS), create("B\\C", ERROR_SUCCESS, REG_CREATED_NEW_KEY, On::Last),
                open("A\\B\\C", ERROR_SUCCESS), open("B", ERROR_FILE_NOT_FOUND)};
  QTest::newRow("key names ignore case")
      << true
      << Script{create("Software\\Vantrel", ERROR_SUCCESS, REG_CREATED_NEW_KEY),
                open("SOFTWARE\\VANTREL", ERROR_SUCCESS),
                create("software\\vantrel", ERROR_SUCCESS, REG_OPENED_EXISTING_KEY)};
  QTest::newRow("value names ignore case")
      << true
      << Script{create("K", ERROR_SUCCESS), set("GPIO0 Value", REG_DWORD, dword(1), ERROR_SUCCESS),
                query("gpio0 VALUE", ERROR_SUCCESS, REG_DWORD, dword(1)),
                set("GPIO0 VALUE", REG_DWORD, dword(2), ERROR_SUCCESS),
                query("GPIO0 Value", ERROR_SUCCESS, REG_DWORD, dword(2))};
  QTest::newRow("missing key")
      << true << Script{open("No\\Such", ERROR_FILE_NOT_FOUND), create("No", ERROR_SUCCESS),
                        open("No\\Such", ERROR_FILE_NOT_FOUND)};
  QTest::newRow("missing value")
      << true << Script{create("K", ERROR_SUCCESS), query("Absent", ERROR_FILE_NOT_FOUND),
                        query("Absent", ERROR_FILE_NOT_FOUND, REG_NONE, {}, noBuffer)};
  QTest::newRow("values belong to their key")
      << true << Script{create("A", ERROR_SUCCESS), set("v", REG_DWORD, dword(1), ERROR_SUCCESS),
                        create("B", ERROR_SUCCESS), query("v", ERROR_FILE_NOT_FOUND)};
  QTest::newRow("roots are separate")
      << true << Script{set("v", REG_DWORD, dword(1), ERROR_SUCCESS, On::Hkcu),
                        query("v", ERROR_FILE_NOT_FOUND, REG_NONE, {}, 64, On::Hklm),
                        query("v", ERROR_SUCCESS, REG_DWORD, dword(1), 64, On::Hkcu)};
  QTest::newRow("value of another type")
      << true << Script{create("K", ERROR_SUCCESS), set("GPIO3 Action", REG_SZ, sz2, ERROR_SUCCESS),
                        query("GPIO3 Action", ERROR_SUCCESS, REG_SZ, sz2)};
  QTest::newRow("buffer too small")
      << true << Script{create("K", ERROR_SUCCESS), set("b", REG_BINARY, eightBytes, ERROR_SUCCESS),
                        query("b", ERROR_MORE_DATA, REG_BINARY, eightBytes, 4),
                        query("b", ERROR_SUCCESS, REG_BINARY, eightBytes, 8)};
  QTest::newRow("no buffer gives size and type")
      << true << Script{create("K", ERROR_SUCCESS), set("b", REG_BINARY, eightBytes, ERROR_SUCCESS),
                        query("b", ERROR_SUCCESS, REG_BINARY, eightBytes, noBuffer)};
  QTest::newRow("empty value")
      << true << Script{create("K", ERROR_SUCCESS), set("e", REG_BINARY, {}, ERROR_SUCCESS),
                        query("e", ERROR_SUCCESS, REG_BINARY, {}, 0)};
  QTest::newRow("set replaces another type")
      << true << Script{create("K", ERROR_SUCCESS), set("GPIO3 Action", REG_SZ, sz2, ERROR_SUCCESS),
                        set("GPIO3 Action", REG_DWORD, dword(2), ERROR_SUCCESS),
                        query("GPIO3 Action", ERROR_SUCCESS, REG_DWORD, dword(2))};
  QTest::newRow("read-only handle")
      << true << Script{create("K", ERROR_SUCCESS), open("K", ERROR_SUCCESS, KEY_READ),
                        set("v", REG_DWORD, dword(1), ERROR_ACCESS_DENIED),
                        query("v", ERROR_FILE_NOT_FOUND)};
  QTest::newRow("path beginning with a backslash")
      << true << Script{create("\\K", ERROR_BAD_PATHNAME)};
  QTest::newRow("unwritable store")
      << false << Script{create("K", ERROR_ACCESS_DENIED),
                         open("", ERROR_ACCESS_DENIED, KEY_ALL_ACCESS),
                         set("v", REG_DWORD, dword(1), ERROR_ACCESS_DENIED, On::Hklm),
                         open("K", ERROR_FILE_NOT_FOUND, KEY_READ),
                         query("v", ERROR_FILE_NOT_FOUND, REG_NONE, {}, 64, On::Hklm)};
  QTest::newRow("roots are never closed")
      << true << Script{closeKey(On::Hklm, ERROR_SUCCESS), closeKey(On::Hklm, ERROR_SUCCESS),
                        closeKey(On::Hkcu, ERROR_SUCCESS),
                        set("v", REG_DWORD, dword(1), ERROR_SUCCESS, On::Hklm),
                        create("K", ERROR_SUCCESS, REG_CREATED_NEW_KEY, On::Hklm)};
  QTest::newRow("closed handle")
      << true << Script{create("K", ERROR_SUCCESS), closeKey(On::Last, ERROR_SUCCESS),
                        closeKey(On::Last, ERROR_INVALID_HANDLE),
                        query("v", ERROR_INVALID_HANDLE),
                        set("v", REG_DWORD, dword(1), ERROR_INVALID_HANDLE),
                        create("C", ERROR_INVALID_HANDLE, 0, On::Last)};
  QTest::newRow("null and made-up handles")
      << true << Script{closeKey(On::Zero, ERROR_INVALID_HANDLE),
                        closeKey(On::Bogus, ERROR_INVALID_HANDLE),
                        query("v", ERROR_INVALID_HANDLE, REG_NONE, {}, 64, On::Zero),
                        open("K", ERROR_INVALID_HANDLE, KEY_READ, On::Bogus)};
}

void TestWinreg::calls() {
  QFETCH(bool, usable);
  QFETCH(Script, script);
  QVERIFY(store_->isValid());
  if (!usable) store_->makeUnusable();

  HKEY last = nullptr;
  const auto handle = [&](On on) {
    switch (on) {
      case On::Hklm: return HKEY_LOCAL_MACHINE;
      case On::Hkcu: return HKEY_CURRENT_USER;
      case On::Last: return last;
      case On::Zero: return HKEY{};
      case On::Bogus: return reinterpret_cast<HKEY>(std::uintptr_t{0x12345678});
    }
    return HKEY{};
  };

  for (std::size_t i = 0; i < script.size(); ++i) {
    const Step &step = script[i];
    const QByteArray where = "step " + QByteArray::number(int(i)) + " (" + step.name + ")";
    LONG rc = ERROR_SUCCESS;
    switch (step.op) {
      case Op::Create:
      case Op::Open: {
        HKEY key = nullptr;
        DWORD disposition = 0;
        rc = step.op == Op::Create
                 ? RegCreateKeyExA(handle(step.on), step.name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   step.access, nullptr, &key, &disposition)
                 : RegOpenKeyExA(handle(step.on), step.name, 0, step.access, &key);
        QVERIFY2(rc == step.rc, where + ": result " + QByteArray::number(rc));
        if (rc == ERROR_SUCCESS) {
          QVERIFY2(key != nullptr, where);
          opened_.push_back(key);
          last = key;
        }
        if (rc == ERROR_SUCCESS && step.disposition != 0) {
          QVERIFY2(disposition == step.disposition, where + ": disposition");
        }
        break;
      }
      case Op::Set:
        rc = RegSetValueExA(handle(step.on), step.name, 0, step.type,
                            reinterpret_cast<const BYTE *>(step.data.constData()),
                            DWORD(step.data.size()));
        QVERIFY2(rc == step.rc, where + ": result " + QByteArray::number(rc));
        break;
      case Op::Query: {
        DWORD type = 0xDEAD;
        QByteArray buffer(step.buffer == noBuffer ? 0 : int(step.buffer), '\xEE');
        DWORD size = step.buffer == noBuffer ? 0 : step.buffer;
        rc = RegQueryValueExA(handle(step.on), step.name, nullptr, &type,
                              step.buffer == noBuffer ? nullptr : reinterpret_cast<BYTE *>(buffer.data()),
                              &size);
        QVERIFY2(rc == step.rc, where + ": result " + QByteArray::number(rc));
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
          QVERIFY2(type == step.type, where + ": type " + QByteArray::number(type));
          QVERIFY2(size == DWORD(step.data.size()), where + ": size " + QByteArray::number(size));
        }
        if (rc == ERROR_SUCCESS && step.buffer != noBuffer) {
          QVERIFY2(buffer.left(int(size)) == step.data, where + ": bytes");
        }
        break;
      }
      case Op::Close:
        rc = RegCloseKey(handle(step.on));
        QVERIFY2(rc == step.rc, where + ": result " + QByteArray::number(rc));
        break;
    }
  }
}

// The file is what the README describes to other programs: WAL, the two
// tables, names kept as written but matched without case, REG_DWORD bytes
// little-endian.
void TestWinreg::storeFile() {
  HKEY key = nullptr;
  QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Brivane", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
           ERROR_SUCCESS);
  const BYTE one[4] = {1, 0, 0, 0};
  QCOMPARE(RegSetValueExA(key, "GPIO0 Value", 0, REG_DWORD, one, 4), ERROR_SUCCESS);
  QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);

  QCOMPARE(store_->query("PRAGMA journal_mode"), std::string("wal"));
  QCOMPARE(store_->query("SELECT group_concat(path, '|') FROM (SELECT path FROM reg_keys ORDER BY path)"),
           std::string("HKEY_LOCAL_MACHINE\\SOFTWARE|HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel|"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane"));
  QCOMPARE(store_->query("SELECT type || ':' || hex(data) FROM reg_values"
                         " WHERE key = 'hkey_local_machine\\software\\vantrel\\brivane'"
                         " AND name = 'GPIO0 VALUE'"),
           std::string("4:01000000"));
  QCOMPARE(store_->query("SELECT name FROM reg_values"), std::string("GPIO0 Value"));

  // A value another program puts in the file is seen at once.
  QCOMPARE(store_->query("INSERT INTO reg_values VALUES"
                         " ('HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Brivane', 'Extra', 3, x'0A0B')"),
           std::string());
  QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\vantrel\\brivane", 0, KEY_READ, &key),
           ERROR_SUCCESS);
  DWORD type = 0;
  BYTE data[8] = {};
  DWORD size = sizeof data;
  QCOMPARE(RegQueryValueExA(key, "extra", nullptr, &type, data, &size), ERROR_SUCCESS);
  QCOMPARE(type, REG_BINARY);
  QCOMPARE(size, DWORD{2});
  QCOMPARE(data[1], BYTE{0x0B});
  QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
}

QTEST_APPLESS_MAIN(TestWinreg)
#include "tst_winreg.moc"
