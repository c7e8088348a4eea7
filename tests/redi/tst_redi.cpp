// The HID library over a fake hidapi: which devices it picks, what it puts in
// the device record, which buffers and lengths reach hidapi, and how it keeps
// and drops device handles.

#include "fake_hidapi.h"
#include "redi.h"
#include "redi_device_ids.h"
#include "redi_internal.h"

#include <QtTest>

#include <cstring>

namespace {

enum Op { Feature, Input, Output }; // the `arg` column: get for Feature, length otherwise

int call(Op op, const char *name, unsigned char *buffer, int arg)
{
    switch (op) {
    case Feature:
        return Usk_Feature_a(name, buffer, arg);
    case Input:
        return Usk_GetCurrentInReport_a(name, buffer, arg);
    case Output:
        return Usk_SendOutReport_a(name, buffer, arg, 1000);
    }
    return -1;
}

// "path vvvv:pppp", with " refuses" for a device that cannot be opened.
std::vector<fake::Device> devices(const QStringList &rows)
{
    std::vector<fake::Device> out;
    for (const QString &row : rows) {
        const QStringList words = row.split(' ');
        fake::Device d;
        d.path = words.at(0).toStdString();
        d.vendorId = words.at(1).left(4).toUShort(nullptr, 16);
        d.productId = words.at(1).mid(5).toUShort(nullptr, 16);
        d.openable = !words.contains("refuses");
        d.serial = L"SN-" + words.at(0).toStdWString();
        out.push_back(d);
    }
    return out;
}

QStringList summary()
{
    QStringList out;
    for (const std::string &line : fake::callSummary())
        out << QString::fromStdString(line);
    return out;
}

QByteArray bytes(std::initializer_list<int> values, int size)
{
    QByteArray out(size, '\0');
    int i = 0;
    for (int v : values)
        out[i++] = static_cast<char>(v);
    return out;
}

QByteArray fromWrite(const fake::Call &c)
{
    return QByteArray(reinterpret_cast<const char *>(c.data.data()), int(c.data.size()));
}

const char *const kController = "/dev/hidraw1";

} // namespace

Q_DECLARE_METATYPE(Op)

