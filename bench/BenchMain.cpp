// The one entry point of every benchmark: a Qt application on the offscreen
// platform (images, timers and processes need one), with the program's own
// log lines silenced so they do not drown the figures.
#include <QGuiApplication>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("org.pondra.Pondra.*=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
