#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace kestrel {

/// A handler that may wait: a C++20 coroutine that starts at once and runs on
/// the station's one thread up to its first wait. The Task object owns the
/// coroutine: destroying it while the coroutine waits abandons the wait (the
/// awaited fetch or pause is cancelled) and unwinds its locals. Awaiting a
/// Task resumes the awaiter when it ends and hands over its result; an
/// exception that escapes the coroutine is rethrown there.
template <typename T = void>
class Task;

namespace detail {

template <typename Promise>
struct FinalAwaiter {
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept {
        auto continuation = done.promise().continuation;
        return continuation ? continuation : std::noop_coroutine();
    }
    void await_resume() const noexcept {}
};

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::exception_ptr failure;

    std::suspend_never initial_suspend() const noexcept { return {}; }
    void unhandled_exception() noexcept { failure = std::current_exception(); }
};

}  // namespace detail

template <typename T>
class [[nodiscard]] Task {
public:
    struct promise_type : detail::PromiseBase {
        std::optional<T> value;

        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        detail::FinalAwaiter<promise_type> final_suspend() const noexcept { return {}; }
        template <typename U>
        void return_value(U&& result) {
            value.emplace(std::forward<U>(result));
        }
    };

    Task() = default;
    Task(Task&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    ~Task() { reset(); }

    /// True once the coroutine has ended (also for an empty Task).
    bool done() const { return !m_handle || m_handle.done(); }

    bool await_ready() const noexcept { return done(); }
    void await_suspend(std::coroutine_handle<> awaiter) noexcept {
        m_handle.promise().continuation = awaiter;
    }
    T await_resume() {
        auto& promise = m_handle.promise();
        if (promise.failure) std::rethrow_exception(promise.failure);
        return std::move(*promise.value);
    }

private:
    explicit Task(std::coroutine_handle<promise_type> handle) : m_handle(handle) {}
    void reset() {
        if (m_handle) std::exchange(m_handle, {}).destroy();
    }

    std::coroutine_handle<promise_type> m_handle;
};

template <>
class [[nodiscard]] Task<void> {
public:
    struct promise_type : detail::PromiseBase {
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        detail::FinalAwaiter<promise_type> final_suspend() const noexcept { return {}; }
        void return_void() const noexcept {}
    };

    Task() = default;
    Task(Task&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    ~Task() { reset(); }

    bool done() const { return !m_handle || m_handle.done(); }

    bool await_ready() const noexcept { return done(); }
    void await_suspend(std::coroutine_handle<> awaiter) noexcept {
        m_handle.promise().continuation = awaiter;
    }
    void await_resume() const {
        if (m_handle && m_handle.promise().failure) {
            std::rethrow_exception(m_handle.promise().failure);
        }
    }

private:
    explicit Task(std::coroutine_handle<promise_type> handle) : m_handle(handle) {}
    void reset() {
        if (m_handle) std::exchange(m_handle, {}).destroy();
    }

    std::coroutine_handle<promise_type> m_handle;
};

}  // namespace kestrel
