// Decoding a "users" array of 200 records with ~20 KB photos, then reading
// every decoded photo twice: the second read should cost under 1% of the first.
#include "records/PhotoDecoder.h"
#include "records/RemoteUser.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

using namespace pondra;

namespace {
QString photoOfAboutTwentyKiB(int seed)
{
    QImage image(320, 240, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           qRgb((x + seed) % 256, (y * 3) % 256, int(rng.bounded(40)) + ((x ^ y) & 0x7f)));
    for (int quality = 90; quality > 5; quality -= 5) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", quality);
        if (bytes.size() <= 20 * 1024)
            return QString::fromLatin1(bytes.toBase64());
    }
    return {};
}

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
            u.photo = photoOfAboutTwentyKiB(i);
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
