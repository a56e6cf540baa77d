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

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
// a metadata video node (asked once, then cached) and one late in the list
// holding the camera: the descriptor scan reads nearly every process.
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
            if (i == processCount - 20)
                fds << "/dev/video0";
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

// A /dev with the given video nodes among a few other devices.
std::unique_ptr<QTemporaryDir> devTree(const QStringList& videoNodes)
{
    auto dir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/fakedev-XXXXXX"));
    for (const QString& name : QStringList{"null", "zero", "tty0", "snd", "dri"} + videoNodes) {
        QFile file(dir->path() + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly))
            return dir;
    }
    return dir;
}

// video0 and video2 capture, video1 is video0's metadata node.
bool fakeCaptureCheck(const QByteArray& node)
{
    return node.endsWith("/video0") || node.endsWith("/video2");
}

// The timed looks. With `reopenedNode`, that node is opened and closed
// before each look, outside the timing, as a program probing the camera would.
void timedLooks(benchmark::State& state, LinuxMeetingSignals& meetingSignals, const QString& reopenedNode = {})
{
    for (auto _ : state) {
        if (!reopenedNode.isEmpty()) {
            state.PauseTiming();
            if (!QFile(reopenedNode).open(QIODevice::ReadOnly))
                state.SkipWithError("cannot open the fake node");
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(meetingSignals.collectNow());
    }
}

void meetingLook(benchmark::State& state, const std::optional<QByteArray>& devRoot, bool cameraInUse,
                 const QString& reopenedNode = {})
{
    LinuxMeetingSignals meetingSignals(std::make_shared<FakeAudioDeviceSource>(), busyProcTree().root(), fakeCaptureCheck,
                                       std::make_shared<NoWindow>(), devRoot);
    if (meetingSignals.collectNow().isCameraInUse != cameraInUse) {
        state.SkipWithError("the fake tree does not show what this case expects");
        return;
    }
    timedLooks(state, meetingSignals, reopenedNode);
}

// A capture node on the machine that no process holds. The first look reads
// every descriptor of every process; later ones trust it while nobody opens
// the node.
void BM_MeetingLookOver500ProcessesCameraFree(benchmark::State& state)
{
    const auto dev = devTree({"video1", "video2"});
    meetingLook(state, QFile::encodeName(dev->path()), false);
}
BENCHMARK(BM_MeetingLookOver500ProcessesCameraFree)->Unit(benchmark::kMillisecond);

// The worst case: the free node was opened and closed again before each look
// (a program probing the camera, the end of a call), so each look reads every
// descriptor of every process.
void BM_MeetingLookOver500ProcessesCameraJustReleased(benchmark::State& state)
{
    const auto dev = devTree({"video1", "video2"});
    meetingLook(state, QFile::encodeName(dev->path()), false, dev->path() + QStringLiteral("/video2"));
}
BENCHMARK(BM_MeetingLookOver500ProcessesCameraJustReleased)->Unit(benchmark::kMillisecond);

// A call: the camera held by a process late in the list. The first look
// scans up to it (nearly a whole scan); later looks ask it first.
void BM_MeetingLookOver500ProcessesCameraHeldLate(benchmark::State& state)
{
    const auto dev = devTree({"video0", "video1"});
    meetingLook(state, QFile::encodeName(dev->path()), true);
}
BENCHMARK(BM_MeetingLookOver500ProcessesCameraHeldLate)->Unit(benchmark::kMillisecond);

// No capture node on the machine (only a metadata node): no descriptor is read.
void BM_MeetingLookOver500ProcessesNoCaptureNode(benchmark::State& state)
{
    const auto dev = devTree({"video1"});
    meetingLook(state, QFile::encodeName(dev->path()), false);
}
BENCHMARK(BM_MeetingLookOver500ProcessesNoCaptureNode)->Unit(benchmark::kMillisecond);

// The machine's nodes unknown: every /dev/video* descriptor is asked about.
void BM_MeetingLookOver500ProcessesNodesUnknown(benchmark::State& state)
{
    meetingLook(state, QByteArray(), true);
}
BENCHMARK(BM_MeetingLookOver500ProcessesNodesUnknown)->Unit(benchmark::kMillisecond);

// 500 real processes of the user, a dozen descriptors each: the real /proc
// costs more per descriptor than the fake tree.
class RealProcesses final
{
public:
    RealProcesses()
    {
        for (int i = 0; i < processCount; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                for (int k = 0; k < 9; ++k)
                    open("/dev/null", O_RDONLY);
                pause();
                _exit(0);
            }
            if (pid > 0)
                m_pids.push_back(pid);
        }
    }
    ~RealProcesses()
    {
        for (pid_t pid : m_pids)
            kill(pid, SIGKILL);
        for (pid_t pid : m_pids)
            waitpid(pid, nullptr, 0);
    }
    RealProcesses(const RealProcesses&) = delete;
    RealProcesses& operator=(const RealProcesses&) = delete;

private:
    std::vector<pid_t> m_pids;
};

void realProcessesLook(benchmark::State& state, bool releasedBeforeEachLook)
{
    const RealProcesses processes;
    const auto dev = devTree({"video2"}); // captures, and no process holds it
    LinuxMeetingSignals meetingSignals(std::make_shared<FakeAudioDeviceSource>(), "/proc", fakeCaptureCheck,
                                       std::make_shared<NoWindow>(), QFile::encodeName(dev->path()));
    const MeetingEvidence first = meetingSignals.collectNow();
    timedLooks(state, meetingSignals, releasedBeforeEachLook ? dev->path() + QStringLiteral("/video2") : QString());
    state.counters["processes"] = double(first.runningApplications.size());
}

void BM_MeetingLookOver500RealProcessesCameraFree(benchmark::State& state)
{
    realProcessesLook(state, false);
}
BENCHMARK(BM_MeetingLookOver500RealProcessesCameraFree)->Unit(benchmark::kMillisecond);

void BM_MeetingLookOver500RealProcessesCameraJustReleased(benchmark::State& state)
{
    realProcessesLook(state, true);
}
BENCHMARK(BM_MeetingLookOver500RealProcessesCameraJustReleased)->Unit(benchmark::kMillisecond);

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
    LinuxMeetingSignals real(std::make_shared<FakeAudioDeviceSource>(), busyProcTree().root(), fakeCaptureCheck,
                             std::make_shared<NoWindow>());
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

