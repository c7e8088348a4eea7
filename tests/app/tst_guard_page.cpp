// The Guard page against a registry store of each test's own: what start-up
// shows for what is stored, what "Save Settings" writes, and the boxes that
// report the outcome.
#include "../winreg/temp_store.h"
#include "controller_link.h"
#include "guard_table.h"
#include "modal_box_catcher.h"
#include "registry_api.h"
#include "window_harness.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QTabWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

using harness::widget;

constexpr int guardTabIndex = 3;

// The page's combos in the order of the stored names: levels, then actions.
const char *const comboNames[2 * guardLineCount] = {
    "guardGPIO0ValueCombo",  "guardGPIO1ValueCombo",  "guardGPIO2ValueCombo",  "guardGPIO3ValueCombo",
    "guardGPIO4ValueCombo",  "guardGPIO5ValueCombo",  "guardGPIO6ValueCombo",  "guardGPIO7ValueCombo",
    "guardBatlowValueCombo", "guardPowerValueCombo",  "guardGPIO0ActionCombo", "guardGPIO1ActionCombo",
    "guardGPIO2ActionCombo", "guardGPIO3ActionCombo", "guardGPIO4ActionCombo", "guardGPIO5ActionCombo",
    "guardGPIO6ActionCombo", "guardGPIO7ActionCombo", "guardBatlowActionCombo", "guardPowerActionCombo"};

const QString keyBox = QStringLiteral(
    "critical|Windows Registry error|The registry key for the application could not be created/opened.");
const QString writeBox =
    QStringLiteral("critical|Windows Registry error|The registry values could not be written.");
const QString savedBox = QStringLiteral("information|Settings saved|Your settings were saved to disk\n\n "
                                        "However, the settings will not be applied until the Vantrel "
                                        "Brivane Service is restarted.");

struct RawValue {
    const char *name;
    DWORD type;
    QByteArray data;
};
using RawValues = std::vector<RawValue>;
using Numbers = std::map<QString, quint32>; // value name -> number, all others 0
using Texts = std::map<QString, QString>;   // value name -> combo text, others the default

QByteArray dword(quint32 v)
{
    const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    return QByteArray(bytes, 4);
}

const QStringList &storedNames()
{
    static const QStringList names = [] {
        QStringList all;
        for (const auto *table : {&guardValueNames, &guardActionNames})
            for (const char *name : *table)
                all << QLatin1String(name);
        return all;
    }();
    return names;
}

// One entry per stored name, in the order of storedNames().
QStringList tableOf(const std::function<QString(int index, const QString &name)> &entry)
{
    QStringList table;
    for (int i = 0; i < storedNames().size(); ++i)
        table << entry(i, storedNames().at(i));
    return table;
}

QComboBox *comboFor(QWidget *window, const QString &valueName)
{
    const int index = storedNames().indexOf(valueName);
    if (index < 0)
        qFatal("no guard value %s", qPrintable(valueName));
    return widget<QComboBox>(window, comboNames[index]);
}

void storeRaw(const RawValues &values)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
             ERROR_SUCCESS);
    for (const RawValue &v : values)
        QCOMPARE(RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE *>(v.data.constData()),
                                DWORD(v.data.size())),
                 ERROR_SUCCESS);
    RegCloseKey(key);
}

// "type:hex of the data" of each value, "absent" for one that is not there.
QStringList storedTable()
{
    HKEY key = nullptr;
    const bool open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS;
    const QStringList table = tableOf([&](int, const QString &name) {
        DWORD type = 0;
        char data[64];
        DWORD size = sizeof data;
        if (!open || RegQueryValueExA(key, name.toLatin1().constData(), nullptr, &type,
                                      reinterpret_cast<BYTE *>(data), &size) != ERROR_SUCCESS)
            return QStringLiteral("absent");
        return QStringLiteral("%1:%2").arg(type).arg(QString::fromLatin1(QByteArray(data, int(size)).toHex()));
    });
    if (open)
        RegCloseKey(key);
    return table;
}

QStringList dwordTable(const Numbers &numbers)
{
    return tableOf([&](int, const QString &name) {
        const auto found = numbers.find(name);
        return QStringLiteral("4:") + QString::fromLatin1(dword(found == numbers.end() ? 0 : found->second).toHex());
    });
}

QStringList shownTable(QWidget *window)
{
    return tableOf([&](int, const QString &name) { return comboFor(window, name)->currentText(); });
}

QStringList textTable(const Texts &texts)
{
    return tableOf([&](int index, const QString &name) {
        const auto found = texts.find(name);
        if (found != texts.end())
            return found->second;
        return index < int(guardLineCount) ? QStringLiteral("is 0") : QStringLiteral("Do Nothing");
    });
}

void choose(QWidget *window, const Numbers &choices)
{
    for (const auto &[name, index] : choices)
        comboFor(window, name)->setCurrentIndex(int(index));
}

void saveSettings(QWidget *window)
{
    widget<QAbstractButton>(window, "saveGuardSettingsButton")->click();
}

