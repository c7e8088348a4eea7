// Start-up time and peak memory of the program against a bare Qt program
// with the same frame (a QMainWindow with five empty tabs), both started as
// fresh processes and timed from just before the spawn to the end of the main
// window's first paint. The program runs its real start-up over the
// controller simulator's drop-in libredi.so.1 (controller present) and a
// throw-away guard store. The two alternate, round after round and in
// alternating order, so that drift and cache effects hit both alike; two
// unmeasured rounds first warm the page cache.
//
//   bench_startup [rounds] [platform]
//
// rounds: measured rounds of each program (default 15); platform: the Qt
// platform plugin (default offscreen; xcb needs DISPLAY, e.g. under xvfb-run).
//
// Medians are shown; also each process's CPU time, which other load on the
// machine disturbs less than the elapsed time.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr int probeTimeoutMs = 30000;

struct Run {
    double toAppReadyMs = 0;   // spawn to QApplication constructed
    double toFirstPaintMs = 0; // spawn to the main window's first paint done
    double peakMib = 0;        // VmHWM when the window had been painted
    double cpuMs = 0;          // user + system CPU time of the whole process
};

struct Probe {
    const char *name;
    const char *path;
    std::vector<Run> runs;
};

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::string> probeEnvironment(const std::string &platform, const std::string &registry)
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        // Whatever would change what the program finds or does at start-up.
        if (variable.rfind("QT_QPA_PLATFORM=", 0) == 0 || variable.rfind("LD_LIBRARY_PATH=", 0) == 0 ||
            variable.rfind("REDI_", 0) == 0 || variable.rfind("VNKESTRIX_REGISTRY=", 0) == 0)
            continue;
        env.push_back(variable);
    }
    env.push_back("QT_QPA_PLATFORM=" + platform);
    // Both get the drop-in's folder on the path so that their loaders search
    // alike; only the program loads from it.
    env.push_back("LD_LIBRARY_PATH=" SIM_DROPIN_DIR);
    env.push_back("VNKESTRIX_REGISTRY=" + registry);
    return env;
}

std::string fileText(const std::string &path)
{
    std::string text;
    if (FILE *file = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}

// Runs the probe once; false, with the reason on stderr, if it failed. The
// probe's own stderr (Qt's warnings) goes to errorFile and is shown only
// then.
bool runOnce(const Probe &probe, const std::vector<std::string> &environment, const std::string &errorFile,
             Run &run)
{
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);

    std::vector<char *> envp;
    for (const std::string &variable : environment)
        envp.push_back(const_cast<char *>(variable.c_str()));
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(probe.path), nullptr};

    pid_t pid = 0;
    const long long spawnedNs = monotonicNs();
    const int spawnError = posix_spawn(&pid, probe.path, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawnError != 0) {
        std::fprintf(stderr, "%s: cannot start: %s\n", probe.path, std::strerror(spawnError));
        close(out[0]);
        return false;
    }

    std::string output;
    char buffer[512];
    pollfd readable{out[0], POLLIN, 0};
    bool timedOut = false;
    for (;;) {
        const int ready = poll(&readable, 1, probeTimeoutMs);
        if (ready == 0) {
            timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);

    long long appReadyNs = 0, paintedNs = 0, sinceStartMs = 0;
    long peakKib = 0;
    const bool parsed = std::sscanf(output.c_str(), "app-ready-ns=%lld first-paint-ns=%lld since-start-ms=%lld vmhwm-kib=%ld",
                                    &appReadyNs, &paintedNs, &sinceStartMs, &peakKib) == 4;
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !parsed) {
        std::fprintf(stderr, "%s: %s (status 0x%x), output: %s\n%s\n", probe.name,
                     timedOut ? "no first paint within 30 s" : "failed", status, output.c_str(),
                     fileText(errorFile).c_str());
        return false;
    }
    run.toAppReadyMs = double(appReadyNs - spawnedNs) / 1e6;
    run.toFirstPaintMs = double(paintedNs - spawnedNs) / 1e6;
    run.peakMib = double(peakKib) / 1024;
    run.cpuMs = (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    return true;
}

std::vector<double> field(const std::vector<Run> &runs, double Run::*member)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(run.*member);
    return values;
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    const std::string platform = argc > 2 ? argv[2] : "offscreen";
    if (rounds < 1) {
        std::fprintf(stderr, "usage: %s [rounds] [platform]\n", argv[0]);
        return 2;
    }

    char directory[] = "/tmp/bench_startup.XXXXXX";
    if (!mkdtemp(directory)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string registry = std::string(directory) + "/registry.sqlite3";
    const std::string errorFile = std::string(directory) + "/stderr";
    const std::vector<std::string> environment = probeEnvironment(platform, registry);

    Probe bare{"bare", PROBE_BARE, {}};
    Probe ours{"vnkestrix", PROBE_VNKESTRIX, {}};
    const int warmUpRounds = 2;
    bool ok = true;
    for (int round = 0; ok && round < warmUpRounds + rounds; ++round) {
        Probe *order[2] = {&bare, &ours};
        if (round % 2)
            std::swap(order[0], order[1]);
        for (Probe *probe : order) {
            Run run;
            ok = ok && runOnce(*probe, environment, errorFile, run);
            if (ok && round >= warmUpRounds)
                probe->runs.push_back(run);
        }
    }
    // The first run created the store; leave nothing behind.
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((registry + suffix).c_str());
    std::remove(errorFile.c_str());
    rmdir(directory);
    if (!ok)
        return 1;

    std::printf("Start-up to the main window's first paint, platform %s, %d rounds each (alternating)\n",
                platform.c_str(), rounds);
    std::printf("%-18s %14s %14s %14s %10s %14s\n", "", "app ready ms", "first paint ms", "min paint ms",
                "CPU ms", "peak RSS MiB");
    for (const Probe *probe : {&bare, &ours}) {
        const std::vector<double> paint = field(probe->runs, &Run::toFirstPaintMs);
        std::printf("%-18s %14.1f %14.1f %14.1f %10.1f %14.1f\n",
                    probe == &bare ? "bare QMainWindow" : "VnKestrix", median(field(probe->runs, &Run::toAppReadyMs)),
                    median(paint), *std::min_element(paint.begin(), paint.end()),
                    median(field(probe->runs, &Run::cpuMs)), median(field(probe->runs, &Run::peakMib)));
    }
    const double ratio = median(field(ours.runs, &Run::toFirstPaintMs)) / median(field(bare.runs, &Run::toFirstPaintMs));
    const double extraMib = median(field(ours.runs, &Run::peakMib)) - median(field(bare.runs, &Run::peakMib));
    const double cpuRatio = median(field(ours.runs, &Run::cpuMs)) / median(field(bare.runs, &Run::cpuMs));
    std::printf("time ratio (VnKestrix / bare, medians): %.2fx  (aim: at most 1.25x)\n", ratio);
    std::printf("CPU time ratio (medians):               %.2fx\n", cpuRatio);
    std::printf("extra peak memory (medians):            %+.1f MiB  (aim: at most +8 MiB)\n", extraMib);
    return 0;
}
