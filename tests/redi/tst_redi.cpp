// libredi over stand-ins for hidapi and for its own system calls
// (redi_node.h), driven by the call table redi_calls.txt: which device a
// find picks and what it puts in the record, the bytes that reach hidapi
// (report ID first) and what comes back into the caller's buffer, the
// exchange lock around every exchange, handles kept and dropped, a
// controller found again on its new node after a re-plug, and the listing.
// The kernel suite proves the same on real USB; this is the fast proof.
//
// A case ("# title", then "##" comments) is steps: "plug PATH IDS WORDS" adds
// a device, "mark PATH WORDS" changes one, "env VALUE" sets REDI_DEVICE; the
// calls are "find [SELECTOR [null]]", "feature GET", "input LENGTH",
// "output LENGTH" and "wait LENGTH TIMEOUT" (the wait for an input report,
// "none" when it ended without one), each optionally with the device name ("null", "empty")
// and "null" for no buffer or "USBSN=TEXT" for a buffer that writes TEXT as
// the serial number, and "list CAPACITY [null]" (into an array of three).
// After "->" the result: a find's return value and record as "path
// release-bytes [serial] [live]" ("-": untouched), a report call's
// "ok"/"failed", the caller's 40-byte buffer (it passes 00 01 .. 27) and
// Redi_LastFailure in brackets when it tells something, the listing's count
// and entries ("-": untouched); after "|" what reached the
// stand-ins, writes with their bytes. Bytes are shown as runs: "00-20" counts
// up, "00*30" repeats. IDS is the controller's USB IDs, "X{N}" N times X.
//
// Device words: refuses (cannot be opened), gone (unplugged), locked
// (another process holds the exchange lock), other-page (not the vendor's
// usage page), release=hhhh, serial=TEXT (else none), live=TEXT (what the
// device tells when asked), link=PATH (a symlink to the node), reply=N
// (reads return N bytes 80 81 ..; else 33), fail=CALL (that hidapi call
// fails), quiet (no input report comes). A later word of a name overrides an earlier one.
#include "../support/case_table.h"
#include "redi.h"
#include "redi_internal.h"
#include "redi_node.h"

#include <hidapi.h>

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <numeric>

struct hid_device_ { QString path; };

namespace {

QList<QStringList> devices;
QStringList traffic;
int nodes = 0; // descriptors of the library's own, open now

QStringList &device(const QString &path) { return *std::find_if(devices.begin(), devices.end(), [&](auto &d) { return d[0] == path; }); }
QString option(const QStringList &d, const QString &name) { return d.value(d.lastIndexOf(QRegularExpression(name + "=.*"))).section('=', 1); }
QString text(const char *field, size_t size) { return QString::fromLatin1(field, int(qstrnlen(field, size))); }

// Bytes as runs: "0a-0f" counts up, "00*5" repeats.
QString runs(const void *data, size_t size)
{
    const auto *b = static_cast<const uchar *>(data);
    QStringList out;
    for (size_t i = 0, n; i < size; i += n) {
        const int step = i + 1 < size && b[i + 1] == b[i] ? 0 : 1;
        for (n = 1; i + n < size && b[i + n] == uchar(b[i] + n * step); ++n) {}
        out << QString::asprintf(n == 1 ? "%02x" : step ? "%02x-%02x" : "%02x*%d", b[i], step ? int(b[i + n - 1]) : int(n));
    }
    return out.join(' ');
}

int exchange(hid_device *dev, const char *name, const uchar *data, size_t length, uchar *into = nullptr)
{
    traffic << QStringLiteral("%1 %2 ").arg(name, dev->path) + (into ? QString::number(length) : runs(data, length));
    const QStringList &d = device(dev->path);
    if (option(d, "fail") == name || d.contains("gone") || (into && into[0] != 0))
        return -1; // a read wants report ID 0 in byte 0
    const size_t n = into ? std::min<size_t>(length, option(d, "reply").isEmpty() ? 33 : option(d, "reply").toUInt()) : length;
    for (size_t i = 0; into && i < length; ++i)
        into[i] = i < n ? uchar(0x80 + i) : 0xEE; // and behind a short reply whatever the buffer held
    return int(n);
}

// A device record or a listing's entry as "path release-bytes [serial]", "-" when untouched.
template <typename Entry>
QString entry(const Entry &e, const QString &more)
{
    return runs(&e, sizeof e) == QString::asprintf("a5*%zu", sizeof e) ? "-"
        : text(e.deviceName, sizeof e.deviceName) + " " + runs(e.releaseNumber, 2) + " [" + text(e.serialNumber, sizeof e.serialNumber) + "]" + more;
}

} // namespace

