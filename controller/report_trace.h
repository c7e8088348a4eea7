// A trace of every exchange with the HID library on stderr, for finding out
// in the field what went over the wire: the call, its result, its duration
// and the bytes sent and received in hex. Off unless switched on here or by
// VNKESTRIX_TRACE=1 in the environment.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

void setReportTrace(bool on);
bool reportTraceOn();

// One library call: built just before it (with the request), finished just
// after it (with the reply, if any). Costs nothing while the trace is off.
class TracedCall {
public:
    TracedCall(const char *what, const unsigned char *request = nullptr, std::size_t size = 0);
    void finish(bool ok, const unsigned char *reply = nullptr, std::size_t size = 0,
                const std::string &note = {});

private:
    bool on_;
    const char *what_;
    std::vector<unsigned char> request_;
    std::chrono::steady_clock::time_point start_;
};
