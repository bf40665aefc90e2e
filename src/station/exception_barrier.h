#pragma once

#include <exception>
#include <functional>
#include <string>

#include "station/task.h"

namespace kestrel {

/// What a handler's escaped exception says: its what(), or "unknown exception".
inline std::string exceptionText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

/// The one barrier every timer handler and coroutine body runs behind: an
/// exception that escapes `step` is handed to `report` and goes no further,
/// so the event loop and the station keep running.
template <typename Step>
void runBehindBarrier(Step&& step, const std::function<void(const std::string&)>& report) noexcept {
    try {
        step();
    } catch (...) {
        try {
            if (report) report(exceptionText(std::current_exception()));
        } catch (...) {
        }
    }
}

/// The same for a coroutine: awaits `run`, reports what escapes it.
inline Task<> behindBarrier(Task<> run, std::function<void(const std::string&)> report) {
    std::exception_ptr failure;
    try {
        co_await run;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) runBehindBarrier([&] { std::rethrow_exception(failure); }, report);
}

}  // namespace kestrel