extern "C" {
int hid_init() { traffic << "init"; return 0; }
int hid_exit() { return 0; }
hid_device_info *hid_enumerate(unsigned short vendor, unsigned short product)
{
    const QString ids = QString::asprintf("%04x:%04x", vendor, product);
    traffic << "enumerate " + ids;
    hid_device_info *first = nullptr, **last = &first;
    for (const QStringList &d : devices) // each new entry goes where `last` points, the list's end
        if (d[1] == ids && !d.contains("gone"))
            last = &(*last = new hid_device_info{strdup(qPrintable(d[0])), vendor, product,
                                                 option(d, "serial").isEmpty() ? nullptr : wcsdup(option(d, "serial").toStdWString().c_str()),
                                                 option(d, "release").toUShort(nullptr, 16), nullptr, nullptr,
                                                 ushort(d.contains("other-page") ? 1 : 0xFF00), 0, 0, nullptr, {}})->next;
    return first;
}
void hid_free_enumeration(hid_device_info *d)
{
    for (; d; delete std::exchange(d, d->next)) {
        free(d->path);
        free(d->serial_number);
    }
}
hid_device *hid_open_path(const char *path)
{
    traffic << QStringLiteral("open ") + path;
    const bool refused = device(path).contains("refuses") || device(path).contains("gone");
    if (refused)
        errno = EACCES; // as hidraw's open(2) leaves it
    return refused ? nullptr : new hid_device{path};
}
void hid_close(hid_device *dev) { traffic << "close " + dev->path; delete dev; }
int hid_send_feature_report(hid_device *d, const uchar *p, size_t n) { return exchange(d, "send", p, n); }
int hid_write(hid_device *d, const uchar *p, size_t n) { return exchange(d, "write", p, n); }
int hid_get_feature_report(hid_device *d, uchar *p, size_t n) { return exchange(d, "get", p, n, p); }
int hid_get_input_report(hid_device *d, uchar *p, size_t n) { return exchange(d, "input", p, n, p); }
// The wait shows only whether it has a limit: the time left is the clock's.
int hid_read_timeout(hid_device *d, uchar *p, size_t n, int ms)
{
    p[0] = 0; // no report ID comes from a device that does not number its reports
    const int got = exchange(d, "read", p, n, p);
    traffic.last() += ms > 0 ? " limit" : " " + QString::number(ms);
    return got > 0 && device(d->path).contains("quiet") ? 0 : got;
}
}

// A descriptor is the device's index in the table.
namespace redi::node {
int open(const std::string &path) { ++nodes; return int(devices.indexOf(device(QString::fromStdString(path)))); }
void close(int) { --nodes; }
bool lock(int fd, int) { traffic << "lock " + devices[fd][0]; return !devices[fd].contains("locked"); }
void unlock(int fd) { traffic << "unlock " + devices[fd][0]; }
bool gone(int fd) { return devices[fd].contains("gone"); }
std::string resolve(const std::string &path)
{
    const auto d = std::find_if(devices.begin(), devices.end(), [&](auto &d) { return option(d, "link") == path.c_str(); });
    return d != devices.end() ? d->at(0).toStdString() : path;
}
bool liveSerialNumber(const std::string &path, std::wstring &serial)
{
    serial = option(device(QString::fromStdString(path)), "live").toStdWString();
    return !serial.empty();
}
} // namespace redi::node

