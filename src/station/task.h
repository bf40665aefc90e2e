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

template <typename T>
struct ValuePromise : PromiseBase {
    std::optional<T> value;

    Task<T> get_return_object() {
        return Task<T>(std::coroutine_handle<ValuePromise>::from_promise(*this));
    }
    FinalAwaiter<ValuePromise> final_suspend() const noexcept { return {}; }
    template <typename U>
    void return_value(U&& result) {
        value.emplace(std::forward<U>(result));
    }
};

struct VoidPromise : PromiseBase {
    Task<void> get_return_object();
    FinalAwaiter<VoidPromise> final_suspend() const noexcept { return {}; }
    void return_void() const noexcept {}
};

// Owns the coroutine of a Task; shared by Task<T> and Task<void>.
template <typename Promise>
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::coroutine_handle<Promise> handle) : m_handle(handle) {}
    TaskHandle(TaskHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    TaskHandle& operator=(TaskHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    ~TaskHandle() { reset(); }

    /// True once the coroutine has ended (also for an empty Task).
    bool done() const { return !m_handle || m_handle.done(); }

    bool await_ready() const noexcept { return done(); }
    void await_suspend(std::coroutine_handle<> awaiter) noexcept {
        m_handle.promise().continuation = awaiter;
    }

protected:
    Promise& promise() const { return m_handle.promise(); }
    void rethrowFailure() const {
        if (m_handle && m_handle.promise().failure) {
            std::rethrow_exception(m_handle.promise().failure);
        }
    }

private:
    void reset() {
        if (m_handle) std::exchange(m_handle, {}).destroy();
    }

    std::coroutine_handle<Promise> m_handle;
};

}  // namespace detail

template <typename T>
class [[nodiscard]] Task : public detail::TaskHandle<detail::ValuePromise<T>> {
public:
    using promise_type = detail::ValuePromise<T>;
    using detail::TaskHandle<promise_type>::TaskHandle;

    T await_resume() {
        this->rethrowFailure();
        return std::move(*this->promise().value);
    }
};

template <>
class [[nodiscard]] Task<void> : public detail::TaskHandle<detail::VoidPromise> {
public:
    using promise_type = detail::VoidPromise;
    using detail::TaskHandle<promise_type>::TaskHandle;

    void await_resume() const { rethrowFailure(); }
};

namespace detail {

inline Task<void> VoidPromise::get_return_object() {
    return Task<void>(std::coroutine_handle<VoidPromise>::from_promise(*this));
}

}  // namespace detail

}  // namespace kestrel
