#include "window_harness.h"

#include "child_scenario.h"
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"

#include <QAbstractSpinBox>
#include <QLineEdit>

namespace harness {

void useTemporaryRegistry(const QTemporaryDir &dir)
{
    qputenv("VNKESTRIX_REGISTRY", dir.filePath(QStringLiteral("registry.sqlite3")).toLocal8Bit());
}

void resetController()
{
    sim::reset();
    setDemoMode(false);
    std::string name;
    findController(name);
    sim::clearCalls();
}

std::unique_ptr<VnKestrix> openWindow()
{
    auto window = std::make_unique<VnKestrix>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

QList<QByteArray> featureRequests()
{
    QList<QByteArray> requests;
    for (const sim::Call &call : sim::calls(sim::Function::Feature)) {
        const auto &r = call.request;
        const std::size_t end = r[3] == 20 ? r.size() : std::min<std::size_t>(6 + r[3], r.size());
        requests << QByteArray(reinterpret_cast<const char *>(r.data()) + 1, static_cast<int>(end - 1)).toHex();
    }
    return requests;
}

namespace {

QByteArray request(int direction, int target, int length, int index, int value)
{
    QByteArray bytes;
    bytes.append(char(direction)).append(char(target)).append(char(length)).append(char(index)).append('\0');
    for (int i = 0; i < length; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
    return bytes.toHex();
}

} // namespace

QByteArray getRequest(sim::Param p)
{
    return request(1, 0, sim::info(p).length, sim::info(p).index, 0);
}

QByteArray setRequest(sim::Param p, sim::Bank bank, int value)
{
    return request(0, int(bank), sim::info(p).length, sim::info(p).index, value);
}

QByteArray actionRequest(sim::Action a)
{
    return request(0, 0x80, 0, int(a), 0);
}

QList<QByteArray> callKinds()
{
    QList<QByteArray> kinds;
    for (const sim::Call &call : sim::calls()) {
        switch (call.function) {
        case sim::Function::FindSensor:
            kinds << "find";
            break;
        case sim::Function::Feature:
            kinds << (call.get ? "get" : "set");
            break;
        case sim::Function::GetInReport:
            kinds << "in";
            break;
        case sim::Function::SendOutReport:
            kinds << "out";
            break;
        }
    }
    return kinds;
}

void clearCalls()
{
    sim::clearCalls();
}

void typeAndReturn(QWidget *field, const QString &text)
{
    field->setFocus();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(field)) {
        spin->selectAll();
    } else if (auto *edit = qobject_cast<QLineEdit *>(field)) {
        edit->selectAll();
    }
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

void replaceTextAndReturn(QWidget *field, const QString &text)
{
    field->setFocus();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(field)) {
        spin->selectAll();
    } else if (auto *edit = qobject_cast<QLineEdit *>(field)) {
        edit->selectAll();
    }
    QTest::keyClick(field, Qt::Key_Backspace);
    // One key event per code point, so a character outside the BMP arrives
    // whole, as a keyboard would send it.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n;
    }
    QTest::keyClick(field, Qt::Key_Return);
}

void reportRequestsAtFatalStop(const ModalBoxCatcher *catcher)
{
    setFatalStateReporter([catcher] {
        QStringList state;
        const QList<QByteArray> requests = featureRequests();
        const std::vector<sim::Call> calls = sim::calls(sim::Function::Feature);
        for (qsizetype i = 0; i < requests.size(); ++i)
            state << QString::fromLatin1(requests[i]) +
                         (calls[static_cast<std::size_t>(i)].ok() ? QString() : QStringLiteral(" failed"));
        state << QStringLiteral("boxes %1").arg(catcher->count());
        return state.join(QLatin1Char('\n'));
    });
}

QStringList fatalState(const ChildOutcome &child)
{
    const QStringList lines = child.errorOutput.split(QLatin1Char('\n'));
    const qsizetype begin = lines.indexOf(QStringLiteral("STATE BEGIN"));
    const qsizetype end = lines.indexOf(QStringLiteral("STATE END"));
    if (begin < 0 || end <= begin)
        return {};
    return lines.mid(begin + 1, end - begin - 1);
}

bool stoppedWith(const ChildOutcome &child, const QString &message)
{
    return child.crashed && child.errorOutput.split(QLatin1Char('\n')).contains(message);
}

} // namespace harness
