// Decoding a "users" message of 200 records with ~20 KB photos each, as the
// client does for every frame (goal: under 20 ms on one core).
#include "net/Messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

using namespace pondra;

namespace {

QByteArray usersMessage()
{
    QRandomGenerator rng(42);
    QJsonArray data;
    for (int i = 0; i < 200; ++i) {
        QByteArray photo(15 * 1024, Qt::Uninitialized); // 15 KiB of bytes: 20 KiB of base64
        for (char& c : photo)
            c = char(rng.bounded(256));
        data.append(QJsonObject{
            {QStringLiteral("id"), QStringLiteral("user-%1").arg(i)},
            {QStringLiteral("name"), QStringLiteral("Teammate %1").arg(i)},
            {QStringLiteral("team"), QStringLiteral("Default")},
            {QStringLiteral("isPondra"), i % 2 == 0},
            {QStringLiteral("isIdle"), false},
            {QStringLiteral("idleState"), QStringLiteral("active")},
            {QStringLiteral("idleSeconds"), 12.5},
            {QStringLiteral("isPlayingAudio"), true},
            {QStringLiteral("isInMeeting"), false},
            {QStringLiteral("photo"), QString::fromLatin1(photo.toBase64())},
            {QStringLiteral("status"), QStringLiteral("In the office")},
            {QStringLiteral("lastUpdate"), QStringLiteral("2026-01-05T12:00:00.000Z")},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("users")}, {QStringLiteral("data"), data}})
        .toJson(QJsonDocument::Compact);
}

void BM_DecodeUsersMessage(benchmark::State& state)
{
    const QByteArray message = usersMessage();
    for (auto _ : state) {
        auto decoded = net::decodeIncomingMessage(message);
        benchmark::DoNotOptimize(decoded);
        if (std::get<net::UsersMessage>(decoded).data.size() != 200)
            state.SkipWithError("decoding failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * message.size());
}
BENCHMARK(BM_DecodeUsersMessage)->Unit(benchmark::kMillisecond);

} // namespace


