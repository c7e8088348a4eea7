// Holds a program between two controller exchanges, so that a test can
// unplug and plug the board in again there. Loaded with LD_PRELOAD in front
// of libredi; with VNK_PAUSE_FILE=F and VNK_PAUSE_AT=N, the Nth report call
// (Usk_Feature_a, Usk_GetCurrentInReport_a or Usk_SendOutReport_a) first
// creates F.paused, then waits (up to a minute) until F exists.
#include "redi.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

void maybePause()
{
    static int calls = 0;
    const char *file = std::getenv("VNK_PAUSE_FILE"), *at = std::getenv("VNK_PAUSE_AT");
    if (!file || !at || ++calls != std::atoi(at))
        return;
    ::close(::open((std::string(file) + ".paused").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    for (int i = 0; i < 6000 && ::access(file, F_OK) != 0; ++i)
        ::usleep(10000);
}

template <typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int Usk_Feature_a(const char *deviceName, unsigned char *report, int get)
{
    maybePause();
    return next<int (*)(const char *, unsigned char *, int)>(__func__)(deviceName, report, get);
}

int Usk_GetCurrentInReport_a(const char *deviceName, unsigned char *report, int length)
{
    maybePause();
    return next<int (*)(const char *, unsigned char *, int)>(__func__)(deviceName, report, length);
}

int Usk_SendOutReport_a(const char *deviceName, unsigned char *report, int length, int timeoutMs)
{
    maybePause();
    return next<int (*)(const char *, unsigned char *, int, int)>(__func__)(deviceName, report, length, timeoutMs);
}

} // extern "C"
