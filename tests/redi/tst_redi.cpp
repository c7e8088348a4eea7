// The HID library over a fake hidapi: which device it picks, what it puts in
// the device record, which buffers and lengths reach hidapi, and how it keeps
// and drops device handles.
#include "fake_hidapi.h"
#include "redi.h"
#include "redi_internal.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

namespace {

// One of the three report calls; `arg` is the get flag of a feature exchange
// and the length of the others.
using Io = int (*)(const char *name, unsigned char *report, int arg);
const Io feature = Usk_Feature_a, input = Usk_GetCurrentInReport_a;
const Io output = [](const char *name, unsigned char *report, int length) {
    return Usk_SendOutReport_a(name, report, length, 1000);
};

int find(RediDeviceRecord *record, int selector = 19)
{
    return Usk_FindSensor_a(selector, 0, 0, 0, 0, 0, 0, record);
}

// The controller's IDs as CMake read them for the udev rule: the library
// must look for the same device.
const QString ids = QStringLiteral(REDI_CMAKE_VENDOR_ID ":" REDI_CMAKE_PRODUCT_ID);
const char *const controller = "/dev/hidraw1";

// A device as "path vvvv:pppp", then any of "refuses" (cannot be opened),
// "release=hhhh", "serial=TEXT" (else "SN-" and the path), "no-serial",
// "live=TEXT" (the serial number the device tells), "page=hhhh" (usage
// page, else the vendor page) and "link=PATH" (a symlink to the node).
fake::Device fakeDevice(const QString &row)
{
    const QStringList words = row.split(' ');
    const auto option = [&](const char *name) {
        return words.filter(QRegularExpression(QStringLiteral("^%1=").arg(name))).value(0).section('=', 1);
    };
    fake::Device d;
    d.path = words.at(0).toStdString();
    d.ids = words.at(1).toStdString();
    d.openable = !words.contains("refuses");
    d.hasSerial = !words.contains("no-serial");
    d.releaseNumber = option("release").toUShort(nullptr, 16);
    d.serial = (option("serial").isEmpty() ? "SN-" + words.at(0) : option("serial")).toStdWString();
    d.live = option("live").toStdWString();
    d.usagePage = option("page").isEmpty() ? 0xFF00 : option("page").toUShort(nullptr, 16);
    d.link = option("link").toStdString();
    return d;
}

void useDevices(const QStringList &rows)
{
    std::vector<fake::Device> devices;
    for (const QString &row : rows)
        devices.push_back(fakeDevice(row));
    fake::reset(devices);
}

QByteArray bytes(const void *data, size_t size)
{
    return QByteArray(static_cast<const char *>(data), int(size));
}

// The record's fields as "name release-bytes-in-hex serial", and " live"
// when the serial number came from the device; a text field ends at its
// NUL, or with the field when there is none.
QByteArray shown(const RediDeviceRecord &r)
{
    const auto text = [](const char *field, size_t size) { return QByteArray(field, int(qstrnlen(field, size))); };
    return text(r.deviceName, sizeof r.deviceName) + " " + bytes(r.releaseNumber, 2).toHex() + " "
        + text(r.serialNumber, sizeof r.serialNumber) + (r.flags == REDI_RECORD_SERIAL_LIVE ? " live" : "");
}

} // namespace

Q_DECLARE_METATYPE(Io)

class TestRedi : public QObject {
    Q_OBJECT

private slots:
    void init() { cleanup(); }
    void cleanup()
    {
        redi::closeAllDevices();
        fake::reset();
        qunsetenv("REDI_DEVICE");
    }

    void findSensor_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("env");         // REDI_DEVICE; null: unset
        QTest::addColumn<QByteArray>("record");   // as shown(); empty: nothing found
        QTest::addColumn<QStringList>("calls");
        const auto row = [](const char *tag, QStringList devices, const QString &env, const QByteArray &record,
                            QStringList calls) {
            QTest::newRow(tag) << devices << env << record << QStringList{"hid_init"} + calls;
        };
        const QString mouse = "/dev/hidraw0 046d:c52b", board = "/dev/hidraw1 " + ids;
        const QString enumBoard = "hid_enumerate " + ids, enumAll = "hid_enumerate 0000:0000";
        const QString open0 = "hid_open_path /dev/hidraw0", open1 = "hid_open_path /dev/hidraw1";
        const QByteArray found0 = "/dev/hidraw0 0000 SN-/dev/hidraw0", found1 = "/dev/hidraw1 0000 SN-/dev/hidraw1";
        const QString unset;

