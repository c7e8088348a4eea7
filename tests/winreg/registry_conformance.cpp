// Runs registry call tables (registry_calls.txt, and natively also
// stand_in_calls.txt, on standard input) and prints the transcript; exits 1
// when a call gave another result. Built natively it runs against the SQLite
// stand-in, a fresh store file per row in the directory argv[1] names; built
// for Windows, against the registry it runs on: Wine's, in a throw-away
// prefix. Both are held to the results registry_calls.txt states.
//
// A step is "call handle name [argument] -> result". Handles: HKLM, HKCU,
// HKCR, HKU, HKCC, last (the key the row last created or opened), null,
// bogus. Names in double quotes may hold spaces; "X*300" is 300 times X.
// Arguments: open with `all` (KEY_ALL_ACCESS) or `set` (KEY_SET_VALUE), else
// KEY_READ; set TYPE=hex; a query offers a buffer of that many bytes (64 when
// not given) or none (`null`). Results: the code, then for a create "new" or
// "existing", for a query TYPE=hex when it read the bytes, TYPE/size when it
// could not. `load` and `save` are the guard table's, levels then actions in
// name-table order ("-": left as it was); `keys` runs a key object's life
// (moved from, assigned over, destroyed) and then closes the handles it had:
// each close's code. The stand-in's own steps are described in
// stand_in_calls.txt; for `kills` this program runs itself as the writer
// (--save-loop N: saves of N, N+1, ..., on stdout its process id before the
// first, then each save's number once the save returned).

#include "guard_table.h"
#include "registry.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if REGISTRY_STAND_IN
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "temp_store.h"

