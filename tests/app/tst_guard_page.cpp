// The Guard page against a registry store of each test's own: what start-up
// shows for what is stored, what "Save Settings" writes, and the boxes that
// report the outcome. Tables name values as "GPIO5 Value=1". What the store
// reads from values of other types, and which values a failed save leaves,
// is tested with the store itself.
#include "../winreg/temp_store.h"
#include "controller_link.h"
#include "guard_table.h"
#include "modal_box_catcher.h"
#include "registry.h"
#include "window_harness.h"

#include <QComboBox>
#include <QTabWidget>

using namespace harness;

namespace {

const QString keyBox = "critical|Windows Registry error|The registry key for the application could not be "
                       "created/opened.|OK";
const QString writeBox = "critical|Windows Registry error|The registry values could not be written.|OK";
const QString savedBox = "information|Settings saved|Your settings were saved to disk\n\n However, the settings "
                         "will not be applied until the Vantrel Brivane Service is restarted.|OK";
const Step save = click("saveGuardSettingsButton");

// The 20 value names, levels first, in the order the store writes them.
QStringList names()
{
    QStringList all;
    for (const auto *table : {&guardValueNames, &guardActionNames})
        for (const char *name : *table)
            all << QString::fromLatin1(name);
    return all;
}

// "GPIO3 Value" is shown by guardGPIO3ValueCombo, "PWRBTN Action" by
// guardPowerActionCombo.
QComboBox *comboFor(QWidget *window, const QString &name)
{
    const QString line = name.section(' ', 0, 0);
    return widget<QComboBox>(window, "guard" + (line == "BATLOW" ? "Batlow" : line == "PWRBTN" ? "Power" : line) +
                                         name.section(' ', 1) + "Combo");
}

void store(const QStringList &values)
{
    const RegistryKey key = Registry::instance().openKey(localMachineKey(), guardKeyPath, true);
    for (const QString &value : values)
        QVERIFY(key.writeDword(value.section('=', 0, 0).toStdString(), value.section('=', 1).toUInt()));
}

// "N values" (the REG_DWORDs present), then those that are not 0 as
// "name=N"; "no key" when the key is missing.
QStringList stored()
{
    const RegistryKey key = Registry::instance().openKey(localMachineKey(), guardKeyPath, false);
    if (!key.isOpen())
        return {"no key"};
    QStringList held;
    int present = 0;
    for (const QString &name : names()) {
        std::uint32_t number = 0;
        present += key.readDword(name.toStdString(), number);
        if (number != 0)
            held << name + QStringLiteral("=%1").arg(number);
    }
    return QStringList{QStringLiteral("%1 values").arg(present)} + held;
}

// The combos that show neither "is 0" nor "Do Nothing", as "name: text".
QStringList shownOnPage(QWidget *window)
{
    QStringList seen;
    for (const QString &name : names()) {
        const QString text = comboFor(window, name)->currentText();
        if (text != (name.endsWith("Value") ? "is 0" : "Do Nothing"))
            seen << name + ": " + text;
    }
    return seen;
}

void choose(QWidget *window, const QStringList &choices)
{
    for (const QString &choice : choices)
        comboFor(window, choice.section('=', 0, 0))->setCurrentIndex(choice.section('=', 1).toInt());
}

} // namespace

class GuardPageTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        temp = std::make_unique<TempStore>();
        resetController();
    }

    void loadAndSave_data();
    void loadAndSave();
    void writeFailureReported();
    void keyThatCannotBeOpened();
    void editsStayOnThePageUntilSaved();

private:
    std::unique_ptr<TempStore> temp;
};

