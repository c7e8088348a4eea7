#include "strict_json.h"

#include "cli_failure.h"

#include <QRegularExpression>
#include <QSet>

#include <cctype>
#include <cstring>

namespace {

constexpr int maxDepth = 16; // a profile needs 3

bool isHighSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit < 0xDC00;
}

bool isLowSurrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit < 0xE000;
}

// JSON's integer form: "-0" is one too, and means 0.
bool isWholeNumber(const QByteArray &token)
{
    static const QRegularExpression integer(QStringLiteral("^-?(0|[1-9][0-9]*)$"));
    return integer.match(QString::fromLatin1(token)).hasMatch();
}

class Scanner {
public:
    Scanner(const QByteArray &json, const std::function<bool(const QString &)> &wholeNumberAt)
        : json_(json), wholeNumberAt_(wholeNumberAt)
    {
    }

    QStringList scan()
    {
        value({}, 0);
        return problems_;
    }

private:
    char at(qsizetype i) const
    {
        return i < json_.size() ? json_[i] : '\0';
    }

    void skipSpace()
    {
        while (std::strchr(" \t\r\n", at(pos_)) && pos_ < json_.size())
            ++pos_;
    }

    // Skips `c` after white space; false (and the scan stops) when it is not there.
    bool expect(char c)
    {
        skipSpace();
        stopped_ = stopped_ || at(pos_) != c;
        pos_ += stopped_ ? 0 : 1;
        return !stopped_;
    }

    void problem(const QString &where, const QString &what)
    {
        problems_.append(where.isEmpty() ? what : where + QStringLiteral(": ") + what);
    }

    void value(const QString &where, int depth)
    {
        skipSpace();
        if (depth > maxDepth) {
            problem(where, QStringLiteral("nested more than %1 deep").arg(maxDepth));
            stopped_ = true;
        } else if (at(pos_) == '{') {
            object(where, depth);
        } else if (at(pos_) == '[') {
            array(where, depth);
        } else if (at(pos_) == '"') {
            string(where);
        } else {
            const qsizetype start = pos_;
            while (pos_ < json_.size() && !std::strchr(",]} \t\r\n", at(pos_)))
                ++pos_;
            stopped_ = pos_ == start;
            const QByteArray token = json_.mid(start, pos_ - start);
            const bool number = !stopped_ && (token[0] == '-' || std::isdigit(static_cast<unsigned char>(token[0])));
            if (number && !isWholeNumber(token) && wholeNumberAt_(where))
                problem(where, echoed(QString::fromLatin1(token))
                                   + QStringLiteral(" is not a whole number: write it without a fraction or exponent"));
        }
    }

    void object(const QString &where, int depth)
    {
        ++pos_;
        QSet<QString> keys;
        skipSpace();
        if (at(pos_) == '}') {
            ++pos_;
            return;
        }
        while (!stopped_) {
            skipSpace();
            if (at(pos_) != '"') {
                stopped_ = true;
                return;
            }
            const QString key = string(where);
            if (keys.contains(key))
                problem(where, quoted(key) + QStringLiteral(" is given twice"));
            keys.insert(key);
            if (!expect(':'))
                return;
            value(where.isEmpty() ? echoed(key) : where + QLatin1Char('.') + echoed(key),
                  depth + 1);
            skipSpace();
            if (at(pos_) == '}') {
                ++pos_;
                return;
            }
            expect(',');
        }
    }

    void array(const QString &where, int depth)
    {
        ++pos_;
        skipSpace();
        if (at(pos_) == ']') {
            ++pos_;
            return;
        }
        while (!stopped_) {
            value(where, depth + 1);
            skipSpace();
            if (at(pos_) == ']') {
                ++pos_;
                return;
            }
            expect(',');
        }
    }

    // Four hex digits after "\u"; -1 when they are not.
    int unitAt(qsizetype i) const
    {
        int unit = 0;
        for (qsizetype k = i; k < i + 4; ++k) {
            const char *digit
                = std::strchr("0123456789abcdef", std::tolower(static_cast<unsigned char>(at(k))));
            if (!at(k) || !digit)
                return -1;
            unit = unit * 16 + int(digit - "0123456789abcdef");
        }
        return unit;
    }

    // The string at the opening quote, decoded as the parser decodes it.
    QString string(const QString &where)
    {
        QString text;
        QByteArray run; // UTF-8 since the last escape
        for (++pos_; pos_ < json_.size(); ++pos_) {
            const auto c = static_cast<unsigned char>(json_[pos_]);
            if (c == '"') {
                ++pos_;
                return text + QString::fromUtf8(run);
            }
            if (c < 0x20) {
                problem(where,
                        QStringLiteral(
                            "control character 0x%1 in a string at byte %2; write it as an escape")
                            .arg(c, 2, 16, QLatin1Char('0'))
                            .arg(pos_));
                continue;
            }
            if (c != '\\') {
                run += static_cast<char>(c);
                continue;
            }
            text += QString::fromUtf8(run);
            run.clear();
            const char escape = at(pos_ + 1);
            const char *simple = std::strchr("\"\\/bfnrt", escape);
            if (escape && simple) {
                text += QLatin1Char("\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"]);
                ++pos_;
                continue;
            }
            const int unit = escape == 'u' ? unitAt(pos_ + 2) : -1;
            if (unit < 0) {
                problem(where,
                        QStringLiteral("invalid escape \\%1 at byte %2")
                            .arg(echoed(QString(QLatin1Char(escape))))
                            .arg(pos_));
                ++pos_;
                continue;
            }
            pos_ += 5;
            const int low = at(pos_ + 1) == '\\' && at(pos_ + 2) == 'u' ? unitAt(pos_ + 3) : -1;
            if (isHighSurrogate(unsigned(unit)) && isLowSurrogate(unsigned(low))) {
                text += QChar(unit);
                text += QChar(low);
                pos_ += 6;
            } else if (isHighSurrogate(unsigned(unit)) || isLowSurrogate(unsigned(unit))) {
                problem(where,
                        QStringLiteral("unpaired surrogate \\u%1 at byte %2")
                            .arg(unit, 4, 16, QLatin1Char('0'))
                            .arg(pos_ - 5));
            } else {
                text += QChar(unit);
            }
        }
        stopped_ = true;
        return text;
    }

    const QByteArray &json_;
    const std::function<bool(const QString &)> &wholeNumberAt_;
    qsizetype pos_ = 0;
    bool stopped_ = false;
    QStringList problems_;
};

} // namespace

QStringList strictJsonProblems(const QByteArray &json,
                               const std::function<bool(const QString &path)> &wholeNumberAt)
{
    return Scanner(json, wholeNumberAt).scan();
}
