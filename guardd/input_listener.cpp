#include "input_listener.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// One arrival on the pipe; far below PIPE_BUF, so a write is never split.
struct Message {
    unsigned generation;
    int result; // 1: a report, -1: the device failed
    Clock::rep at;
    InputReport report;
};

// The thread only waits in the library and copies reports: a small stack is
// plenty, and the default's 8 MiB would be address space for nothing.
constexpr std::size_t readerStack = 256 * 1024;

} // namespace

InputListener::InputListener(RediReadInputReportFunction read) : read_(read) { }

InputListener *InputListener::start()
{
    const RediReadInputReportFunction read = rediReadInputReport();
    if (!read)
        return nullptr;
    auto *listener = new InputListener(read);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, readerStack);
    const bool started = ::pipe2(listener->pipe_, O_CLOEXEC) == 0
        && ::fcntl(listener->pipe_[0], F_SETFL, O_NONBLOCK) == 0
        && pthread_create(&listener->thread_, &attributes, run, listener) == 0;
    pthread_attr_destroy(&attributes);
    if (started)
        return listener;
    ::close(listener->pipe_[0]);
    ::close(listener->pipe_[1]);
    delete listener;
    return nullptr;
}

void InputListener::listen(const std::string &device)
{
    const std::lock_guard lock(mutex_);
    device_ = device;
    ++generation_;
    rearmed_.notify_one();
}

void *InputListener::run(void *self)
{
    static_cast<InputListener *>(self)->readForever();
    return nullptr;
}

void InputListener::readForever()
{
    unsigned served = 0; // the generation that last failed, waiting for a new one
    for (;;) {
        std::string device;
        unsigned started = 0;
        {
            std::unique_lock lock(mutex_);
            rearmed_.wait(lock, [&] { return generation_ != served && !device_.empty(); });
            device = device_;
            started = generation_;
        }
        Message message{};
        message.result = read_(device.c_str(), message.report.data(), static_cast<int>(message.report.size()), -1);
        message.at = Clock::now().time_since_epoch().count();
        if (message.result == 0)
            continue;
        {
            // A report is news of the lines whenever it was waited for; a
            // failure only of the device the wait began on.
            const std::lock_guard lock(mutex_);
            message.generation = message.result > 0 ? generation_ : started;
        }
        if (message.result < 0)
            served = started;
        while (::write(pipe_[1], &message, sizeof message) < 0 && errno == EINTR) {
        }
    }
}

std::vector<InputArrival> InputListener::take()
{
    unsigned current = 0;
    {
        const std::lock_guard lock(mutex_);
        current = generation_;
    }
    std::vector<InputArrival> arrivals;
    Message message{};
    while (::read(pipe_[0], &message, sizeof message) == sizeof message) {
        if (message.generation != current)
            continue;
        InputArrival &arrival = arrivals.emplace_back();
        arrival.at = Clock::time_point(Clock::duration(message.at));
        if (message.result > 0)
            arrival.report = message.report;
    }
    return arrivals;
}
