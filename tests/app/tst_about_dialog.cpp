// Help > About: a fresh application-modal dialog for every opening, its
// banner and links, and the ways it closes.
#include "about_dialog.h"
#include "maker_website.h"
#include "window_harness.h"

#include <QAction>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// Something done to the open dialog.
using DialogStep = std::function<void(AboutDialog *)>;
Q_DECLARE_METATYPE(DialogStep)

// Stands in for the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl &url) { urls << url; }
};

namespace {

QUrl makerUrl()
{
    return QUrl(QString::fromLatin1(makerWebsite));
}

struct Opening {
    bool modal = false;         // it came up as the active modal window
    bool closedByStep = false;  // the step closed it
    int result = -1;            // what exec() ended with
    QString text;               // the text panel as plain text
    QPointer<AboutDialog> dialog;
};

// Triggers Help > About and runs `step` on the dialog inside its modal loop.
// A dialog that the step leaves open is rejected, so that a fault cannot
// hang the test.
Opening openAbout(QWidget *window, const DialogStep &step)
{
    Opening opening;
    QTimer inside; // dies with this function, so it never fires outside it
    inside.setSingleShot(true);
    QObject::connect(&inside, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        opening.dialog = dialog;
        opening.modal = dialog->isVisible() && dialog->windowModality() == Qt::ApplicationModal;
        QTextDocument text;
        text.setHtml(harness::widget<QLabel>(dialog, "label")->text());
        opening.text = text.toPlainText();
        QObject::connect(dialog, &QDialog::finished, [&opening](int r) { opening.result = r; });
        step(dialog);
        opening.closedByStep = !dialog->isVisible();
        if (!opening.closedByStep)
            dialog->reject();
    });
    inside.start(0);
    harness::widget<QAction>(window, "actionAbout")->trigger();
    return opening;
}

// Moves keyboard focus into the text, then with Tab onto link `index` (0
// first), as a keyboard user gets there.
void focusLink(QLabel *label, int index)
{
    label->setFocus(Qt::TabFocusReason);
    for (int i = 0; i <= index; ++i)
        QTest::keyClick(label, Qt::Key_Tab);
}

} // namespace

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        registryDir = std::make_unique<QTemporaryDir>();
        harness::useTemporaryRegistry(*registryDir);
        harness::resetController();
    }

    void opensModallyAndCloses_data();
    void opensModallyAndCloses();
    void linksOpenInTheBrowser_data();
    void linksOpenInTheBrowser();
    void bannerImageIsBuiltIn();

private:
    std::unique_ptr<QTemporaryDir> registryDir; // the window loads its Guard page from here
};

void TestAboutDialog::opensModallyAndCloses_data()
{
    QTest::addColumn<DialogStep>("close");
    QTest::addColumn<int>("result");
    QTest::newRow("OK button") << DialogStep([](AboutDialog *d) {
        harness::widget<QPushButton>(d, "okButton")->click();
    }) << int(QDialog::Accepted);
    QTest::newRow("Escape") << DialogStep([](AboutDialog *d) { QTest::keyClick(d, Qt::Key_Escape); })
                            << int(QDialog::Rejected);
    QTest::newRow("close button") << DialogStep([](AboutDialog *d) { d->close(); }) << int(QDialog::Rejected);
}

// Opened twice: each time a new dialog that blocks the whole program while
// it is up and is gone once it has closed.
void TestAboutDialog::opensModallyAndCloses()
{
    QFETCH(DialogStep, close);
    QFETCH(int, result);
    const auto window = harness::openWindow();

    for (int time = 0; time < 2; ++time) {
        const Opening opening = openAbout(window.get(), close);
        QVERIFY(opening.modal);
        QVERIFY(opening.closedByStep);
        QCOMPARE(opening.result, result);
        QVERIFY2(opening.dialog.isNull(), "the dialog outlived its opening");
        QVERIFY2(opening.text.contains(QLatin1String("Vantrel Kestrix")), qPrintable(opening.text));
        QVERIFY2(opening.text.contains(QLatin1String("V 0.9")), qPrintable(opening.text));
        QVERIFY(window->isVisible());
    }
}

void TestAboutDialog::linksOpenInTheBrowser_data()
{
    QTest::addColumn<int>("link");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("pathPart");
    QTest::newRow("toolkit") << 0 << "qt.io" << "";
    QTest::newRow("licence") << 1 << "gnu.org" << "lgpl-2.1";
    QTest::newRow("maker") << 2 << makerUrl().host() << makerUrl().path();
}

// Reached from the keyboard, each link goes to the browser and the dialog
// stays open.
void TestAboutDialog::linksOpenInTheBrowser()
{
    QFETCH(int, link);
    QFETCH(QString, host);
    QFETCH(QString, pathPart);
    const auto window = harness::openWindow();
    UrlCatcher browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "openUrl");

    const Opening opening = openAbout(window.get(), [link](AboutDialog *d) {
        auto *label = harness::widget<QLabel>(d, "label");
        focusLink(label, link);
        QTest::keyClick(label, Qt::Key_Return);
    });
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QVERIFY(opening.modal);
    QVERIFY2(!opening.closedByStep, "following a link closed the dialog");
    QCOMPARE(browser.urls.size(), 1);
    const QUrl opened = browser.urls.first();
    QVERIFY2(opened.host().endsWith(host), qPrintable(opened.toString()));
    QVERIFY2(opened.path().contains(pathPart), qPrintable(opened.toString()));
}

// The banner's image comes from the program's resources; a resource that was
// not linked in leaves a bare blue strip.
void TestAboutDialog::bannerImageIsBuiltIn()
{
    AboutDialog dialog;
    const QString style = harness::widget<QFrame>(&dialog, "frame")->styleSheet();
    const QRegularExpressionMatch image = QRegularExpression(QStringLiteral("url\\((:[^)]+)\\)")).match(style);
    QVERIFY2(image.hasMatch(), qPrintable(style));
    QVERIFY2(!QPixmap(image.captured(1)).isNull(), qPrintable(image.captured(1)));
}

QTEST_MAIN(TestAboutDialog)
#include "tst_about_dialog.moc"
