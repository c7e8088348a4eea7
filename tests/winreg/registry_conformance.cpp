// Runs the registry call table (registry_calls.txt, on standard input) and
// prints its transcript; exits 1 when a call gave another result. Built
// natively it runs against the SQLite stand-in, a fresh store file per row
// in the directory argv[1] names; built for Windows, against the registry it
// runs on: Wine's, in a throw-away prefix. Both print the same transcript.
//
// A step is "call handle name [argument] -> result". Handles: HKLM, HKCU,
// HKCR, HKU, HKCC, last (the key the row last created or opened), null,
// bogus. Names in double quotes may hold spaces; "X*300" is 300 times X.
// Arguments: open with `all` (KEY_ALL_ACCESS) or `set` (KEY_SET_VALUE), else
// KEY_READ; set TYPE=hex; a query offers a buffer of that many bytes (64 when
// not given) or none (`null`). Results: the code, then for a create "new" or
// "existing", for a query TYPE=hex when it read the bytes, TYPE/size when it
// could not. `load` and `save` are the guard table's, levels then actions in
// name-table order ("-": left as it was).

#include "guard_table.h"
#include "registry_api.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> typeNames = {"NONE", "SZ", "EXPAND_SZ", "BINARY", "DWORD"};
#define NAMED(code) std::make_pair(LONG{ERROR_##code}, std::string(#code))
const std::map<LONG, std::string> codeNames
    = {NAMED(SUCCESS),      NAMED(FILE_NOT_FOUND), NAMED(ACCESS_DENIED),    NAMED(INVALID_HANDLE),
       NAMED(BAD_PATHNAME), NAMED(MORE_DATA),      NAMED(INVALID_PARAMETER)};
constexpr std::uint32_t untouched = 0xA5A5A5A5;
constexpr const char *hexDigits = "0123456789abcdef";

std::vector<HKEY> opened;
HKEY last = nullptr;

// Words separated by spaces; "..." keeps its spaces, "" is an empty word.
std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> result;
    for (std::size_t i = text.find_first_not_of(' '); i < text.size();
         i = text.find_first_not_of(' ', i)) {
        const bool quoted = text[i] == '"';
        const std::size_t end = std::min(text.find(quoted ? '"' : ' ', i + 1), text.size());
        std::string word = text.substr(i + quoted, end - i - quoted);
        if (word.size() > 2 && word[1] == '*')
            word = std::string(std::stoul(word.substr(2)), word[0]);
        result.push_back(word);
        i = end + 1;
    }
    return result;
}

HKEY handle(const std::string &word)
{
    const std::vector<std::string> roots = {"HKCR", "HKCU", "HKLM", "HKU", "", "HKCC"};
    for (std::size_t i = 0; i < roots.size(); ++i)
        if (word == roots[i])
            return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + i);
    return word == "last" ? last
        : word == "bogus" ? reinterpret_cast<HKEY>(std::uintptr_t{0x12345678})
                          : nullptr;
}

std::uint32_t &number(GuardTable &table, std::size_t i)
{
    return i < guardLineCount ? table.levels[i] : table.actions[i - guardLineCount];
}

// The guard table's 20 numbers as "levels actions", each part comma-separated.
std::string guardRun(const std::vector<std::string> &w)
{
    GuardTable table;
    if (w[0] == "save") {
        const std::string numbers = w.at(1) + "," + w.at(2);
        char *next = const_cast<char *>(numbers.c_str()) - 1;
        for (std::size_t i = 0; i < 2 * guardLineCount; ++i)
            number(table, i) = static_cast<std::uint32_t>(std::strtoul(next + 1, &next, 10));
        return saveGuardTable(table) == GuardResult::Ok ? "Ok" : "failed";
    }
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i)
        number(table, i) = untouched;
    std::string text = loadGuardTable(table) == GuardResult::Ok ? "Ok" : "failed";
    for (std::size_t i = 0; i < 2 * guardLineCount; ++i) {
        const std::uint32_t n = number(table, i);
        text += (i % guardLineCount ? "," : " ") + (n == untouched ? "-" : std::to_string(n));
    }
    return text;
}

