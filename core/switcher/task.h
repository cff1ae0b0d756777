// A step of an operation on a switcher: a coroutine that runs on the event loop, waits for the
// link without blocking it, and gives true when it did what it was for. A step starts when
// another step awaits it, or when the switcher starts it as an operation (CSwitcher::Start).
#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace corvane {

class [[nodiscard]] CTask {
public:
    struct promise_type {
        bool value = false;
        std::coroutine_handle<> continuation;

        CTask get_return_object() { return CTask(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        // The step that awaited this one goes on where it stopped.
        struct SFinal {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
            {
                const auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        SFinal final_suspend() noexcept { return {}; }
        void return_value(bool v) { value = v; }
        void unhandled_exception() { std::terminate(); }
    };

    CTask() = default;
    CTask(CTask&& other) noexcept : m_h(std::exchange(other.m_h, {})) {}
    CTask& operator=(CTask&& other) noexcept
    {
        if (this != &other) {
            Destroy();
            m_h = std::exchange(other.m_h, {});
        }
        return *this;
    }
    CTask(const CTask&) = delete;
    CTask& operator=(const CTask&) = delete;
    ~CTask() { Destroy(); }

    // Awaited by another step: this one runs now, the other goes on when it has ended.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        m_h.promise().continuation = awaiting;
        return m_h;
    }
    bool await_resume() const noexcept { return m_h.promise().value; }

    // As an operation of its own: runs until it first waits (or ends).
    void Start() { m_h.resume(); }
    bool Valid() const { return static_cast<bool>(m_h); }
    bool Finished() const { return m_h && m_h.done(); }
    bool Value() const { return Finished() && m_h.promise().value; }

private:
    explicit CTask(std::coroutine_handle<promise_type> h) : m_h(h) {}
    void Destroy()
    {
        if (m_h)
            m_h.destroy();
        m_h = {};
    }
    std::coroutine_handle<promise_type> m_h;
};

}  // namespace corvane
