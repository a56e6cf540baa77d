#pragma once

// The idle monitor on virtual time with a reading the test sets, for the
// monitor's own tests and the views that show it. Link `pondra_sensing_idle`.
#include "platform/core/Scheduler.h"
#include "platform/idle/FakeIdleSource.h"
#include "sensing/IdleMonitor.h"

#include <memory>

namespace pondra::test {

struct IdleMonitorRig
{
    VirtualScheduler scheduler;
    FakeIdleSource* source = nullptr;
    std::unique_ptr<IdleMonitor> monitor;

    IdleMonitorRig()
    {
        auto fake = std::make_unique<FakeIdleSource>();
        source = fake.get();
        monitor = std::make_unique<IdleMonitor>(std::move(fake), scheduler);
    }
};

} // namespace pondra::test
