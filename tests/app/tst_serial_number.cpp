// The serial-number field of the Misc page. A number the controller cannot
// store (empty, a control character, or a character without a Latin-1 form)
// is refused with a warning and the field goes back to the number shown
// before; a number is written to flash, whose write cycles are limited, only
// when the user changed the field and it differs from the number last read
// live or written. A number read from the kernel's plug-in cache may be
// stale: it never stops a write, and is never written back unchanged.
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRegularExpression>

using namespace harness;

namespace {

const QString loaded = sim::FactorySerial;

// Empties the field, types `text` one code point at a time (any character:
// the stock key helpers type Latin-1 only; a character outside the BMP
// arrives whole, as a keyboard sends it) or pastes it (the way a control
// character gets in), and presses Return.
Step typeSerial(const QString &text, bool paste = false)
{
    return [text, paste](QWidget *w) {
        auto *field = widget<QLineEdit>(w, "serialEdit");
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(text);
        if (paste)
            field->paste();
        for (qsizetype i = 0; i < text.size() && !paste;) {
            const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
            i += n;
        }
        QTest::keyClick(field, Qt::Key_Return);
    };
}

// Opens the Misc tab afresh, the controller now holding `serial` if given.
Step reloadMisc(const char *serial = nullptr)
{
    return [serial](QWidget *w) {
        if (serial)
            sim::setSerialNumber(serial);
        openTab(w, MiscTab);
    };
}

} // namespace

class SerialNumberTest : public WindowTest
{
    Q_OBJECT

private slots:
    void serialNumber_data();
    void serialNumber();
};

void SerialNumberTest::serialNumber_data()
{
    QTest::addColumn<Step>("step");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QString>("held"); // afterwards, in the field and in the controller
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("cached"); // serial numbers come from the kernel's plug-in cache

    const QString latin1 = QStringLiteral("\u00C5bo-42");
    const Step returnKey = press("serialEdit", Qt::Key_Return);
    QTest::newRow("emptied") << typeSerial("") << 0 << loaded << true << false;
    QTest::newRow("euro sign") << typeSerial(QStringLiteral("SN\u20AC42")) << 0 << loaded << true << false;
    QTest::newRow("outside the BMP") << typeSerial(QStringLiteral("A\U0001F600")) << 0 << loaded << true << false;
    QTest::newRow("emptied after a write")
        << steps({typeSerial("NEW-01"), typeSerial("")}) << 1 << "NEW-01" << true << false;
    QTest::newRow("Return, then focus moves on") << typeSerial("NEW-01") << 1 << "NEW-01" << false << false;
    QTest::newRow("Latin-1 beyond ASCII") << typeSerial(latin1) << 1 << latin1 << false << false;
    QTest::newRow("passing through") << focus("serialEdit") << 0 << loaded << false << false;
    QTest::newRow("retyped as loaded") << typeSerial(loaded) << 0 << loaded << false << false;
    QTest::newRow("changed and changed back")
        << steps({typeSerial("NEW-01"), typeSerial(loaded)}) << 2 << loaded << false << false;
    QTest::newRow("changed by someone else, then Return")
        << steps({reloadMisc("OTHER"), returnKey})
        << 0 << "OTHER" << false << false;
    QTest::newRow("pasted control character") << typeSerial("SN\t01", true) << 0 << loaded << true << false;
    QTest::newRow("twelve characters, then Return")
        << steps({reloadMisc("ABCDEFGHIJKL"), returnKey}) << 0 << "ABCDEFGHIJKL" << false << false;
    QTest::newRow("Return on a number that may be stale") << returnKey << 0 << loaded << false << true;
    QTest::newRow("retyped as loaded, which may be stale") << typeSerial(loaded) << 1 << loaded << false << true;
    QTest::newRow("written, reloaded stale, then Return")
        << steps({typeSerial("NEW-01"), reloadMisc(), returnKey}) << 0 << "NEW-01" << false << true;
    QTest::newRow("written, reloaded stale, then the old number typed back")
        << steps({typeSerial("NEW-01"), reloadMisc(), typeSerial(loaded)}) << 1 << loaded << false << true;
}

// Every step ends with the focus moving on, which must neither write nor
// warn again.
void SerialNumberTest::serialNumber()
{
    QFETCH(Step, step);
    QFETCH(int, writes);
    QFETCH(QString, held);
    QFETCH(bool, refused);
    QFETCH(bool, cached);

    sim::setSerialCached(cached);
    auto window = openWindow();
    clearCalls();
    ModalBoxCatcher catcher;
    steps({step, focus("reportModeCombo")})(window.get());
    QTest::qWait(50);

    QCOMPARE(calls().filter(QRegularExpression("^000114")).size(), writes); // serial-number writes
    QCOMPARE(calls().filter(QRegularExpression("^00")).size(), writes);
    QCOMPARE(widget<QLineEdit>(window.get(), "serialEdit")->text(), held);
    QCOMPARE(QString::fromLatin1(sim::serialNumber().c_str()), held);
    QCOMPARE(boxes(catcher, window.get()),
             refused ? QStringList{"warning|Serial Number|The serial number must be 1 to 9 characters long and use "
                                   "only printable Latin-1 characters.|OK"}
                     : QStringList{});
}

QTEST_MAIN(SerialNumberTest)
#include "tst_serial_number.moc"