class TestRedi : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        redi::closeAllDevices();
        fake::reset();
        qunsetenv("REDI_DEVICE");
    }

    void cleanup()
    {
        redi::closeAllDevices();
        qunsetenv("REDI_DEVICE");
    }

    void deviceIdsReadByCMake()
    {
        QCOMPARE(QString::asprintf("%04x", REDI_VENDOR_ID), QStringLiteral(REDI_CMAKE_VENDOR_ID));
        QCOMPARE(QString::asprintf("%04x", REDI_PRODUCT_ID), QStringLiteral(REDI_CMAKE_PRODUCT_ID));
    }

    void findSensor_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("env"); // REDI_DEVICE; null: unset
        QTest::addColumn<QString>("found"); // empty: nothing found
        QTest::addColumn<QStringList>("calls");

        const QString mouse = "/dev/hidraw0 046d:c52b";
        const QString controller = "/dev/hidraw1 1209:4b58";
        const QString init = "hid_init";
        const QString enumController = "hid_enumerate 1209:4b58";
        const QString enumAll = "hid_enumerate 0000:0000";

        QTest::newRow("controller among other devices")
            << QStringList{mouse, controller} << 19 << QString() << "/dev/hidraw1"
            << QStringList{init, enumController, "hid_open_path /dev/hidraw1"};
        QTest::newRow("first match refuses to open")
            << QStringList{"/dev/hidraw1 1209:4b58 refuses", "/dev/hidraw2 1209:4b58"} << 19
            << QString() << "/dev/hidraw2"
            << QStringList{init, enumController, "hid_open_path /dev/hidraw1",
                           "hid_open_path /dev/hidraw2"};
        QTest::newRow("no controller")
            << QStringList{mouse} << 19 << QString() << QString()
            << QStringList{init, enumController};
        QTest::newRow("only match refuses to open")
            << QStringList{mouse, "/dev/hidraw1 1209:4b58 refuses"} << 19 << QString() << QString()
            << QStringList{init, enumController, "hid_open_path /dev/hidraw1"};
        QTest::newRow("another selector")
            << QStringList{controller} << 18 << QString() << QString() << QStringList{};
        QTest::newRow("REDI_DEVICE with IDs")
            << QStringList{"/dev/hidraw0 16c0:05df", controller} << 19 << "16C0:05dF"
            << "/dev/hidraw0"
            << QStringList{init, "hid_enumerate 16c0:05df", "hid_open_path /dev/hidraw0"};
        QTest::newRow("REDI_DEVICE with a path")
            << QStringList{mouse, controller} << 19 << "/dev/hidraw0" << "/dev/hidraw0"
            << QStringList{init, enumAll, "hid_open_path /dev/hidraw0"};
        QTest::newRow("REDI_DEVICE with an absent path")
            << QStringList{mouse, controller} << 19 << "/dev/hidraw7" << QString()
            << QStringList{init, enumAll};
        QTest::newRow("REDI_DEVICE with a path that refuses to open")
            << QStringList{mouse, "/dev/hidraw1 1209:4b58 refuses"} << 19 << "/dev/hidraw1"
            << QString() << QStringList{init, enumAll, "hid_open_path /dev/hidraw1"};
        QTest::newRow("REDI_DEVICE with malformed IDs is a path")
            << QStringList{controller} << 19 << "1209:4b5" << QString()
            << QStringList{init, enumAll};
        QTest::newRow("REDI_DEVICE with a fifth hex digit is a path")
            << QStringList{controller} << 19 << "1209:4b580" << QString()
            << QStringList{init, enumAll};
        QTest::newRow("empty REDI_DEVICE is unset")
            << QStringList{controller} << 19 << "" << "/dev/hidraw1"
            << QStringList{init, enumController, "hid_open_path /dev/hidraw1"};
    }

    void findSensor()
    {
        QFETCH(QStringList, devices);
        QFETCH(int, selector);
        QFETCH(QString, env);
        QFETCH(QString, found);
        QFETCH(QStringList, calls);

        fake::reset(::devices(devices));
        if (!env.isNull())
            qputenv("REDI_DEVICE", env.toUtf8());
        RediDeviceRecord record;
        std::memset(&record, 0xA5, sizeof record);

        const int result = Usk_FindSensor_a(selector, 0, 0, 0, 0, 0, 0, &record);

        QCOMPARE(summary(), calls);
        QCOMPARE(fake::liveEnumerations(), 0);
        if (found.isEmpty()) {
            QCOMPARE(result, 0);
            const QByteArray untouched(sizeof record, char(0xA5));
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(&record), sizeof record), untouched);
            QCOMPARE(fake::openHandles(), 0);
        } else {
            QCOMPARE(result, 1);
            QCOMPARE(QString(record.deviceName), found);
            QCOMPARE(QString(record.serialNumber), "SN-" + found);
            QCOMPARE(fake::openHandles(), 1);
        }
    }

    void record_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("release");
        QTest::addColumn<bool>("hasSerial");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("expectedName");
        QTest::addColumn<QByteArray>("expectedRelease");
        QTest::addColumn<QByteArray>("expectedSerial");

        const QString path = kController;
        QTest::newRow("ASCII serial, release 1.23")
            << path << 0x0123 << true << "VNK-000123" << QByteArray(kController)
            << QByteArray("\x23\x01", 2) << QByteArray("VNK-000123");
        QTest::newRow("Latin-1 serial")
            << path << 0x1000 << true << QString::fromUtf8("Caf\u00e9 \u00d8\u00ff")
            << QByteArray(kController) << QByteArray("\x00\x10", 2)
            << QByteArray("Caf\xe9 \xd8\xff");
        QTest::newRow("euro sign has no Latin-1 form")
            << path << 0x0200 << true << QString::fromUtf8("A\u20acB") << QByteArray(kController)
            << QByteArray("\x00\x02", 2) << QByteArray("A?B");
        QTest::newRow("character outside the BMP")
            << path << 0x0200 << true << QString::fromUtf8("x\U0001F600y")
            << QByteArray(kController) << QByteArray("\x00\x02", 2) << QByteArray("x?y");
        QTest::newRow("no serial")
            << path << 0x0001 << false << QString() << QByteArray(kController)
            << QByteArray("\x01\x00", 2) << QByteArray("");
        QTest::newRow("serial longer than the record")
            << path << 0x0100 << true << QString(3000, 'S') << QByteArray(kController)
            << QByteArray("\x00\x01", 2)
            << QByteArray(int(sizeof(RediDeviceRecord::serialNumber)) - 1, 'S');
        const QString longPath = "/dev/" + QString(300, 'p');
        QTest::newRow("path longer than the record")
            << longPath << 0x0100 << true << "S1" << longPath.left(259).toLatin1()
            << QByteArray("\x00\x01", 2) << QByteArray("S1");
    }

    void record()
    {
        QFETCH(QString, path);
        QFETCH(int, release);
        QFETCH(bool, hasSerial);
        QFETCH(QString, serial);
        QFETCH(QByteArray, expectedName);
        QFETCH(QByteArray, expectedRelease);
        QFETCH(QByteArray, expectedSerial);

        fake::Device d;
        d.path = path.toStdString();
        d.vendorId = REDI_VENDOR_ID;
        d.productId = REDI_PRODUCT_ID;
        d.releaseNumber = static_cast<unsigned short>(release);
        d.hasSerial = hasSerial;
        d.serial = serial.toStdWString();
        fake::reset({d});
        RediDeviceRecord record;
        std::memset(&record, 0xA5, sizeof record);

        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record), 1);

        QVERIFY(memchr(record.deviceName, '\0', sizeof record.deviceName));
        QCOMPARE(QByteArray(record.deviceName), expectedName);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.releaseNumber), 2),
                 expectedRelease);
        QVERIFY(memchr(record.serialNumber, '\0', sizeof record.serialNumber));
        QCOMPARE(QByteArray(record.serialNumber), expectedSerial);
    }

    void exchange_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("arg");
        QTest::addColumn<QByteArray>("request"); // the caller's buffer before the call
        QTest::addColumn<QByteArray>("reply");   // what the device answers to a read
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("sent");    // the bytes of the write, if any
        QTest::addColumn<QByteArray>("result");  // the caller's buffer after the call

        const QString sendFeature = QString("hid_send_feature_report %1 33").arg(kController);
        const QString getFeature = QString("hid_get_feature_report %1 33").arg(kController);
        const QString getInput = QString("hid_get_input_report %1 %2").arg(kController);
        const QByteArray setRate = bytes({0, 0, 0, 2, 1, 0, 100}, 33);
        const QByteArray getRate = bytes({0, 1, 0, 2, 1}, 33);
        QByteArray full(33, '\0');
        for (int i = 1; i < 33; ++i)
            full[i] = char(0x40 + i);
        const QByteArray zeros(33, '\0');

        QTest::newRow("feature set") << Feature << 0 << setRate << QByteArray()
                                     << QStringList{sendFeature} << setRate << setRate;
        QTest::newRow("feature get") << Feature << 1 << getRate << full
                                     << QStringList{sendFeature, getFeature} << getRate << full;
        QTest::newRow("feature get, short reply")
            << Feature << 1 << getRate << bytes({0, 100, 0}, 3)
            << QStringList{sendFeature, getFeature} << getRate << bytes({0, 100, 0}, 33);
        QTest::newRow("input report") << Input << 33 << zeros << full
                                      << QStringList{getInput.arg(33)} << QByteArray() << full;
        QTest::newRow("input report, short reply")
            << Input << 33 << zeros << full.left(11) << QStringList{getInput.arg(33)}
            << QByteArray() << full.left(11) + QByteArray(22, '\0');
        QTest::newRow("input report into 8 bytes")
            << Input << 8 << zeros << full << QStringList{getInput.arg(8)} << QByteArray()
            << full.left(8) + QByteArray(25, '\0');
        const QByteArray levels = bytes({0, 0xA5}, 33);
        QTest::newRow("output report")
            << Output << 13 << levels << QByteArray()
            << QStringList{QString("hid_write %1 13").arg(kController)} << levels.left(13)
            << levels;
    }

    void exchange()
    {
        QFETCH(Op, op);
        QFETCH(int, arg);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, calls);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, result);

        fake::Device d = devices({QString(kController) + " 1209:4b58"}).front();
        d.featureReply = d.inputReport = std::vector<unsigned char>(reply.begin(), reply.end());
        fake::reset({d});
        RediDeviceRecord record;
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record), 1);
        fake::clearCalls();
        // 33 bytes of report and a guard after them that must survive
        unsigned char buffer[40];
        std::memset(buffer, 0x77, sizeof buffer);
        std::memcpy(buffer, request.constData(), size_t(request.size()));

        QCOMPARE(call(op, record.deviceName, buffer, arg), 1);

        QCOMPARE(summary(), calls);
        for (const fake::Call &c : fake::calls()) {
            if (c.function.rfind("hid_get_", 0) == 0) // a read starts from report ID 0
                QCOMPARE(QByteArray(reinterpret_cast<const char *>(c.data.data()), 1),
                         QByteArray(1, '\0'));
        }
        if (!sent.isEmpty())
            QCOMPARE(fromWrite(fake::calls().front()), sent);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer), 33), result);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer) + 33, 7), QByteArray(7, 0x77));
    }

    void badArguments_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QByteArray>("name"); // null QByteArray: null pointer
        QTest::addColumn<bool>("nullReport");
        QTest::addColumn<int>("arg");

        const QByteArray name = kController;
        QTest::newRow("feature, null name") << Feature << QByteArray() << false << 0;
        QTest::newRow("feature, empty name") << Feature << QByteArray("") << false << 0;
        QTest::newRow("feature, null report") << Feature << name << true << 1;
        QTest::newRow("feature, get 2") << Feature << name << false << 2;
        QTest::newRow("input, null name") << Input << QByteArray() << false << 33;
        QTest::newRow("input, null report") << Input << name << true << 33;
        QTest::newRow("input, length 0") << Input << name << false << 0;
        QTest::newRow("input, length 34") << Input << name << false << 34;
        QTest::newRow("input, negative length") << Input << name << false << -1;
        QTest::newRow("output, null name") << Output << QByteArray() << false << 13;
        QTest::newRow("output, null report") << Output << name << true << 13;
        QTest::newRow("output, length 0") << Output << name << false << 0;
        QTest::newRow("output, length 34") << Output << name << false << 34;
    }

    void badArguments()
    {
        QFETCH(Op, op);
        QFETCH(QByteArray, name);
        QFETCH(bool, nullReport);
        QFETCH(int, arg);

        fake::reset(devices({QString(kController) + " 1209:4b58"}));
        unsigned char buffer[64] = {};

        QCOMPARE(call(op, name.isNull() ? nullptr : name.constData(),
                      nullReport ? nullptr : buffer, arg),
                 0);
        QCOMPARE(summary(), QStringList{});
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, nullptr), 0);
    }

    // One open serves every call; a failed call closes the handle and the
    // next one opens the device again.
    void handles_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("arg");
        QTest::addColumn<QString>("failing"); // the hidapi function made to fail once

        QTest::newRow("feature set") << Feature << 0 << "hid_send_feature_report";
        QTest::newRow("feature get, request") << Feature << 1 << "hid_send_feature_report";
        QTest::newRow("feature get, reply") << Feature << 1 << "hid_get_feature_report";
        QTest::newRow("input report") << Input << 33 << "hid_get_input_report";
        QTest::newRow("output report") << Output << 13 << "hid_write";
    }

    void handles()
    {
        QFETCH(Op, op);
        QFETCH(int, arg);
        QFETCH(QString, failing);

        fake::reset(devices({QString(kController) + " 1209:4b58"}));
        RediDeviceRecord record;
        unsigned char buffer[33] = {};
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record), 1);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(call(op, record.deviceName, buffer, arg), 1);
        QCOMPARE(fake::count("hid_open_path"), 1);

        fake::device(kController).failing = {failing.toStdString()};
        QCOMPARE(call(op, record.deviceName, buffer, arg), 0);
        QCOMPARE(fake::count("hid_close"), 1);
        QCOMPARE(fake::openHandles(), 0);

        fake::device(kController).failing.clear();
        QCOMPARE(call(op, record.deviceName, buffer, arg), 1);
        QCOMPARE(call(op, record.deviceName, buffer, arg), 1);
        QCOMPARE(fake::count("hid_open_path"), 2);
        QCOMPARE(fake::openHandles(), 1);
        QCOMPARE(fake::count("hid_init"), 1);
    }

    void findAgainRefreshesRecordOnKeptHandle()
    {
        fake::reset(devices({QString(kController) + " 1209:4b58"}));
        RediDeviceRecord record;
        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record), 1);
        fake::device(kController).serial = L"NEW-SERIAL";
        fake::device(kController).releaseNumber = 0x0205;

        QCOMPARE(Usk_FindSensor_a(19, 0, 0, 0, 0, 0, 0, &record), 1);

        QCOMPARE(QByteArray(record.serialNumber), QByteArray("NEW-SERIAL"));
        QCOMPARE(record.releaseNumber[0], 0x05);
        QCOMPARE(record.releaseNumber[1], 0x02);
        QCOMPARE(fake::count("hid_enumerate"), 2);
        QCOMPARE(fake::count("hid_open_path"), 1);
    }

    // A name the library has not found yet is opened on first use, one
    // handle per path; a device that refuses is tried again next time.
    void openOnDemand()
    {
        fake::reset(devices({"/dev/hidraw1 1209:4b58", "/dev/hidraw2 1209:4b58",
                             "/dev/hidraw3 1209:4b58 refuses"}));
        unsigned char buffer[33] = {};

        QCOMPARE(Usk_Feature_a("/dev/hidraw1", buffer, 0), 1);
        QCOMPARE(Usk_Feature_a("/dev/hidraw2", buffer, 0), 1);
        QCOMPARE(Usk_Feature_a("/dev/hidraw1", buffer, 0), 1);
        QCOMPARE(Usk_Feature_a("/dev/hidraw3", buffer, 0), 0);
        QCOMPARE(Usk_Feature_a("/dev/hidraw3", buffer, 0), 0);
        QCOMPARE(Usk_Feature_a("/dev/hidraw9", buffer, 0), 0);

        QCOMPARE(summary(), (QStringList{"hid_init",
                                         "hid_open_path /dev/hidraw1",
                                         "hid_send_feature_report /dev/hidraw1 33",
                                         "hid_open_path /dev/hidraw2",
                                         "hid_send_feature_report /dev/hidraw2 33",
                                         "hid_send_feature_report /dev/hidraw1 33",
                                         "hid_open_path /dev/hidraw3",
                                         "hid_open_path /dev/hidraw3",
                                         "hid_open_path /dev/hidraw9"}));
        QCOMPARE(fake::openHandles(), 2);
    }
};

QTEST_APPLESS_MAIN(TestRedi)
#include "tst_redi.moc"