// Every caught box must be a modal box over the window with one OK button.
void compareBoxes(const ModalBoxCatcher &catcher, QWidget *window, const QStringList &expected)
{
    QStringList caught;
    for (const CaughtBox &box : catcher.boxes()) {
        const char *icon = box.icon == QMessageBox::Critical ? "critical" : "information";
        caught << QStringLiteral("%1|%2|%3").arg(QLatin1String(icon), box.title, box.text);
        QCOMPARE(box.parent, window);
        QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    }
    QCOMPARE(caught, expected);
}

} // namespace

Q_DECLARE_METATYPE(RawValues)
Q_DECLARE_METATYPE(Numbers)
Q_DECLARE_METATYPE(Texts)

class TestGuardPage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        store = std::make_unique<TempStore>();
        QVERIFY(store->isValid());
        harness::resetController();
    }
    void cleanup()
    {
        setDemoMode(false);
        store.reset();
    }

    void startUpShowsTheStoredTable_data();
    void startUpShowsTheStoredTable();
    void saveWritesWhatIsShown_data();
    void saveWritesWhatIsShown();
    void everyWriteAttemptedWhenOneFails_data();
    void everyWriteAttemptedWhenOneFails();
    void keyThatCannotBeOpened_data();
    void keyThatCannotBeOpened();
    void editsStayOnThePageUntilSaved();

private:
    std::unique_ptr<TempStore> store;
};

void TestGuardPage::startUpShowsTheStoredTable_data()
{
    QTest::addColumn<bool>("keyExists");
    QTest::addColumn<RawValues>("stored");
    QTest::addColumn<Texts>("shown");

    QTest::newRow("missing key") << false << RawValues{} << Texts{};
    QTest::newRow("string 2 is absent")
        << true << RawValues{{"GPIO3 Action", REG_SZ, QByteArray("2", 2)}} << Texts{};
    QTest::newRow("BATLOW row")
        << true << RawValues{{"BATLOW Value", REG_DWORD, dword(1)}, {"BATLOW Action", REG_DWORD, dword(2)}}
        << Texts{{"BATLOW Value", "is 1"}, {"BATLOW Action", "Shutdown"}};
    QTest::newRow("numbers that are no item")
        << true << RawValues{{"GPIO0 Action", REG_DWORD, dword(7)}, {"PWRBTN Value", REG_DWORD, dword(2)}}
        << Texts{{"GPIO0 Action", ""}, {"PWRBTN Value", ""}};

    // Each row from its own names: a combo list out of order shows up here.
    RawValues all;
    Texts allShown;
    const QStringList levels{"is 0", "is 1"}, actions{"Do Nothing", "Standby", "Shutdown"};
    for (std::size_t i = 0; i < guardLineCount; ++i) {
        all.push_back({guardValueNames[i], REG_DWORD, dword(quint32(i % 2))});
        all.push_back({guardActionNames[i], REG_DWORD, dword(quint32(i % 3))});
        allShown[guardValueNames[i]] = levels[int(i % 2)];
        allShown[guardActionNames[i]] = actions[int(i % 3)];
    }
    QTest::newRow("every row") << true << all << allShown;
}

// Start-up creates a missing key without a word and writes no value.
void TestGuardPage::startUpShowsTheStoredTable()
{
    QFETCH(bool, keyExists);
    QFETCH(RawValues, stored);
    QFETCH(Texts, shown);
    if (keyExists)
        storeRaw(stored);
    const QStringList before = storedTable();

    ModalBoxCatcher catcher;
    const auto window = harness::openWindow();
    QCOMPARE(shownTable(window.get()), textTable(shown));
    QCOMPARE(catcher.count(), 0);
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, guardKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    QCOMPARE(storedTable(), before);
}

void TestGuardPage::saveWritesWhatIsShown_data()
{
    QTest::addColumn<bool>("demo");
    QTest::addColumn<RawValues>("stored");
    QTest::addColumn<Numbers>("chosen");
    QTest::addColumn<Numbers>("saved");

    QTest::newRow("defaults into a missing key") << false << RawValues{} << Numbers{} << Numbers{};
    QTest::newRow("choices")
        << false << RawValues{{"BATLOW Value", REG_DWORD, dword(1)}}
        << Numbers{{"GPIO5 Value", 1}, {"PWRBTN Action", 2}, {"GPIO0 Action", 1}}
        << Numbers{{"BATLOW Value", 1}, {"GPIO5 Value", 1}, {"PWRBTN Action", 2}, {"GPIO0 Action", 1}};
    // A number the page cannot show goes back as it was read, never as -1.
    QTest::newRow("numbers that are no item kept")
        << false
        << RawValues{{"GPIO0 Action", REG_DWORD, dword(7)}, {"PWRBTN Value", REG_DWORD, dword(0xFFFFFFFE)}}
        << Numbers{} << Numbers{{"GPIO0 Action", 7}, {"PWRBTN Value", 0xFFFFFFFE}};
    QTest::newRow("number that is no item replaced by a choice")
        << false << RawValues{{"GPIO0 Action", REG_DWORD, dword(7)}} << Numbers{{"GPIO0 Action", 1}}
        << Numbers{{"GPIO0 Action", 1}};
    QTest::newRow("string replaced by a number")
        << false << RawValues{{"GPIO3 Action", REG_SZ, QByteArray("2", 2)}} << Numbers{} << Numbers{};
    QTest::newRow("demo mode reads and writes the store")
        << true << RawValues{{"BATLOW Action", REG_DWORD, dword(2)}} << Numbers{{"GPIO7 Value", 1}}
        << Numbers{{"BATLOW Action", 2}, {"GPIO7 Value", 1}};
}

