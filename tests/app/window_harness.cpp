#include "window_harness.h"

#include "controller_link.h"
#include "controller_sim.h"

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

} // namespace harness
