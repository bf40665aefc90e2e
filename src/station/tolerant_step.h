#pragma once

#include <exception>

namespace kestrel {

/// Runs one step of a handler whose failing steps are skipped: an exception
/// thrown by the step is swallowed and the handler goes on with the next step.
template <typename Step>
void tolerate(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

}  // namespace kestrel
