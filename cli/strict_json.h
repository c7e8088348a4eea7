// What the JSON parser lets through and a profile must not hold: a key given
// twice in one object (the parser keeps the last, so the first would vanish
// unseen), an escape that JSON does not have, a raw control character or an
// unpaired surrogate in a string, nesting deeper than any profile.
#pragma once

#include <QByteArray>
#include <QStringList>

// One line per problem, starting with the path of the object or value it is
// in ("settings: ..."). Syntax errors are left to the parser: the scan stops
// at the first one.
QStringList strictJsonProblems(const QByteArray &json);