        row("controller among other devices", {mouse, board}, unset, found1, {enumBoard, open1});
        row("first match refuses to open", {board + " refuses", "/dev/hidraw2 " + ids}, unset,
            "/dev/hidraw2 0000 SN-/dev/hidraw2", {enumBoard, open1, "hid_open_path /dev/hidraw2"});
        row("no controller", {mouse}, unset, "", {enumBoard});
        row("only match refuses to open", {mouse, board + " refuses"}, unset, "", {enumBoard, open1});
        row("REDI_DEVICE with IDs", {"/dev/hidraw0 16c0:05df", board}, "16C0:05dF", found0,
            {"hid_enumerate 16c0:05df", open0});
        row("REDI_DEVICE with the controller's path", {mouse, board}, "/dev/hidraw1", found1, {enumBoard, open1});
        row("REDI_DEVICE through a symlink", {mouse, board + " link=/dev/vnkestrix"}, "/dev/vnkestrix", found1,
            {enumBoard, open1});
        row("REDI_DEVICE with another device's path", {mouse, board}, "/dev/hidraw0", "", {enumBoard});
        row("REDI_DEVICE with an absent path", {mouse, board}, "/dev/hidraw7", "", {enumBoard});
        row("REDI_DEVICE with a path that refuses", {mouse, board + " refuses"}, "/dev/hidraw1", "", {enumBoard, open1});
        for (const char *malformed : {"1209:4b5", "1209:4b580", "garbage", "1234:zz", "hidraw1"})
            row(qPrintable(QStringLiteral("REDI_DEVICE %1 is malformed").arg(malformed)), {board}, malformed, "", {});
        row("empty REDI_DEVICE is unset", {board}, "", found1, {enumBoard, open1});
        row("vendor page before another interface", {board + " page=0001", "/dev/hidraw2 " + ids}, unset,
            "/dev/hidraw2 0000 SN-/dev/hidraw2", {enumBoard, "hid_open_path /dev/hidraw2"});
        row("serial number from the device", {board + " serial=PLUGGED live=WRITTEN"}, unset,
            "/dev/hidraw1 0000 WRITTEN live", {enumBoard, open1});

