// Help > About: a fresh application-modal dialog for every opening, its
// banner, and links that open in the browser.
#include "about_dialog.h"
#include "maker_website.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

using namespace harness;

namespace {

// Triggers Help > About, runs `step` on the dialog inside its modal loop and
// tells what became of the dialog: "modal" when it came up as the active
// application-modal window, "open" when the step left it open (it is then
// rejected, so that a fault cannot hang the test), how it finished, and
// "gone" when it no longer exists after the opening.
QString openAbout(QWidget *window, const Step &step)
{
    QStringList fate;
    QPointer<QDialog> opened;
    QTimer inside; // dies with this function, so it never fires outside it
    inside.setSingleShot(true);
    QObject::connect(&inside, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        opened = dialog;
        if (dialog->isVisible() && dialog->windowModality() == Qt::ApplicationModal)
            fate << "modal";
        QObject::connect(dialog, &QDialog::finished,
                         [&fate](int result) { fate << (result == QDialog::Accepted ? "accepted" : "rejected"); });
        step(dialog);
        if (dialog->isVisible()) {
            fate << "open";
            dialog->reject();
        }
    });
    inside.start(0);
    widget<QAction>(window, "actionAbout")->trigger();
    if (opened.isNull())
        fate << "gone";
    return fate.join(' ');
}

// WCAG's contrast ratio of two colours, 1 to 21.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class AboutDialogTest : public WindowTest
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser.
    void openUrl(const QUrl &url) { urls << url; }

private slots:
    void opensModallyAndClosesWithOk();
    void linksOpenInTheBrowser();
    void bannerImageIsBuiltIn();
    void textReadableUnderAnyPalette_data();
    void textReadableUnderAnyPalette();

private:
    QList<QUrl> urls;
};

// Opened twice: each time a new dialog, gone once it has closed.
void AboutDialogTest::opensModallyAndClosesWithOk()
{
    const auto window = openWindow();
    for (int time = 0; time < 2; ++time)
        QCOMPARE(openAbout(window.get(), click("okButton")), QString("modal accepted gone"));
    QVERIFY(window->isVisible());
}

// Reached from the keyboard (focus into the text, then Tab to the link),
// each of the three links goes to the browser and the dialog stays open.
void AboutDialogTest::linksOpenInTheBrowser()
{
    const auto window = openWindow();
    QDesktopServices::setUrlHandler("https", this, "openUrl");
    QDesktopServices::setUrlHandler("http", this, "openUrl");
    const QString fate = openAbout(window.get(), [](QWidget *dialog) {
        auto *label = widget<QLabel>(dialog, "label");
        for (int link = 0; link < 3; ++link) {
            label->clearFocus();
            label->setFocus(Qt::TabFocusReason);
            for (int tab = 0; tab <= link; ++tab)
                QTest::keyClick(label, Qt::Key_Tab);
            QTest::keyClick(label, Qt::Key_Return);
        }
    });
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(fate, QString("modal open rejected gone"));
    QStringList opened;
    for (const QUrl &url : urls)
        opened << url.host() + url.path();
    const QUrl maker(QString::fromLatin1(makerWebsite));
    QCOMPARE(opened.size(), 3);
    QVERIFY2(opened[0].contains("qt.io") && opened[1].contains("gnu.org") && opened[1].contains("lgpl-2.1") &&
                 opened[2].startsWith(maker.host() + maker.path()),
             qPrintable(opened.join(' ')));
}

// The banner's image comes from the program's resources; a resource that was
// not linked in leaves a bare strip.
void AboutDialogTest::bannerImageIsBuiltIn()
{
    AboutDialog dialog;
    const QString style = widget<QFrame>(&dialog, "frame")->styleSheet();
    const QRegularExpressionMatch image = QRegularExpression("url\\((:[^)]+)\\)").match(style);
    QVERIFY2(image.hasMatch(), qPrintable(style));
    const QPixmap banner(image.captured(1));
    QVERIFY2(!banner.isNull(), qPrintable(image.captured(1)));
    // The twice-as-large banner that Qt picks by itself at 2x scaling.
    const QString sharp = image.captured(1).replace(".png", "@2x.png");
    QCOMPARE(QPixmap(sharp).size(), banner.size() * 2);
}

// The text panel stays white under any palette, so its text and links must
// bring their own colours: the palette's light text of a dark theme would
// vanish on it. Counts the rendered pixels that stand out from the panel
// (WCAG contrast 4.5 or more): grey ones of the text, blue ones of the links.
void AboutDialogTest::textReadableUnderAnyPalette_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light palette") << false;
    QTest::newRow("dark palette") << true;
}

void AboutDialogTest::textReadableUnderAnyPalette()
{
    QFETCH(bool, dark);
    const QPalette saved = QApplication::palette();
    if (dark) {
        QPalette palette(QColor(0x35, 0x35, 0x35), QColor(0x20, 0x20, 0x20));
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, QColor(0xee, 0xee, 0xee));
        palette.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
        QApplication::setPalette(palette);
    }
    AboutDialog dialog;
    const QImage image = widget<QLabel>(&dialog, "label")->grab().toImage();
    QApplication::setPalette(saved);

    const QColor panel = image.pixelColor(1, 1);
    QCOMPARE(panel, QColor(Qt::white));
    int text = 0, links = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (contrast(c, panel) < 4.5)
                continue;
            if (c.blue() - std::max(c.red(), c.green()) > 100)
                ++links;
            else if (std::abs(c.red() - c.green()) < 30 && std::abs(c.green() - c.blue()) < 30)
                ++text;
        }
    }
    QVERIFY2(text > 100 && links > 20, qPrintable(QString("%1 text and %2 link pixels").arg(text).arg(links)));
}

QTEST_MAIN(AboutDialogTest)
#include "tst_about_dialog.moc"
