// "Did you mean ...?" for a mistyped command, option or setting name.
#pragma once

#include <QString>
#include <QStringList>

// The candidate closest to `typed`, when it is near enough to be what the
// user meant; empty otherwise.
QString nearestName(const QString &typed, const QStringList &candidates);

// "; did you mean NAME?" for a near miss, else nothing: to append to a
// refusal.
QString didYouMean(const QString &typed, const QStringList &candidates);
