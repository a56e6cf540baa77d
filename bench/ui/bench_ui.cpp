// The team window under load:
// - BM_ApplyAndPaintUsers: a repeated 200-member "users" message (27 KB photos)
//   applied to the window and the window painted. Target: 4 ms. The counter
//   "redecoded" counts rows whose photo was decoded again (target: 0).
// - BM_ScrollingStatuses: one second of a team window with 14 scrolling
//   statuses, frame by frame, painted as the event loop paints it. The time per
//   iteration is the work one second costs: 10 ms would be 1 % of one core.
//   Run with DISPLAY set to draw real X11 windows (e.g. under Xvfb): the
//   offscreen platform gives a translucent window a backing store without an
//   alpha channel, which Qt does not clear, so the texts there are drawn glyph
//   by glyph over what was painted before.
// - BM_ScrollingStatusesOpaque: the same for the window drawn opaque, as it is
//   without a compositing manager.
#include "ui/kit/FrameTicker.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/MiniWindow.h"

#include "AppRig.h"
#include "ViewTesting.h"
#include "bench/BenchPhotos.h"

#include "platform/compositing/FakeCompositingQuery.h"
#include "records/PhotoDecoder.h"

#include <QJsonArray>
#include <QLoggingCategory>
#include <QPainter>

#include <benchmark/benchmark.h>

using namespace pondra;

namespace {
QByteArray usersMessage(int count, bool longStatuses)
{
    QJsonArray users;
    for (int i = 0; i < count; ++i) {
        RemoteUser u;
        u.id = QStringLiteral("U%1").arg(i);
        u.name = QStringLiteral("Member %1").arg(i);
        u.team = QStringLiteral("Blue");
        u.idleState = i % 3 ? QStringLiteral("active") : QStringLiteral("semiIdle");
        u.isPlayingAudio = i % 2 == 0;
        u.isInMeeting = i % 5 == 0;
        u.photo = bench::photoText(i, 27 * 1024);
        u.status = longStatuses ? QStringLiteral("Working on item %1 of the release plan").arg(i)
                                : QStringLiteral("Item %1").arg(i);
        u.lastUpdate = QStringLiteral("2026-12-10T09:00:00Z");
        users.append(u.toJson());
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("users")},
                                     {QStringLiteral("data"), users}})
        .toJson(QJsonDocument::Compact);
}

QList<RemoteUser> decode(const QByteArray& message)
{
    QList<RemoteUser> out;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(message).object().value(QStringLiteral("data")).toArray())
        if (auto u = RemoteUser::fromJson(v.toObject()))
            out.append(*u);
    return out;
}

struct Window
{
    test::AppRig rig;
    std::unique_ptr<MiniWindow> window;
    explicit Window(bool compositing = true)
    {
        rig.build();
        window = std::make_unique<MiniWindow>(*rig.app, std::make_shared<FakeCompositingQuery>(compositing));
        window->move(0, 0);
        window->show();
        QCoreApplication::processEvents();
    }
};

/// A window showing 200 members, and the same message decoded twice: equal
/// texts in distinct strings, as every repeated message brings them.
struct BigTeam
{
    Window w;
    QList<RemoteUser> first;
    QList<RemoteUser> second;
    bool flip = false;
    BigTeam()
    {
        clearPhotoCache();
        const QByteArray message = usersMessage(200, false);
        first = decode(message);
        second = decode(message);
        w.window->showTeam(first);
    }
    void applyAgain() { w.window->showTeam((flip = !flip) ? second : first); }
};

// The two halves of the above, apart: 0 = apply only, 1 = paint only.
void BM_ApplyOrPaint(benchmark::State& state)
{
    BigTeam team;
    for (auto _ : state) {
        if (state.range(0) == 0)
            team.applyAgain();
        else
            team.w.window->repaint();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ApplyOrPaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ApplyAndPaintUsers(benchmark::State& state)
{
    BigTeam team;
    Window& w = team.w;
    QHash<MiniUserRow*, qint64> photoKeys;
    for (MiniUserRow* row : w.window->rows())
        photoKeys.insert(row, row->model().photo ? row->model().photo->cacheKey() : 0);
    int redecoded = 0;
    for (auto _ : state) {
        team.applyAgain();
        // Painted as the event loop paints it: through the backing store, flushed to the screen.
        w.window->repaint();
    }
    for (MiniUserRow* row : w.window->rows())
        redecoded +=
            photoKeys.value(row) != (row->model().photo ? row->model().photo->cacheKey() : 0) ? 1 : 0;
    state.counters["rows"] = double(w.window->rows().size());
    state.counters["redecoded"] = redecoded;
}
BENCHMARK(BM_ApplyAndPaintUsers)->Unit(benchmark::kMillisecond);

void scrollingStatuses(benchmark::State& state, bool compositing)
{
    Window w(compositing);
    w.window->showTeam(decode(usersMessage(14, true)));
    QCoreApplication::processEvents();
    test::PaintCounter counter(w.window.get());
    int seconds = 0;
    for (auto _ : state) {
        for (int frame = 0; frame < 62; ++frame) {
            w.rig.scheduler.advance(milliseconds(16));
            QCoreApplication::processEvents();
        }
        ++seconds;
    }
    state.counters["ticking"] = w.window->frameTicker().clientCount();
    state.counters["windowPaintsPerSecond"] = double(counter.count) / std::max(1, seconds);
}
void BM_ScrollingStatuses(benchmark::State& state)
{
    scrollingStatuses(state, true);
}
BENCHMARK(BM_ScrollingStatuses)->Unit(benchmark::kMillisecond);

void BM_ScrollingStatusesOpaque(benchmark::State& state)
{
    scrollingStatuses(state, false);
}
BENCHMARK(BM_ScrollingStatusesOpaque)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication app(argc, argv);
    test::fixViewLook();
    QLoggingCategory::setFilterRules(QStringLiteral("org.pondra.Pondra.*=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
