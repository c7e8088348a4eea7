#include "near_miss.h"

#include <algorithm>
#include <vector>

namespace {

// Edits between the two words, a swap of neighbours counting as one: "gte"
// is one edit from "get", as a typist would count it.
qsizetype editDistance(const QString &a, const QString &b)
{
    const qsizetype rows = a.size() + 1, columns = b.size() + 1;
    std::vector<qsizetype> d(static_cast<std::size_t>(rows * columns));
    const auto at = [&](qsizetype i, qsizetype j) -> qsizetype & { return d[static_cast<std::size_t>(i * columns + j)]; };
    for (qsizetype i = 0; i < rows; ++i)
        at(i, 0) = i;
    for (qsizetype j = 0; j < columns; ++j)
        at(0, j) = j;
    for (qsizetype i = 1; i < rows; ++i) {
        for (qsizetype j = 1; j < columns; ++j) {
            const qsizetype cost = a[i - 1] == b[j - 1] ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
        }
    }
    return at(rows - 1, columns - 1);
}

} // namespace

QString nearestName(const QString &typed, const QStringList &candidates)
{
    // One slip in a short word, two in a longer one: further than that the
    // guess is more likely wrong than helpful.
    const QString word = typed.toLower();
    const qsizetype allowed = word.size() <= 4 ? 1 : 2;
    QString best;
    qsizetype bestDistance = allowed + 1;
    for (const QString &candidate : candidates) {
        const qsizetype distance = editDistance(word, candidate.toLower());
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

QString didYouMean(const QString &typed, const QStringList &candidates)
{
    const QString nearest = nearestName(typed, candidates);
    return nearest.isEmpty() ? QString() : QStringLiteral("; did you mean %1?").arg(nearest);
}