void GuardPageTest::loadAndSave_data()
{
    using L = QStringList;
    QTest::addColumn<bool>("demo");
    QTest::addColumn<L>("stored"); // empty: no key
    QTest::addColumn<L>("shown");
    QTest::addColumn<L>("chosen");
    QTest::addColumn<L>("saved");
    QTest::newRow("missing key") << false << L{} << L{} << L{} << L{"20 values"};
    QTest::newRow("BATLOW row") << false << L{"BATLOW Value=1", "BATLOW Action=2"}
                                << L{"BATLOW Value: is 1", "BATLOW Action: Shutdown"}
                                << L{"GPIO5 Value=1", "PWRBTN Action=2", "GPIO0 Action=1"}
                                << L{"20 values", "GPIO5 Value=1", "BATLOW Value=1", "GPIO0 Action=1",
                                     "BATLOW Action=2", "PWRBTN Action=2"};
    // A number the page cannot show goes back as it was read, never as -1.
    QTest::newRow("numbers that are no item kept")
        << false << L{"GPIO0 Action=7", "PWRBTN Value=4294967294"} << L{"PWRBTN Value: ", "GPIO0 Action: "} << L{}
        << L{"20 values", "PWRBTN Value=4294967294", "GPIO0 Action=7"};
    QTest::newRow("number that is no item replaced by a choice")
        << false << L{"GPIO0 Action=7"} << L{"GPIO0 Action: "} << L{"GPIO0 Action=1"}
        << L{"20 values", "GPIO0 Action=1"};
    QTest::newRow("demo mode reads and writes the store")
        << true << L{"BATLOW Action=2"} << L{"BATLOW Action: Shutdown"} << L{"GPIO7 Value=1"}
        << L{"20 values", "GPIO7 Value=1", "BATLOW Action=2"};
    // Each row from its own name: a combo list out of order shows up here.
    L all, allShown, allSaved{"20 values"};
    const L levels{"is 0", "is 1"}, actions{"Do Nothing", "Standby", "Shutdown"};
    for (int i = 0; i < names().size(); ++i) {
        const bool level = i < int(guardLineCount);
        const int number = level ? i % 2 : i % 3;
        all << names()[i] + QStringLiteral("=%1").arg(number);
        if (number) {
            allShown << names()[i] + ": " + (level ? levels : actions)[number];
            allSaved << all.last();
        }
    }
    QTest::newRow("every row") << false << all << allShown << L{} << allSaved;
}

// Start-up creates a missing key without a word and writes no value; the
// save writes all 20 values as the page shows them.
void GuardPageTest::loadAndSave()
{
    QFETCH(bool, demo);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, saved);
    setDemoMode(demo);
    if (!stored.isEmpty())
        store(stored);
    const QStringList before = stored.isEmpty() ? QStringList{"0 values"} : ::stored();

    ModalBoxCatcher catcher;
    const auto window = openWindow();
    QCOMPARE(shownOnPage(window.get()), shown);
    QCOMPARE(::stored(), before);
    QCOMPARE(catcher.count(), 0);
    choose(window.get(), chosen);
    save(window.get());
    QCOMPARE(boxes(catcher, window.get()), QStringList{savedBox});
    QCOMPARE(::stored(), saved);
}

// The store file itself refuses the first value: the box reports it, nothing
// is written, and the page keeps the choices so that the save can be repeated.
void GuardPageTest::writeFailureReported()
{
    ModalBoxCatcher catcher;
    const auto window = openWindow();
    QCOMPARE(temp->query("CREATE TRIGGER refuse BEFORE INSERT ON reg_values WHEN NEW.name = 'GPIO0 Value' "
                         "BEGIN SELECT RAISE(ABORT, 'refused'); END"),
             std::string());
    const QStringList chosen{"GPIO0 Value=1", "GPIO7 Action=2"};
    choose(window.get(), chosen);
    save(window.get());
    QCOMPARE(boxes(catcher, window.get()), QStringList{writeBox});
    QCOMPARE(::stored(), QStringList{"0 values"});

    QCOMPARE(temp->query("DROP TRIGGER refuse"), std::string());
    save(window.get());
    QCOMPARE(boxes(catcher, window.get()), QStringList({writeBox, savedBox}));
    QCOMPARE(::stored(), QStringList{"20 values"} + chosen);
}

// The key box comes at start-up and again at every save.
void GuardPageTest::keyThatCannotBeOpened()
{
    temp->makeUnusable();
    ModalBoxCatcher catcher;
    const auto window = openWindow();
    steps({save, save})(window.get());
    QCOMPARE(boxes(catcher, window.get()), QStringList(3, keyBox));
}

// Tab switches neither re-read the store nor write to it; only the save
// button does, with what the page shows.
void GuardPageTest::editsStayOnThePageUntilSaved()
{
    ModalBoxCatcher catcher;
    const auto window = openWindow();
    const QStringList chosen{"GPIO1 Value=1", "PWRBTN Action=1"};
    choose(window.get(), chosen);
    store({"GPIO4 Value=1"});
    const QStringList before = ::stored();

    for (int tab : {GpioTab, WatchdogTab, PowerTab, MiscTab, GuardTab})
        widget<QTabWidget>(window.get(), "mainTab")->setCurrentIndex(tab);
    QCOMPARE(shownOnPage(window.get()), QStringList({"GPIO1 Value: is 1", "PWRBTN Action: Standby"}));
    QCOMPARE(::stored(), before);
    QCOMPARE(catcher.count(), 0);

    save(window.get());
    QCOMPARE(boxes(catcher, window.get()), QStringList{savedBox});
    QCOMPARE(::stored(), QStringList{"20 values"} + chosen);
}

QTEST_MAIN(GuardPageTest)
#include "tst_guard_page.moc"
