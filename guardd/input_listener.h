// The input reports the controller sends by itself, waited for on a thread
// of its own and handed to the service's loop through a pipe.
//
// The library's wait blocks and has no descriptor to give to poll(), so it
// runs on a thread; the pipe, rather than a shared slot and an eventfd, keeps
// every report in order with the time it arrived (a line's debounce counts
// from the first report that showed the level), needs no lock on the loop's
// side, and a write of one message is atomic. A loop that falls behind
// blocks the reader on a full pipe instead of growing a queue.
#pragma once

#include "controller_link.h"
#include "redi_extension.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

struct InputArrival {
    Clock::time_point at;
    std::optional<InputReport> report; // nothing: the device failed
};

class InputListener {
public:
    // Null when the library cannot wait for input reports (the vendor's has
    // no such entry point) or the thread cannot be had. The listener lives as
    // long as the process: its thread may be inside the library's wait,
    // which nothing interrupts, so it is never stopped or destroyed.
    static InputListener *start();
    InputListener(const InputListener &) = delete;
    InputListener &operator=(const InputListener &) = delete;

    // Readable when something arrived.
    int fd() const
    {
        return pipe_[0];
    }
    // Waits for the reports of `device` from now on. After a failure the
    // thread waits for this call rather than failing again and again.
    void listen(const std::string &device);
    // What arrived since the last call, oldest first. A failure of a wait
    // begun before the last listen() is left out: it belongs to the device
    // the service has already given up on.
    std::vector<InputArrival> take();

private:
    explicit InputListener(RediReadInputReportFunction read);
    static void *run(void *self);
    void readForever();

    RediReadInputReportFunction read_;
    int pipe_[2] = {-1, -1};
    pthread_t thread_{};
    std::mutex mutex_;
    std::condition_variable rearmed_;
    std::string device_;
    unsigned generation_ = 0;
};
