#pragma once

#include <functional>

namespace dateutil {

// The program's one source of the present moment, in seconds since 1970-01-01 00:00:00 UTC.
// Everything that asks "what time is it" goes through currentSeconds(), so a test can pin it.
double currentSeconds();

// Replaces the clock; an empty function restores the system clock.
void setClock(std::function<double()> clock);

// Pins the clock for the lifetime of the object and restores the previous one afterwards.
class ScopedClock {
public:
    explicit ScopedClock(double fixedSeconds);
    explicit ScopedClock(std::function<double()> clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    std::function<double()> m_previous;
};

} // namespace dateutil
