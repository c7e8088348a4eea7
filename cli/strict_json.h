// What the JSON parser lets through and a profile must not hold: a key given
// twice in one object (the parser keeps the last, so the first would vanish
// unseen), an escape that JSON does not have, a raw control character or an
// unpaired surrogate in a string, nesting deeper than any profile, and a
// number with a fraction or an exponent where a whole number belongs (the
// parser makes 0.99999999999999999 the double 1).
#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>

// One line per problem, starting with the path of the object or value it is
// in ("settings: ..."). Syntax errors are left to the parser: the scan stops
// at the first one. `wholeNumberAt` tells, from that path, where a number must
// be written as a whole number: digits, a minus sign at most, nothing else.
QStringList strictJsonProblems(const QByteArray &json,
                               const std::function<bool(const QString &path)> &wholeNumberAt);