void TestGuardPage::saveWritesWhatIsShown()
{
    QFETCH(bool, demo);
    QFETCH(RawValues, stored);
    QFETCH(Numbers, chosen);
    QFETCH(Numbers, saved);
    setDemoMode(demo);
    if (!stored.empty())
        storeRaw(stored);

    ModalBoxCatcher catcher;
    const auto window = harness::openWindow();
    choose(window.get(), chosen);
    saveSettings(window.get());
    compareBoxes(catcher, window.get(), {savedBox});
    QCOMPARE(storedTable(), dwordTable(saved));
}

void TestGuardPage::everyWriteAttemptedWhenOneFails_data()
{
    QTest::addColumn<QString>("refused");
    QTest::newRow("first") << QString(guardValueNames[0]);
    QTest::newRow("middle") << QString(guardActionNames[4]);
    QTest::newRow("last") << QString(guardActionNames[9]);
}

// The store file itself refuses one value; the other 19 are written, and
// the page keeps the choices so that the save can be repeated.
void TestGuardPage::everyWriteAttemptedWhenOneFails()
{
    QFETCH(QString, refused);
    ModalBoxCatcher catcher;
    const auto window = harness::openWindow();
    const std::string trigger = "CREATE TRIGGER refuse BEFORE INSERT ON reg_values WHEN NEW.name = '" +
                                refused.toStdString() + "' BEGIN SELECT RAISE(ABORT, 'refused'); END";
    QCOMPARE(store->query(trigger.c_str()), std::string());

    Numbers chosen;
    for (int i = 0; i < storedNames().size(); ++i)
        chosen[storedNames().at(i)] = i < int(guardLineCount) ? 1 : 2;
    choose(window.get(), chosen);
    saveSettings(window.get());
    compareBoxes(catcher, window.get(), {writeBox});
    QStringList expected = dwordTable(chosen);
    expected[storedNames().indexOf(refused)] = QStringLiteral("absent");
    QCOMPARE(storedTable(), expected);

    catcher.clear();
    QCOMPARE(store->query("DROP TRIGGER refuse"), std::string());
    saveSettings(window.get());
    compareBoxes(catcher, window.get(), {savedBox});
    QCOMPARE(storedTable(), dwordTable(chosen));
}

void TestGuardPage::keyThatCannotBeOpened_data()
{
    QTest::addColumn<bool>("fromStart");
    QTest::addColumn<Texts>("shown");
    QTest::newRow("at start-up") << true << Texts{};
    QTest::newRow("after start-up") << false << Texts{{"BATLOW Value", "is 1"}, {"GPIO2 Action", "Standby"}};
}

// The key box comes at start-up and again at every save; the page goes on
// showing what it showed.
void TestGuardPage::keyThatCannotBeOpened()
{
    QFETCH(bool, fromStart);
    QFETCH(Texts, shown);
    storeRaw({{"BATLOW Value", REG_DWORD, dword(1)}, {"GPIO2 Action", REG_DWORD, dword(1)}});
    if (fromStart)
        store->makeUnusable();

    ModalBoxCatcher catcher;
    const auto window = harness::openWindow();
    store->makeUnusable();
    saveSettings(window.get());
    saveSettings(window.get());
    compareBoxes(catcher, window.get(),
                 fromStart ? QStringList{keyBox, keyBox, keyBox} : QStringList{keyBox, keyBox});
    QCOMPARE(shownTable(window.get()), textTable(shown));
}

// Tab switches neither re-read the store nor write to it; only the save
// button does, with what the page shows.
void TestGuardPage::editsStayOnThePageUntilSaved()
{
    ModalBoxCatcher catcher;
    const auto window = harness::openWindow();
    const Numbers chosen{{"GPIO1 Value", 1}, {"PWRBTN Action", 1}};
    choose(window.get(), chosen);
    storeRaw({{"GPIO4 Value", REG_DWORD, dword(1)}});
    const QStringList stored = storedTable();

    auto *tabs = widget<QTabWidget>(window.get(), "mainTab");
    for (int tab : {guardTabIndex, 0, 1, 2, 4, guardTabIndex})
        tabs->setCurrentIndex(tab);
    QCOMPARE(shownTable(window.get()), textTable({{"GPIO1 Value", "is 1"}, {"PWRBTN Action", "Standby"}}));
    QCOMPARE(storedTable(), stored);
    QCOMPARE(catcher.count(), 0);

    saveSettings(window.get());
    compareBoxes(catcher, window.get(), {savedBox});
    QCOMPARE(storedTable(), dwordTable(chosen));
}

QTEST_MAIN(TestGuardPage)
#include "tst_guard_page.moc"
