#include "dateutil/Clock.h"

#include <chrono>
#include <utility>

namespace dateutil {
namespace {

double systemSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::function<double()>& clockSlot() {
    static std::function<double()> clock;
    return clock;
}

} // namespace

double currentSeconds() {
    const auto& clock = clockSlot();
    return clock ? clock() : systemSeconds();
}

void setClock(std::function<double()> clock) {
    clockSlot() = std::move(clock);
}

ScopedClock::ScopedClock(double fixedSeconds)
    : ScopedClock(std::function<double()>([fixedSeconds] { return fixedSeconds; })) {}

ScopedClock::ScopedClock(std::function<double()> clock)
    : m_previous(std::exchange(clockSlot(), std::move(clock))) {}

ScopedClock::~ScopedClock() {
    clockSlot() = std::move(m_previous);
}

} // namespace dateutil