        row("release 1.23", {board + " release=0123 serial=VNK-000123"}, unset, "/dev/hidraw1 2301 VNK-000123",
            {enumBoard, open1});
        row("Latin-1 serial", {board + " release=1000 serial=Caf\u00e9\u00ff"}, unset,
            "/dev/hidraw1 0010 Caf\xe9\xff", {enumBoard, open1});
        row("euro sign has no Latin-1 form", {board + " serial=A\u20acB"}, unset, "/dev/hidraw1 0000 A?B",
            {enumBoard, open1});
        row("no serial", {board + " no-serial"}, unset, "/dev/hidraw1 0000 ", {enumBoard, open1});
        const int serialRoom = int(sizeof(RediDeviceRecord::serialNumber)) - 1;
        row("serial longer than the record", {board + " serial=" + QString(3000, 'S')}, unset,
            "/dev/hidraw1 0000 " + QByteArray(serialRoom, 'S'), {enumBoard, open1});
        const QString longPath = "/dev/" + QString(300, 'p');
        row("path longer than the record", {longPath + " " + ids + " serial=S1"}, unset,
            longPath.left(259).toLatin1() + " 0000 S1", {enumBoard, "hid_open_path " + longPath});
    }

    void findSensor()
    {
        QFETCH(QStringList, devices);
        QFETCH(QString, env);
        QFETCH(QByteArray, record);
        QFETCH(QStringList, calls);

        useDevices(devices);
        if (!env.isNull())
            qputenv("REDI_DEVICE", env.toUtf8());
        RediDeviceRecord found;
        std::memset(&found, 0xA5, sizeof found);

        QCOMPARE(find(&found), record.isEmpty() ? 0 : 1);
        QCOMPARE(fake::log(), calls);
        QCOMPARE(fake::openHandles(), record.isEmpty() ? 0 : 1);
        QCOMPARE(fake::openNodes(), fake::openHandles());
        if (record.isEmpty()) {
            QCOMPARE(bytes(&found, sizeof found), QByteArray(sizeof found, char(0xA5)));
            return;
        }
        QCOMPARE(shown(found), record);

        // Another find fills the record afresh and keeps the open handle.
        for (const QString &device : devices)
            fake::device(device.section(' ', 0, 0).toStdString()).releaseNumber = 0x0205;
        QCOMPARE(find(&found), 1);
        const QList<QByteArray> fields = shown(found).split(' ');
        QCOMPARE(fields.at(1), "0502");
        QCOMPARE(fake::log().filter("hid_open_path " + QString::fromLatin1(fields.at(0))).size(), 1);
        QCOMPARE(fake::openHandles(), 1);
        QCOMPARE(find(&found, 18), 0); // only 19 selects the board controller
    }

    // Bad arguments are refused before hidapi is asked. A call passes the
    // caller's buffer (bytes 0, 1, 2, ... and a guard behind its 33 bytes) and
    // gets the reply (00 41 42 ..., `replySize` bytes) into it. One open
    // serves every call; a failed call closes the handle and the next one
    // opens the device again.
    void reportCalls_data()
    {
        QTest::addColumn<Io>("io");
        QTest::addColumn<int>("arg");
        QTest::addColumn<int>("badArg");
        QTest::addColumn<int>("replySize");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<int>("replaced"); // bytes of the buffer that the reply replaces
        QTest::addColumn<QString>("failing"); // the hidapi function made to fail once

        const QString send = "hid_send_feature_report", get = "hid_get_feature_report", in = "hid_get_input_report";
        const auto on = [](const QString &function, int length) {
            return function + " /dev/hidraw1 " + QString::number(length);
        };
        const QString sendGet = on(send, 33) + "," + on(get, 33);
        QTest::newRow("feature set") << feature << 0 << 2 << 33 << on(send, 33) << 0 << send;
        QTest::newRow("feature get") << feature << 1 << -1 << 33 << sendGet << 33 << send;
        QTest::newRow("feature get, short reply") << feature << 1 << 2 << 3 << sendGet << 33 << get;
        QTest::newRow("input report") << input << 33 << 0 << 33 << on(in, 33) << 33 << in;
        QTest::newRow("input report into 8 bytes") << input << 8 << 34 << 33 << on(in, 8) << 8 << in;
        QTest::newRow("output report") << output << 13 << 34 << 0 << on("hid_write", 13) << 0 << "hid_write";
    }

    void reportCalls()
    {
        QFETCH(Io, io);
        QFETCH(int, arg);
        QFETCH(int, badArg);
        QFETCH(int, replySize);
        QFETCH(QString, calls);
        QFETCH(int, replaced);
        QFETCH(QString, failing);

        useDevices({QString(controller) + " " + ids});
        unsigned char buffer[40] = {};
        QCOMPARE(io(controller, buffer, badArg), 0);
        QCOMPARE(io(nullptr, buffer, arg), 0);
        QCOMPARE(io("", buffer, arg), 0);
        QCOMPARE(io(controller, nullptr, arg), 0);
        QCOMPARE(find(nullptr), 0);
        QCOMPARE(fake::log(), QStringList{});

        QByteArray request(40, 0x77), reply(replySize, 0);
        for (int i = 0; i < 33; ++i)
            request[i] = char(i);
        for (int i = 1; i < replySize; ++i)
            reply[i] = char(0x40 + i);
        fake::device(controller).reply.assign(reply.begin(), reply.end());
        std::memcpy(buffer, request.constData(), sizeof buffer);
        QCOMPARE(io(controller, buffer, arg), 1);
        QCOMPARE(fake::log().join(','), "hid_init,hid_open_path /dev/hidraw1,lock /dev/hidraw1," + calls + ",unlock /dev/hidraw1");
        // A write passes the caller's bytes from byte 0, as many as the log says.
        const QByteArray sent = bytes(fake::lastWrite().data(), fake::lastWrite().size());
        QCOMPARE(sent, request.left(sent.size()));
        // A short reply leaves zeros, never what hidapi left behind it.
        const QByteArray result = reply.leftJustified(replaced, 0, true) + request.mid(replaced);
        QCOMPARE(bytes(buffer, sizeof buffer).toHex(), result.toHex());

        QCOMPARE(io(controller, buffer, arg), 1);
        fake::device(controller).failing = failing.toStdString();
        QCOMPARE(io(controller, buffer, arg), 0);
        QCOMPARE(fake::openHandles(), 0);
        fake::device(controller).failing.clear();
        QCOMPARE(io(controller, buffer, arg), 1);
        QCOMPARE(io(controller, buffer, arg), 1);
        QCOMPARE(fake::log().filter(QRegularExpression("^hid_(init|open_path|close)")).join(','),
                 "hid_init,hid_open_path /dev/hidraw1,hid_close /dev/hidraw1,hid_open_path /dev/hidraw1");
        QCOMPARE(fake::openHandles(), 1);

        // Found as the controller, the name outlives its node: unplugged and
        // back on a new node, the call goes there and the old handle is closed.
        RediDeviceRecord record{};
        fake::device(controller).live = L"WRITTEN";
        QCOMPARE(find(&record), 1);
        fake::device(controller).present = false;
        fake::plug(fakeDevice("/dev/hidraw5 " + ids + " serial=SN-/dev/hidraw1"));
        fake::log().clear();
        QCOMPARE(io(controller, buffer, arg), 1);
        QCOMPARE(fake::log().filter(QRegularExpression("^(hid_(open_path|close|enumerate)|lock)")).join(','),
                 "lock /dev/hidraw1,hid_close /dev/hidraw1,hid_enumerate " + ids + ",hid_open_path /dev/hidraw5,lock /dev/hidraw5");
        // Back again beside another board, reported with the number the
        // device told at the last look-up: that one is the controller.
        fake::device("/dev/hidraw5").present = false;
        fake::plug(fakeDevice("/dev/hidraw4 " + ids + " serial=ANOTHER"));
        fake::plug(fakeDevice("/dev/hidraw6 " + ids + " serial=WRITTEN"));
        QCOMPARE(io(controller, buffer, arg), 1);
        QCOMPARE(fake::openNodes(), fake::openHandles());
        // Another process's exchange that does not end: the call fails
        // without reaching the device.
        fake::device("/dev/hidraw6").locked = true;
        fake::log().clear();
        QCOMPARE(io(controller, buffer, arg), 0);
        QCOMPARE(fake::log(), QStringList{"lock /dev/hidraw6"});
    }

    // The library's own listing: every controller, openable or not, with
    // the refusal's errno; nothing is left open, and only counting opens
    // nothing.
    void enumerateControllers()
    {
        useDevices({"/dev/hidraw0 046d:c52b", "/dev/hidraw1 " + ids + " release=0123 serial=Caf\u00e9",
                    "/dev/hidraw2 " + ids + " refuses no-serial"});
        QCOMPARE(Redi_EnumerateControllers(nullptr, 0), 2);
        QVERIFY(fake::log().filter("hid_open_path").isEmpty());
        RediControllerInfo list[3];
        std::memset(list, 0xA5, sizeof list);
        QCOMPARE(Redi_EnumerateControllers(list, 3), 2);
        const auto shownInfo = [](const RediControllerInfo &i) {
            return QByteArray(i.deviceName) + " " + bytes(i.releaseNumber, 2).toHex() + " " + i.serialNumber + " "
                + QByteArray::number(i.openError);
        };
        QCOMPARE(shownInfo(list[0]), "/dev/hidraw1 2301 Caf\xe9 0");
        QCOMPARE(shownInfo(list[1]), "/dev/hidraw2 0000  " + QByteArray::number(EACCES));
        QCOMPARE(list[2].openError, int(0xA5A5A5A5));
        QCOMPARE(fake::openHandles(), 0);
        QCOMPARE(Redi_EnumerateControllers(nullptr, 1), -1);
    }
};

QTEST_APPLESS_MAIN(TestRedi)
#include "tst_redi.moc"