// SQLite's syncs reach these definitions before the C library's.
static int syncs = 0;
extern "C" int fsync(int fd) { ++syncs; return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"))(fd); }
extern "C" int fdatasync(int fd) { ++syncs; return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"))(fd); }

#endif

namespace {

const std::vector<std::string> typeNames = {"NONE", "SZ", "EXPAND_SZ", "BINARY", "DWORD"};
const char *const guardResults[] = {"Ok", "KeyNotOpened", "ReadFailed", "WriteFailed"};
#define NAMED(code) std::make_pair(LONG{ERROR_##code}, std::string(#code))
const std::map<LONG, std::string> codeNames
    = {NAMED(SUCCESS),      NAMED(FILE_NOT_FOUND), NAMED(ACCESS_DENIED),     NAMED(INVALID_HANDLE),
       NAMED(BAD_PATHNAME), NAMED(MORE_DATA),      NAMED(INVALID_PARAMETER), NAMED(CANTWRITE),
       NAMED(NOT_REGISTRY_FILE), NAMED(BUSY),        NAMED(BAD_FILE_TYPE),     NAMED(TIMEOUT),
       NAMED(BADDB)};
constexpr std::uint32_t untouched = 0xA5A5A5A5;

std::vector<HKEY> opened;
HKEY last = nullptr;
std::string storeFile;

std::string codeText(LONG rc) { return codeNames.count(rc) ? codeNames.at(rc) : std::to_string(rc); }

// Words separated by spaces; "..." keeps its spaces, "" is an empty word. A
// backslash is a path's, inside quotes too, never an escape.
std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> result;
    for (std::string word; in >> std::quoted(word, '"', '\0');)
        result.push_back(word.size() > 2 && word[1] == '*' ? std::string(std::stoul(word.substr(2)), word[0]) : word);
    return result;
}

HKEY handle(const std::string &word) {
    const std::vector<std::string> roots = {"HKCR", "HKCU", "HKLM", "HKU", "", "HKCC"};
    const auto root = std::find(roots.begin(), roots.end(), word);
    return root != roots.end() ? reinterpret_cast<HKEY>(static_cast<std::intptr_t>(INT32_MIN) + (root - roots.begin()))
        : word == "last"       ? last
        : word == "bogus"      ? reinterpret_cast<HKEY>(std::uintptr_t{0x12345678})
                               : nullptr;
}

// The guard table's 20 numbers as "levels actions", each part comma-separated.
std::string guardRun(const std::vector<std::string> &w) {
    GuardTable table;
    table.levels.fill(untouched);
    table.actions.fill(untouched);
    const bool save = w[0] == "save";
    if (save) {
#if REGISTRY_STAND_IN
        syncs = 0; // the syncs step counts those of the last save
#endif
        std::istringstream in(w.at(1) + " " + w.at(2));
        for (auto *part : {&table.levels, &table.actions})
            for (std::uint32_t &number : *part)
                in >> number, in.ignore(); // and the comma or space after it
    }
    long error = ERROR_SUCCESS;
    std::string text = guardResults[int(save ? saveGuardTable(table, &error) : readGuardTable(table, &error))];
    text += error ? "/" + codeText(error) : "";
    for (auto *part : {&table.levels, &table.actions})
        for (std::size_t i = 0; !save && i < guardLineCount; ++i)
            text += (i ? "," : " ") + ((*part)[i] == untouched ? "-" : std::to_string((*part)[i]));
    return text;
}

#if REGISTRY_STAND_IN
sqlite3 *holder = nullptr;

// A shell command with STORE and SELF (this program) set: its output, lines
// joined by "|", then its exit code when that is not 0.
std::string shell(const std::string &command) {
    setenv("STORE", storeFile.c_str(), 1);
    FILE *out = popen(command.c_str(), "r");
    std::string text;
    for (int c; out && (c = std::fgetc(out)) != EOF;)
        text += c == '\n' ? '|' : char(c);
    const int status = out ? pclose(out) : -1;
    if (!text.empty() && text.back() == '|')
        text.pop_back();
    text += WEXITSTATUS(status) ? " exit " + std::to_string(WEXITSTATUS(status)) : "";
    return text.empty() ? "SUCCESS" : text;
}

// The writer killed `rounds` times at random moments of its saves while this
// process reads: "whole" when every reading, also the one after each kill,
// saw a whole table, and after each kill the table is the old one or one of
// the writer's, none older than the last it reported.
std::string killedSaves(int rounds) {
    GuardTable table;
    // Read as the service and the CLI read: one snapshot, all 20 values one save's.
    const auto whole = [&table] {
        table.levels.fill(untouched);
        return readGuardTable(table) == GuardResult::Ok && table.levels[0] != untouched
            && std::count(table.levels.begin(), table.levels.end(), table.levels[0]) == guardLineCount
            && table.actions == table.levels;
    };
    std::uint32_t current = 0; // the row saves zeros first
    int saves = 0;
    for (int round = 0; round < rounds; ++round) {
        FILE *report = popen(("exec \"$SELF\" --save-loop " + std::to_string(current + 1)).c_str(), "r");
        std::uint32_t writer = 0, reported = 0;
        if (!report || std::fread(&writer, 4, 1, report) != 1)
            return "no writer";
        bool fine = true;
        // Killed after up to 20 ms, a few saves: sometimes in the first, often later.
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(std::random_device{}() % 20000);
        while (fine && std::chrono::steady_clock::now() < end)
            fine = whole();
        kill(pid_t(writer), SIGKILL);
        for (std::uint32_t n = 0; std::fread(&n, 4, 1, report) == 1; ++saves)
            reported = n;
        pclose(report);
        fine = fine && whole() // 20 DWORDs of 4 bytes, all alike: nothing beside the table
            && queryStore(storeFile, "SELECT count(*) || ' ' || count(DISTINCT data) FROM reg_values WHERE type = 4 AND "
                                     "length(data) = 4") == "20 1";
        // The last save reported (the old table when none was) or the one it was making.
        const std::uint32_t got = table.levels[0], last = reported ? reported : current;
        if (!fine || (got != last && got != last + 1))
            return "round " + std::to_string(round) + (fine ? ": " : ": a reading failed: ") + std::to_string(got)
                + " after " + std::to_string(current) + ", " + std::to_string(reported) + " reported";
        current = got;
    }
    return saves ? "whole" : "no save completed";
}
#endif

// Runs one step; returns its result in the table's notation.
std::string run(const std::vector<std::string> &w) {
    const HKEY key = handle(w.size() > 1 ? w[1] : "");
    const std::string name = w.size() > 2 ? w[2] : "", arg = w.size() > 3 ? w[3] : "";
    LONG rc = ERROR_SUCCESS;
    std::string detail;
    if (w[0] == "load" || w[0] == "save") {
        return guardRun(w);
#if REGISTRY_STAND_IN
    } else if (w[0] == "syncs") {
        return std::to_string(syncs);
    } else if (w[0] == "kills") {
        return killedSaves(std::stoi(w.at(1)));
    } else if (w[0] == "begin" || w[0] == "commit" || w[0] == "rollback") {
        rc = w[0] == "begin" ? VnkRegBeginTransaction(1000) : VnkRegEndTransaction(w[0] == "commit");
    } else if (w[0] == "hold") { // another connection takes the write lock until the row ends
        sqlite3_open(storeFile.c_str(), &holder);
        rc = sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : ERROR_BUSY;
#endif
    } else if (w[0] == "keys") {
        HKEY had = nullptr;
        {
            RegistryKey first = Registry::instance().openKey(localMachineKey(), name, true), second(std::move(first));
            had = second.handle();
            second = Registry::instance().openKey(localMachineKey(), name + "\\B", true);
            detail = (first.isOpen() ? " moved-from open " : " ") + codeText(RegCloseKey(std::exchange(had, second.handle())));
        }
        rc = RegCloseKey(had);
    } else if (w[0] == "create" || w[0] == "open") {
        HKEY result = nullptr;
        DWORD disposition = 0;
        const REGSAM access = arg == "all" ? KEY_ALL_ACCESS : arg == "set" ? KEY_SET_VALUE : KEY_READ;
        rc = w[0] == "open" ? RegOpenKeyExA(key, name.c_str(), 0, access, &result)
                            : RegCreateKeyExA(key, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, &result, &disposition);
        if (rc == ERROR_SUCCESS)
            opened.push_back(last = result);
        if (rc == ERROR_SUCCESS && w[0] == "create")
            detail = disposition == REG_CREATED_NEW_KEY ? " new" : " existing";
    } else if (w[0] == "set") {
        std::vector<BYTE> data;
        for (std::size_t i = arg.find('=') + 1; i + 1 < arg.size() && arg[i] != '*'; i += 2)
            data.push_back(static_cast<BYTE>(std::stoul(arg.substr(i, 2), nullptr, 16)));
        if (arg.find('*') != std::string::npos) // TYPE=hex*N: the bytes N times
            data.resize(data.size() * std::stoul(arg.substr(arg.find('*') + 1)), data.empty() ? 0 : data[0]);
        const auto type = std::find(typeNames.begin(), typeNames.end(), arg.substr(0, arg.find('=')));
        rc = RegSetValueExA(key, name.c_str(), 0, static_cast<DWORD>(type - typeNames.begin()), data.data(),
                            static_cast<DWORD>(data.size()));
    } else if (w[0] == "query") {
        const bool none = arg == "null";
        DWORD type = 0xDEAD, size = arg.empty() ? 64 : none ? 0 : std::stoul(arg);
        std::vector<BYTE> buffer(size + 1); // never empty: a 0-byte buffer is no NULL
        rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, none ? nullptr : buffer.data(), &size);
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)
            detail = " " + (type < typeNames.size() ? typeNames[type] : std::to_string(type))
                + (rc == ERROR_SUCCESS && !none ? "=" : "/" + std::to_string(size));
        for (DWORD i = 0; rc == ERROR_SUCCESS && !none && i < size; ++i)
            detail += std::string{"0123456789abcdef"[buffer[i] >> 4], "0123456789abcdef"[buffer[i] & 15]};
    } else {
        rc = RegCloseKey(key);
    }
    return codeText(rc) + detail;
}

} // namespace