namespace {

// One step of a case; null for the steps that change the stand-ins.
QString run(QStringList w)
{
    if (w[0] == "plug")
        devices.append(w.mid(1));
    else if (w[0] == "mark")
        device(w[1]) << w.mid(2);
    else if (w[0] == "env")
        qputenv("REDI_DEVICE", w.value(1).toUtf8());
    if (w[0] == "plug" || w[0] == "mark" || w[0] == "env")
        return QString(); // a change to the stand-ins, not a call
    const bool null = w.last() == "null";
    RediDeviceRecord r;
    RediControllerInfo list[3];
    std::memset(&r, 0xA5, sizeof r);
    std::memset(list, 0xA5, sizeof list);
    if (w[0] == "find") {
        const int found = Usk_FindSensor_a(w.value(1, "19").toInt(), 0, 0, 0, 0, 0, 0, null ? nullptr : &r);
        return QString::number(found) + " " + entry(r, r.flags == REDI_RECORD_SERIAL_LIVE ? " live" : "");
    }
    if (w[0] == "list") {
        QString shown = QString::number(Redi_EnumerateControllers(null ? nullptr : list, w[1].toInt()));
        for (int i = 0; i < (null ? 0 : 3); ++i)
            shown += "; " + entry(list[i], " " + QString::number(list[i].openError));
        return shown;
    }
    const QString timeout = w[0] == "wait" ? w.takeAt(2) : QString();
    uchar buffer[40] = {0, 0, 1, 20, 0, 0, 'U', 'S', 'B', 'S', 'N', 20, 3};
    const QString serial = w.value(3).startsWith("USBSN=") ? w[3].mid(6) : QString();
    if (serial.isNull())
        std::iota(buffer, buffer + 40, 0);
    for (int i = 0; i < serial.size(); ++i)
        buffer[13 + 2 * i] = uchar(serial[i].unicode()); // and the high byte 0
    const QByteArray name = w.value(2, "/dev/hidraw1").toLatin1();
    const char *const to = name == "null" ? nullptr : name == "empty" ? "" : name.constData();
    uchar *const report = w.size() > 3 && null ? nullptr : buffer;
    // A wait gives 1, 0 (none) or -1 (failed): 1, 2 or 0 here, as a result's index.
    const int ok = w[0] == "feature" ? Usk_Feature_a(to, report, w[1].toInt())
        : w[0] == "input" ? Usk_GetCurrentInReport_a(to, report, w[1].toInt())
        : w[0] == "wait"  ? [](int got) { return got < 0 ? 0 : got ? 1 : 2; }(Redi_ReadInputReport(to, report, w[1].toInt(), timeout.toInt())) : Usk_SendOutReport_a(to, report, w[1].toInt(), 1000);
    const QString failure = QString::fromUtf8(Redi_LastFailure());
    return QStringList{"failed ", "ok ", "none "}[ok] + runs(buffer, 40) + (failure.isEmpty() ? "" : " (" + failure + ")");
}

} // namespace

class TestRedi : public QObject {
    Q_OBJECT

private slots:
    void calls_data()
    {
        QTest::addColumn<QStringList>("steps");
        // IDS: the controller's IDs as CMake read them for the udev rule.
        QString all = fileText(REDI_CALLS).replace("IDS", REDI_CMAKE_VENDOR_ID ":" REDI_CMAKE_PRODUCT_ID);
        const QRegularExpression repeat("(.)\\{(\\d+)\\}");
        for (auto m = repeat.match(all); m.hasMatch(); m = repeat.match(all))
            all.replace(m.capturedStart(), m.capturedLength(), m.captured(1).repeated(m.captured(2).toInt()));
        for (const auto &[title, steps] : caseBlocks(all))
            QTest::newRow(qPrintable(title)) << steps;
    }

    void calls()
    {
        QFETCH(QStringList, steps);
        qunsetenv("REDI_DEVICE");
        for (const QString &line : steps) {
            traffic.clear();
            const QString step = line.section(" -> ", 0, 0), result = run(step.split(' '));
            QCOMPARE(step + (result.isNull() ? "" : " -> " + result) + (traffic.isEmpty() ? "" : " | " + traffic.join(", ")), line);
        }
    }

    // Every case starts afresh, and leaves no descriptor of the library's own open.
    void cleanup()
    {
        redi::closeAllDevices();
        devices.clear();
        QCOMPARE(nodes, 0);
    }
};

QTEST_APPLESS_MAIN(TestRedi)
#include "tst_redi.moc"
