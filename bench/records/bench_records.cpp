// Decoding a "users" array of 200 records with ~20 KB photos, then reading
// every decoded photo twice: the second read should cost under 1% of the first.
#include "bench/BenchPhotos.h"
#include "records/PhotoDecoder.h"
#include "records/RemoteUser.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <benchmark/benchmark.h>

using namespace pondra;

namespace {
const QByteArray& usersMessage()
{
    static const QByteArray message = [] {
        QJsonArray users;
        for (int i = 0; i < 200; ++i) {
            RemoteUser u;
            u.id = QStringLiteral("U%1").arg(i);
            u.name = QStringLiteral("Member %1").arg(i);
            u.team = QStringLiteral("Brask");
            u.idleState = QStringLiteral("active");
            u.photo = bench::photoText(i, 20 * 1024);
            u.status = QStringLiteral("Working on item %1").arg(i);
            u.lastUpdate = QStringLiteral("2026-12-10T09:00:00Z");
            users.append(u.toJson());
        }
        return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("users")},
                                         {QStringLiteral("users"), users}})
            .toJson(QJsonDocument::Compact);
    }();
    return message;
}

std::vector<RemoteUser> decodeUsers(const QByteArray& message)
{
    const QJsonArray array =
        QJsonDocument::fromJson(message).object().value(QStringLiteral("users")).toArray();
    std::vector<RemoteUser> users;
    users.reserve(array.size());
    for (const QJsonValue& v : array)
        if (auto u = RemoteUser::fromJson(v.toObject()))
            users.push_back(std::move(*u));
    return users;
}

void BM_DecodeUsersMessage(benchmark::State& state)
{
    const QByteArray& message = usersMessage();
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeUsers(message));
    state.SetBytesProcessed(state.iterations() * message.size());
}

void BM_FirstPhotoRead(benchmark::State& state)
{
    const auto users = decodeUsers(usersMessage());
    for (auto _ : state) {
        state.PauseTiming();
        clearPhotoCache();
        state.ResumeTiming();
        for (const auto& u : users)
            benchmark::DoNotOptimize(u.decodedPhoto());
    }
}

void BM_SecondPhotoRead(benchmark::State& state)
{
    const auto users = decodeUsers(usersMessage());
    clearPhotoCache();
    for (const auto& u : users)
        benchmark::DoNotOptimize(u.decodedPhoto());
    for (auto _ : state)
        for (const auto& u : users)
            benchmark::DoNotOptimize(u.decodedPhoto());
}
} // namespace

BENCHMARK(BM_DecodeUsersMessage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPhotoRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondPhotoRead)->Unit(benchmark::kMillisecond);
