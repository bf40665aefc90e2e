#pragma once

#include "platform/clock.h"

namespace kestrel {

/// The machine's local time and steady clock.
class SystemClock final : public Clock {
public:
    LocalDateTime now() const override;
    double steadySeconds() const override;
};

}  // namespace kestrel
