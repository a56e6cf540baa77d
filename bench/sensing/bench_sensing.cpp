// One look of each monitor. The meeting look's /proc scan runs on a worker;
// what the main thread does per look is the verdict over the gathered
// evidence. The audio poll only reads the source's snapshot, so it costs the
// same whether or not a sound server answers.
#include "platform/audio/FakeAudioDeviceSource.h"
#include "platform/audio/PulseAudioSource.h"
#include "platform/core/Scheduler.h"
#include "platform/meeting/FakeMeetingSignals.h"
#include "platform/meeting/LinuxMeetingSignals.h"
#include "sensing/AudioMonitor.h"
#include "sensing/MeetingMonitor.h"
#include "tests/audio/FakeProcTree.h"

#include <benchmark/benchmark.h>

#include <QLoggingCategory>
#include <QTemporaryDir>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

constexpr int processCount = 500;

class NoWindow final : public ActiveWindowSource
{
public:
    std::optional<ActiveWindow> activeWindow() override { return ActiveWindow{4242, QStringLiteral("firefox")}; }
};

// 500 processes with a dozen descriptors each, a few sandboxed, one holding
// a metadata video node (asked once, then cached), no camera in use.
test::FakeProcTree& busyProcTree()
{
    static const std::unique_ptr<test::FakeProcTree> tree = [] {
        auto t = std::make_unique<test::FakeProcTree>(QStringLiteral("/dev/shm"));
        for (int i = 0; i < processCount; ++i) {
            QStringList fds{"/dev/null", "/dev/pts/0", "/dev/pts/0", "socket:[1234]", "pipe:[99]", "anon_inode:[eventfd]",
                            "/usr/lib/x86_64-linux-gnu/libc.so.6", "/home/user/.cache/x", "socket:[5678]",
                            "/dev/dri/renderD128", "/tmp/y", "anon_inode:[eventpoll]"};
            if (i == 250)
                fds << "/dev/video1";
            test::FakeProcTree::Process p(1000 + i);
            p.withExe(QStringLiteral("/usr/bin/program%1").arg(i)).withFds(fds);
            if (i % 100 == 0)
                p.withFlatpak(QStringLiteral("org.example.App%1").arg(i)).withNsPids({2});
            t->add(p);
        }
        return t;
    }();
    return *tree;
}

void BM_MeetingLookOver500Processes(benchmark::State& state)
{
    LinuxMeetingSignals meetingSignals(std::make_shared<FakeAudioDeviceSource>(), busyProcTree().root(),
                                       [](const QByteArray&) { return false; }, std::make_shared<NoWindow>());
    for (auto _ : state)
        benchmark::DoNotOptimize(meetingSignals.collectNow());
}
BENCHMARK(BM_MeetingLookOver500Processes)->Unit(benchmark::kMillisecond);

void BM_MeetingLookOverThisMachine(benchmark::State& state)
{
    LinuxMeetingSignals meetingSignals(std::make_shared<FakeAudioDeviceSource>(), "/proc", isV4l2CaptureNode,
                                       std::make_shared<NoWindow>());
    for (auto _ : state)
        benchmark::DoNotOptimize(meetingSignals.collectNow());
    state.counters["processes"] = double(meetingSignals.collectNow().runningApplications.size());
}
BENCHMARK(BM_MeetingLookOverThisMachine)->Unit(benchmark::kMillisecond);

void BM_MeetingVerdictOnMainThread(benchmark::State& state)
{
    LinuxMeetingSignals real(std::make_shared<FakeAudioDeviceSource>(), busyProcTree().root(),
                             [](const QByteArray&) { return false; }, std::make_shared<NoWindow>());
    auto fake = std::make_shared<FakeMeetingSignals>();
    fake->evidence = real.collectNow();
    fake->evidence.isMicInUse = true;
    VirtualScheduler scheduler;
    MeetingMonitor monitor(fake, scheduler);
    for (auto _ : state)
        scheduler.advance(2s);
}
BENCHMARK(BM_MeetingVerdictOnMainThread)->Unit(benchmark::kMicrosecond);

void BM_AudioPollWithoutServer(benchmark::State& state)
{
    QTemporaryDir dir;
    auto source = std::make_shared<PulseAudioSource>("unix:" + QFile::encodeName(dir.path()) + "/none");
    VirtualScheduler scheduler;
    AudioMonitor monitor(source, scheduler);
    for (auto _ : state)
        scheduler.advance(1s);
}
BENCHMARK(BM_AudioPollWithoutServer)->Unit(benchmark::kMicrosecond);

void BM_AudioPollWithDevice(benchmark::State& state)
{
    auto source = std::make_shared<FakeAudioDeviceSource>();
    source->setOutput(AudioOutputState{QStringLiteral("Speakers"), QStringLiteral("Built-in"), true, 0.5f, false});
    VirtualScheduler scheduler;
    AudioMonitor monitor(source, scheduler);
    for (auto _ : state)
        scheduler.advance(1s);
}
BENCHMARK(BM_AudioPollWithDevice)->Unit(benchmark::kMicrosecond);

} // namespace

