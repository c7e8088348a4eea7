#include "report_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

bool switchedOn = false;

bool environmentAsksForTrace()
{
    const char *value = std::getenv("VNKESTRIX_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The trace's times count from its first line.
Clock::time_point origin()
{
    static const Clock::time_point first = Clock::now();
    return first;
}

std::string milliseconds(Clock::duration d)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms",
                  std::chrono::duration<double, std::milli>(d).count());
    return text;
}

std::string hex(const unsigned char *bytes, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i)
        text += {digits[bytes[i] >> 4], digits[bytes[i] & 0xF]};
    return text;
}

} // namespace

void setReportTrace(bool on)
{
    switchedOn = on;
}

bool reportTraceOn()
{
    static const bool fromEnvironment = environmentAsksForTrace();
    return switchedOn || fromEnvironment;
}

TracedCall::TracedCall(const char *what, const unsigned char *request, std::size_t size)
    : on_(reportTraceOn()), what_(what)
{
    if (!on_)
        return;
    origin();
    if (request)
        request_.assign(request, request + size);
    start_ = Clock::now();
}

void TracedCall::finish(bool ok, const unsigned char *reply, std::size_t size,
                        const std::string &note)
{
    if (!on_)
        return;
    const Clock::time_point end = Clock::now();
    std::string line = "trace +" + milliseconds(start_ - origin()) + " " + what_
        + (ok ? " ok " : " FAILED ") + milliseconds(end - start_);
    if (!note.empty())
        line += " " + note;
    if (!request_.empty())
        line += " > " + hex(request_.data(), request_.size());
    if (reply)
        line += " < " + hex(reply, size);
    std::fprintf(stderr, "%s\n", line.c_str());
}