// Runs one step; returns its result in the table's notation.
std::string run(const std::vector<std::string> &w)
{
    if (w[0] == "load" || w[0] == "save")
        return guardRun(w);
    const HKEY key = handle(w.at(1));
    const std::string name = w.size() > 2 ? w[2] : "", arg = w.size() > 3 ? w[3] : "";
    LONG rc = ERROR_SUCCESS;
    std::string detail;
    if (w[0] == "create" || w[0] == "open") {
        HKEY result = nullptr;
        DWORD disposition = 0;
        const REGSAM access = arg == "all" ? KEY_ALL_ACCESS
            : arg == "set"                 ? KEY_SET_VALUE
                                           : KEY_READ;
        rc = w[0] == "open"
            ? RegOpenKeyExA(key, name.c_str(), 0, access, &result)
            : RegCreateKeyExA(key, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &result, &disposition);
        if (rc == ERROR_SUCCESS)
            opened.push_back(last = result);
        if (rc == ERROR_SUCCESS && w[0] == "create")
            detail = disposition == REG_CREATED_NEW_KEY ? " new" : " existing";
    } else if (w[0] == "set") {
        std::vector<BYTE> data;
        for (std::size_t i = arg.find('=') + 1; i + 1 < arg.size(); i += 2)
            data.push_back(static_cast<BYTE>(std::stoul(arg.substr(i, 2), nullptr, 16)));
        const auto type
            = std::find(typeNames.begin(), typeNames.end(), arg.substr(0, arg.find('=')));
        rc = RegSetValueExA(key, name.c_str(), 0, static_cast<DWORD>(type - typeNames.begin()),
                            data.data(), static_cast<DWORD>(data.size()));
    } else if (w[0] == "query") {
        const bool none = arg == "null";
        DWORD type = 0xDEAD, size = arg.empty() ? 64 : none ? 0 : std::stoul(arg);
        std::vector<BYTE> buffer(size + 1); // never empty: a 0-byte buffer is no NULL
        rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, none ? nullptr : buffer.data(),
                              &size);
        const std::string typeName
            = type < typeNames.size() ? typeNames[type] : std::to_string(type);
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)
            detail = " " + typeName
                + (rc == ERROR_SUCCESS && !none ? "=" : "/" + std::to_string(size));
        for (DWORD i = 0; rc == ERROR_SUCCESS && !none && i < size; ++i)
            detail += std::string{hexDigits[buffer[i] >> 4], hexDigits[buffer[i] & 15]};
    } else {
        rc = RegCloseKey(key);
    }
    return (codeNames.count(rc) ? codeNames.at(rc) : std::to_string(rc)) + detail;
}

// Gives a row an empty registry, as far as the rows reach.
void freshRegistry([[maybe_unused]] const std::string &storeDir, [[maybe_unused]] int row)
{
    for (HKEY key : opened)
        RegCloseKey(key);
    opened.clear();
#ifdef _WIN32
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS})
        RegDeleteTreeA(root, "SOFTWARE\\Vantrel");
#else
    const std::string file = storeDir + "/row" + std::to_string(row) + ".sqlite3";
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((file + suffix).c_str());
    setenv("VNKESTRIX_REGISTRY", file.c_str(), 1);
#endif
}

} // namespace

// argv[1]: the directory for the stand-in's store files (default: the
// current one).
int main(int argc, char **argv)
{
    const bool standIn = REGISTRY_STAND_IN; // else the registry of the Windows it runs on
    int steps = 0, failed = 0, row = 0;
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty() || line.rfind("##", 0) == 0)
            continue;
        if (line[0] == '#') {
            freshRegistry(argc > 1 ? argv[1] : ".", ++row);
            std::printf("%s\n", line.c_str());
            continue;
        }
        const std::string step = line.substr(0, line.find(" -> "));
        std::string expected = line.substr(step.size() + 4);
        const std::size_t bar = expected.find(" | stand-in: ");
        if (bar != std::string::npos)
            expected = standIn ? expected.substr(bar + 13) : expected.substr(0, bar);
        const std::string result = run(words(step));
        failed += result != expected;
        ++steps;
        const std::string shown
            = result == expected ? line : step + " -> " + result + "   !! expected " + expected;
        std::printf("%s\n", shown.c_str());
    }
    std::printf("%d passed, %d failed\n", steps - failed, failed);
    return failed || !steps ? 1 : 0;
}