// argv[1]: the directory for the stand-in's store folders, one a row
// (default: the current one).
int main([[maybe_unused]] int argc, [[maybe_unused]] char **argv) {
#if REGISTRY_STAND_IN
    if (argc == 3 && std::string(argv[1]) == "--save-loop") {
        GuardTable table;
        for (std::uint32_t done = std::uint32_t(getpid()), next = std::uint32_t(std::stoul(argv[2]));; done = next++) {
            table.levels.fill(next);
            table.actions.fill(next);
            if (write(STDOUT_FILENO, &done, sizeof done) != sizeof done || saveGuardTable(table) != GuardResult::Ok)
                return 3;
        }
    }
    setenv("SELF", std::filesystem::read_symlink("/proc/self/exe").c_str(), 1); // for the shell steps and the writer
#endif
    int steps = 0, failed = 0;
    [[maybe_unused]] int row = 0;
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty() || line.rfind("##", 0) == 0)
            continue;
        if (line[0] == '#') { // a row: an empty registry, as far as the rows reach
            for (HKEY key : std::exchange(opened, {}))
                RegCloseKey(key);
#if REGISTRY_STAND_IN
            sqlite3_close(std::exchange(holder, nullptr));
#endif
            std::printf("%s\n", line.c_str());
#ifdef _WIN32
            for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS})
                RegDeleteTreeA(root, "SOFTWARE\\Vantrel");
#else
            // Each row's store in a folder of its own, which the row may replace.
            storeFile = std::string(argc > 1 ? argv[1] : ".") + "/row" + std::to_string(++row) + "/registry.sqlite3";
            std::filesystem::remove_all(std::filesystem::path(storeFile).parent_path());
            std::filesystem::create_directory(std::filesystem::path(storeFile).parent_path());
            setenv("VNKESTRIX_REGISTRY", storeFile.c_str(), 1);
#endif
            continue;
        }
        const std::string step = line.substr(0, line.rfind(" -> "));
#if REGISTRY_STAND_IN
        const std::string result = step.rfind("sh ", 0) == 0 ? shell(step.substr(3)) : run(words(step));
#else
        const std::string result = run(words(step));
#endif
        std::string expected = line.substr(step.size() + 4);
        if (expected.find(" | stand-in: ") != std::string::npos)
            expected = REGISTRY_STAND_IN ? expected.substr(expected.find(" | ") + 13) : expected.substr(0, expected.find(" | "));
        failed += result != expected;
        ++steps;
        std::printf("%s\n", (result == expected ? line : step + " -> " + result + "   !! expected " + expected).c_str());
    }
    std::printf("%d passed, %d failed\n", steps - failed, failed);
    return failed || !steps ? 1 : 0;
}
