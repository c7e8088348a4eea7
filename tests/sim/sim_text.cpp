// The simulator's text formats that tests write: the state file and the
// failure rules. Formats: README.md.
#include "sim_core.h"

#include <redi.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <sstream>

namespace sim {

namespace {

// An unsigned number, decimal or 0x-prefixed hex, at most `max`.
bool parseNumber(const std::string &text, unsigned long max, unsigned long &out)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char *allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    out = std::stoul(digits, nullptr, hex ? 16 : 10);
    return out <= max;
}

bool unescape(const std::string &s, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned long byte = static_cast<unsigned char>(s[i]);
        if (s[i] == '\\') {
            if (s.size() < i + 4 || s[i + 1] != 'x' || !parseNumber("0x" + s.substr(i + 2, 2), 0xFF, byte))
                return false;
            i += 3;
        }
        out.push_back(static_cast<char>(byte));
    }
    return true;
}

// A number of the state file, held in the simulator.
struct NumberField {
    std::string key;
    unsigned long max;
    std::function<unsigned long()> get;
    std::function<void(unsigned long)> set;
};

template <typename T>
NumberField field(std::string key, T &value, unsigned long max = std::numeric_limits<T>::max())
{
    return {std::move(key), max, [&value] { return static_cast<unsigned long>(value); },
            [&value](unsigned long v) { value = static_cast<T>(v); }};
}

std::vector<NumberField> numberFields(Simulator &s)
{
    FirmwareModel &f = s.firmware;
    std::vector<NumberField> fields = {field("release", s.release)};
    for (Bank bank : {Bank::Ram, Bank::Flash})
        for (std::size_t i = 0; i < ParamCount; ++i)
            fields.push_back(field(std::string(bank == Bank::Ram ? "ram." : "flash.") + parameters()[i].key,
                                   f.value(bank, Param(i)), parameters()[i].length == 1 ? 0xFF : 0xFFFF));
    fields.push_back(field("input_levels", f.inputLevels));
    fields.push_back(field("status", f.status));
    fields.push_back(field("output_levels", f.outputLevels));
    const char *const actions[] = {"reset_thrm_pin", "serve_watchdog", "reset_watchdog_pin"};
    for (std::size_t i = 0; i < f.actions.size(); ++i)
        fields.push_back(field(std::string("actions.") + actions[i], f.actions[i]));
    return fields;
}

bool fail(std::string *error, const std::string &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

std::string stateText()
{
    Simulator &s = simulator();
    std::string text = "# controller simulator state (tests/sim/README.md)\ndevice=" + detail::escape(s.device)
        + "\nserial=" + detail::escape(s.firmware.serial) + "\nplugged_serial=" + detail::escape(s.pluggedSerial)
        + '\n';
    for (const NumberField &f : numberFields(s))
        text += f.key + '=' + std::to_string(f.get()) + '\n';
    return text;
}

bool loadStateText(const std::string &text, std::string *error)
{
    Simulator loaded = simulator();
    const std::vector<NumberField> fields = numberFields(loaded);
    std::istringstream in(text);
    std::string line;
    std::optional<std::string> serial, plugged;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq), value = eq == std::string::npos ? "" : line.substr(eq + 1);
        const auto number = std::find_if(fields.begin(), fields.end(), [&](const NumberField &f) { return f.key == key; });
        unsigned long n = 0;
        std::string s;
        if (key == "device" && unescape(value, s) && !s.empty() && s.size() < REDI_DEVICE_NAME_SIZE)
            loaded.device = s;
        else if ((key == "serial" || key == "plugged_serial") && unescape(value, s)
                 && s.size() < sizeof(RediDeviceRecord::serialNumber))
            (key == "serial" ? serial : plugged) = s;
        else if (number != fields.end() && parseNumber(value, number->max, n))
            number->set(n);
        else
            return fail(error, "line " + std::to_string(lineNo) + ": unknown key or bad value in '" + line + "'");
    }
    // A board given a serial number alone was plugged in with it.
    if (serial)
        loaded.firmware.serial = *serial;
    if (serial || plugged)
        loaded.pluggedSerial = plugged.value_or(loaded.firmware.serial);
    simulator() = loaded;
    return true;
}

bool addFailRules(const std::string &text, std::string *error)
{
    static const char *const functions[] = {"find", "feature", "input", "output"};
    static const std::map<std::string, int> words[2] = {{{"set", 0}, {"get", 1}},
                                                         {{"ram", 0}, {"flash", 1}, {"action", 0x80}}};
    std::string spaced = text;
    std::replace_if(spaced.begin(), spaced.end(), [](char c) { return c == ',' || c == ';'; }, ' ');
    std::istringstream in(spaced);
    std::vector<FailRule> rules;
    for (std::string word; in >> word;) {
        const std::size_t at = std::min(word.find('@'), word.size());
        const auto function = std::find(std::begin(functions), std::end(functions), word.substr(0, at));
        if (function == std::end(functions))
            return fail(error, "unknown function in rule '" + word + "'");
        FailRule rule{Function(function - std::begin(functions)), {-1, -1, -1, -1}};
        if (at < word.size()) {
            std::string pattern = word.substr(at + 1), item;
            std::replace(pattern.begin(), pattern.end(), '/', ' ');
            std::istringstream items(pattern);
            for (std::size_t i = 0; i < rule.pattern.size(); ++i) {
                unsigned long n = 0;
                if (!(items >> item))
                    return fail(error, "too few fields in rule '" + word + "'");
                if (i < 2 && words[i].count(item))
                    rule.pattern[i] = words[i].at(item);
                else if (parseNumber(item, 0xFF, n))
                    rule.pattern[i] = int(n);
                else if (item != "*")
                    return fail(error, "bad field '" + item + "' in rule '" + word + "'");
            }
            if (items >> item || rule.function != Function::Feature)
                return fail(error, "a pattern of four fields needs 'feature' in rule '" + word + "'");
        }
        rules.push_back(rule);
    }
    simulator().failRules.insert(simulator().failRules.end(), rules.begin(), rules.end());
    return true;
}

} // namespace sim
