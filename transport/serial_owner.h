// What the serial worker talks to: the main window, through a thread hop of the owner's
// choosing (a blocking queued call in the program, a task thread in tests).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <utility>

namespace corvane {

class ISerialOwner {
public:
    virtual ~ISerialOwner() = default;

    // Worker thread. One call per received byte, in order. Returns when the user-interface
    // thread has handled the byte, or as soon as `stop` is requested (the link is stopping and
    // its owner may be waiting for the worker): a byte whose handling had not started by then
    // is dropped. Must never wait on anything else.
    virtual void OnPortByte(uint8_t b, unsigned port, std::stop_token stop) = 0;

    // Worker thread: the bytes of one read, in order. The same contract as OnPortByte for each
    // byte; an owner may cross to its thread once for all of them, as long as each byte is
    // handled by itself, in order, the stop is checked before each, and the call returns only
    // when all have been handled or the stop dropped the rest.
    virtual void OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop)
    {
        for (uint8_t b : bytes) {
            if (stop.stop_requested())
                return;
            OnPortByte(b, port, stop);
        }
    }

    // Worker thread. Waiting on the port or writing to it failed; posted, must not block.
    virtual void OnPortLinkLost(unsigned port) = 0;
};

// The blocking hand-over of one call to another thread, cancellable by a stop request.
// `post` queues a std::function<void()> onto the target thread. Returns true when `work`
// ran to its end before the stop; false when it was dropped or is still running.
template <class Post>
bool DeliverBlocking(Post&& post, std::function<void()> work, std::stop_token stop)
{
    struct SState {
        std::mutex m;
        std::condition_variable_any cv;
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    auto state = std::make_shared<SState>();
    post(std::function<void()>([state, work = std::move(work)] {
        {
            std::lock_guard lock(state->m);
            if (state->abandoned)
                return;
            state->started = true;
        }
        work();
        {
            std::lock_guard lock(state->m);
            state->done = true;
        }
        state->cv.notify_all();
    }));
    std::unique_lock lock(state->m);
    state->cv.wait(lock, stop, [&] { return state->done; });
    if (!state->done && !state->started)
        state->abandoned = true;
    return state->done;
}

}  // namespace corvane
