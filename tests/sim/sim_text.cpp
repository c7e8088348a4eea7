// Text formats of the simulator: hex, escaping, numbers, the REDI_SIM_FAIL
// rule list and the call-log line. Format reference: README.md.
#include "sim_core.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace sim {

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 0xF]);
    }
    return s;
}

const char *functionName(Function f)
{
    switch (f) {
    case Function::FindSensor: return "Usk_FindSensor_a";
    case Function::Feature: return "Usk_Feature_a";
    case Function::GetInReport: return "Usk_GetCurrentInReport_a";
    case Function::SendOutReport: return "Usk_SendOutReport_a";
    }
    return "?";
}

bool Call::matches(const RequestPattern &p) const
{
    if (function != Function::Feature || request.size() < 5)
        return false;
    return (p.direction < 0 || p.direction == request[1]) && (p.target < 0 || p.target == request[2])
        && (p.length < 0 || p.length == request[3]) && (p.index < 0 || p.index == request[4]);
}

std::string Call::line() const
{
    std::string s = functionName(function);
    s += ' ';
    if (function == Function::FindSensor)
        s += '-';
    else if (device.empty())
        s += "\"\"";
    else
        s += detail::escape(device);

    switch (function) {
    case Function::FindSensor:
        s += " sel=" + std::to_string(selector) + " args=";
        for (int i = 0; i < 6; ++i)
            s += (i ? "," : "") + std::to_string(reserved[i]);
        break;
    case Function::Feature:
        s += " get=" + std::to_string(get);
        break;
    case Function::GetInReport:
        s += " len=" + std::to_string(length);
        break;
    case Function::SendOutReport:
        s += " len=" + std::to_string(length) + " timeout=" + std::to_string(timeout);
        break;
    }
    s += result == Result::Ok ? " ok" : result == Result::Rejected ? " rejected" : " injected";
    if (!request.empty())
        s += " req=" + hex(request);
    if (!reply.empty())
        s += " reply=" + hex(reply);
    return s;
}

namespace detail {

std::string escape(const std::string &s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x21 || c > 0x7E || c == '\\') {
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool unescape(const std::string &s, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out.push_back(s[i]);
            continue;
        }
        if (i + 3 >= s.size() || s[i + 1] != 'x' || !std::isxdigit(static_cast<unsigned char>(s[i + 2]))
            || !std::isxdigit(static_cast<unsigned char>(s[i + 3])))
            return false;
        out.push_back(static_cast<char>(std::strtoul(s.substr(i + 2, 2).c_str(), nullptr, 16)));
        i += 3;
    }
    return true;
}

bool parseNumber(const std::string &text, unsigned long max, unsigned long &out)
{
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    std::string s = text.substr(b, e - b);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s = s.substr(2);
    }
    if (s.empty())
        return false;
    for (char c : s)
        if (base == 10 ? !std::isdigit(static_cast<unsigned char>(c)) : !std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    errno = 0;
    const unsigned long v = std::strtoul(s.c_str(), nullptr, base);
    if (errno == ERANGE || v > max)
        return false;
    out = v;
    return true;
}

namespace {

bool fail(std::string *error, const std::string &msg)
{
    if (error)
        *error = msg;
    return false;
}

// One field of a request pattern: '*' or a number, or one of the given words.
bool patternField(const std::string &s, int &out, std::initializer_list<std::pair<const char *, int>> words)
{
    if (s == "*") {
        out = -1;
        return true;
    }
    for (const auto &w : words) {
        if (s == w.first) {
            out = w.second;
            return true;
        }
    }
    unsigned long v;
    if (!parseNumber(s, 255, v))
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parseRule(const std::string &text, FailRule &rule, std::string *error)
{
    std::string s = text;
    rule = FailRule{};

    // Trailing "#N" or "#*".
    const std::size_t hashPos = s.find('#');
    if (hashPos != std::string::npos) {
        const std::string count = s.substr(hashPos + 1);
        s = s.substr(0, hashPos);
        unsigned long n;
        if (count == "*")
            rule.every = true;
        else if (parseNumber(count, 1000000, n) && n >= 1)
            rule.n = static_cast<int>(n);
        else
            return fail(error, "bad count '#" + count + "' in rule '" + text + "'");
    }

    std::string pattern;
    const std::size_t atPos = s.find('@');
    if (atPos != std::string::npos) {
        pattern = s.substr(atPos + 1);
        s = s.substr(0, atPos);
        rule.hasPattern = true;
    }

    if (s == "find" || s == "Usk_FindSensor_a")
        rule.function = Function::FindSensor;
    else if (s == "feature" || s == "Usk_Feature_a")
        rule.function = Function::Feature;
    else if (s == "input" || s == "Usk_GetCurrentInReport_a")
        rule.function = Function::GetInReport;
    else if (s == "output" || s == "Usk_SendOutReport_a")
        rule.function = Function::SendOutReport;
    else
        return fail(error, "unknown function '" + s + "' in rule '" + text + "'");

    if (rule.hasPattern) {
        if (rule.function != Function::Feature)
            return fail(error, "a request pattern needs 'feature' in rule '" + text + "'");
        std::vector<std::string> f;
        std::size_t from = 0;
        for (;;) {
            const std::size_t slash = pattern.find('/', from);
            f.push_back(pattern.substr(from, slash == std::string::npos ? std::string::npos : slash - from));
            if (slash == std::string::npos)
                break;
            from = slash + 1;
        }
        RequestPattern &p = rule.pattern;
        if (f.size() != 4 || !patternField(f[0], p.direction, {{"set", 0}, {"get", 1}})
            || !patternField(f[1], p.target, {{"ram", 0}, {"flash", 1}, {"action", 0x80}})
            || !patternField(f[2], p.length, {}) || !patternField(f[3], p.index, {}))
            return fail(error, "bad request pattern '" + pattern + "' (want DIR/TARGET/LENGTH/INDEX) in rule '" + text + "'");
    }
    return true;
}

} // namespace

bool parseFailRules(const std::string &text, std::vector<FailRule> &out, std::string *error)
{
    std::vector<FailRule> rules;
    std::string token;
    auto flush = [&]() {
        if (token.empty())
            return true;
        FailRule r;
        if (!parseRule(token, r, error))
            return false;
        rules.push_back(r);
        token.clear();
        return true;
    };
    for (char c : text) {
        if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c))) {
            if (!flush())
                return false;
        } else {
            token.push_back(c);
        }
    }
    if (!flush())
        return false;
    out.insert(out.end(), rules.begin(), rules.end());
    return true;
}

} // namespace detail
} // namespace sim
