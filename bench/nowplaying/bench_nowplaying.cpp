// One now-playing helper run (perl + script + libMelodex) against one MPRIS
// player on a private session bus: wall time, and the helper's CPU time as
// the "helper_cpu_ms" counter. Goal: under 15 ms wall.

#include "TestProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

double childCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void BM_HelperRunOnePlayer(benchmark::State& state)
{
    pondra::test::PrivateBus bus;
    if (!bus.start()) {
        state.SkipWithError("no private bus");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());

    const QString config = QDir::temp().filePath(QStringLiteral("pondra-bench-player-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return state.SkipWithError("cannot write player config");
    file.write("[{\"name\":\"org.mpris.MediaPlayer2.bench\",\"properties\":{\"PlaybackStatus\":[\"s\",\"Playing\"],"
               "\"Metadata\":{\"xesam:title\":[\"s\",\"Song\"],\"xesam:artist\":[\"as\",[\"Band\"]],"
               "\"xesam:album\":[\"s\",\"Record\"]}}}]");
    file.close();
    pondra::test::ManagedProcess player;
    if (!player.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(PONDRA_FAKE_PLAYER), config}, env)
        || player.readLine() != QStringLiteral("ready"))
        return state.SkipWithError("fake player did not start");

    const QString script = QStringLiteral(PONDRA_RESOURCE_DIR "/get-now-playing.pl");
    double cpuMs = 0;
    for (auto _ : state) {
        const double before = childCpuMs();
        QProcess helper;
        helper.setProcessEnvironment(env);
        helper.setStandardErrorFile(QProcess::nullDevice());
        helper.start(QStringLiteral("/usr/bin/perl"), {script});
        helper.waitForFinished(10'000);
        const QByteArray line = helper.readAllStandardOutput();
        if (!line.startsWith("{\"playing\":true"))
            state.SkipWithError("unexpected helper output");
        cpuMs += childCpuMs() - before;
    }
    state.counters["helper_cpu_ms"] = benchmark::Counter(cpuMs / double(state.iterations()));
    QFile::remove(config);
}
BENCHMARK(BM_HelperRunOnePlayer)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

