// The simulator's own checks that protect the suites built on it from a
// simulator that would lie where they could not notice, run from the table
// sim_requests.txt: every byte of a request is checked, so that a request
// the program builds wrongly fails instead of passing; a get answers from
// the RAM bank in the reply layout the program reads; a set reaches the
// bank it names; a refused request changes neither the state nor the buffer.
#include "controller_sim.h"

#include <redi.h>

#include <QtTest>

class SimSelfTest : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<QString>("line");
        QFile file(SIM_REQUESTS);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#'))
                QTest::newRow(qPrintable(line.section(" -> ", 0, 0))) << line;
    }

    void requests()
    {
        QFETCH(QString, line);
        const QStringList words = line.split(' ');
        sim::reset();
        sim::simulator().firmware.value(sim::Bank::Ram, sim::Param::SampleRate) = 0x1234;
        sim::simulator().firmware.value(sim::Bank::Flash, sim::Param::SampleRate) = 0x0777;
        const QStringList before = QString::fromStdString(sim::stateText()).split('\n');
        const int size = words[0] == "out" ? REDI_OUTPUT_REPORT_SIZE : REDI_REPORT_SIZE;
        const QByteArray request = QByteArray::fromHex(words[1].toLatin1()).leftJustified(size, '\0');
        QByteArray buffer = request;
        auto *bytes = reinterpret_cast<unsigned char *>(buffer.data());
        const bool ok = words[0] == "out" ? Usk_SendOutReport_a(sim::DefaultDeviceName, bytes, size, 1000)
                                          : Usk_Feature_a(sim::DefaultDeviceName, bytes, words[0] == "get");
        QStringList result{ok ? "ok" : "refused"};
        if (buffer != request)
            result << "reply=" + QString(buffer.toHex()).remove(QRegularExpression("(00)+$"));
        for (const QString &state : QString::fromStdString(sim::stateText()).split('\n'))
            if (!before.contains(state))
                result << state;
        QCOMPARE(words.mid(0, 3).join(' ') + " " + result.join(' '), line);
    }
};

QTEST_APPLESS_MAIN(SimSelfTest)
#include "sim_selftest.moc"
