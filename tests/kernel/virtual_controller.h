// The in-guest tests' handle on vnk-uhid-controller: starts it with a given
// firmware state, waits until its hidraw node exists, and reads back the
// reports it saw (its log, format in uhid_controller.h).
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class VirtualController
{
public:
    VirtualController() = default;
    ~VirtualController();
    VirtualController(const VirtualController &) = delete;
    VirtualController &operator=(const VirtualController &) = delete;

    // `arguments` are the device program's (serial, state); the log option is
    // added here. False, with the reason in `error`, when it did not come up.
    bool start(const QStringList &arguments, QString &error);
    void stop();

    QString hidrawPath() const { return m_node; }

    // The log lines written since the last call. Output reports reach the
    // device after the writer has returned, so this waits up to `timeoutMs`
    // until at least `atLeast` new lines are there.
    QStringList takeLines(int atLeast = 0, int timeoutMs = 3000);

    // The hex of a report of `size` bytes that starts with `prefixHex` (hex
    // digits, no spaces) and is zero after it, as the log writes it.
    static QString reportHex(const char *prefixHex, int size = 33);

private:
    QProcess m_process;
    QTemporaryDir m_dir;
    QString m_logPath;
    QString m_node;
    qint64 m_consumed = 0;
};
