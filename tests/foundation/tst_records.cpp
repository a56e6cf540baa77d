#include "records/LastSentState.h"
#include "records/PhotoDecoder.h"
#include "records/RemoteUser.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QTest>

#include <algorithm>

using namespace pondra;

namespace {
QJsonObject fullRecord()
{
    return QJsonDocument::fromJson(R"({"id":"U1","name":"Ana","team":"Brask","isPondra":true,"isIdle":false,
        "idleState":"active","idleSeconds":1.5,"isPlayingAudio":true,"isMuted":false,"isUsingHeadphones":true,
        "isInMeeting":false,"meetingApp":"Zoom","photo":"","status":"hi","lastUpdate":"2026-01-01T00:00:00Z"})")
        .object();
}

QByteArray encodeImage(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage sample(int w, int h, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(w, h, format);
    image.fill(Qt::darkCyan);
    return image;
}

QString base64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

/// A small JPEG padded with comment segments to exactly `textLength`
/// characters of base64 (a multiple of 4, so there is no padding).
QString paddedJpegText(qsizetype textLength)
{
    const QByteArray jpeg = encodeImage(sample(32, 24), "JPEG");
    qsizetype filler = textLength / 4 * 3 - jpeg.size();
    QByteArray segments;
    while (filler > 0) {
        // A segment is its marker, a two-byte length and the data.
        qsizetype size = std::min<qsizetype>(filler, 65537);
        if (filler - size > 0 && filler - size < 4)
            size -= 4;
        const qsizetype length = size - 2;
        segments += QByteArray::fromHex("fffe");
        segments += char(length >> 8);
        segments += char(length & 0xff);
        segments += QByteArray(length - 2, 'x');
        filler -= size;
    }
    return base64(jpeg.left(2) + segments + jpeg.mid(2));
}
} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesRemoteUsers_data()
    {
        QTest::addColumn<QByteArray>("patch"); // JSON object merged over the full record
        QTest::addColumn<QStringList>("remove");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("all fifteen keys") << QByteArray("{}") << QStringList{} << true;
        QTest::newRow("without the optional keys")
            << QByteArray("{}")
            << QStringList{"isPlayingAudio", "isMuted", "isUsingHeadphones", "isInMeeting", "meetingApp",
                           "photo",          "status"}
            << true;
        QTest::newRow("optional null")
            << QByteArray(R"({"isMuted":null,"status":null})") << QStringList{} << true;
        QTest::newRow("required null") << QByteArray(R"({"isIdle":null})") << QStringList{} << false;
        QTest::newRow("required missing") << QByteArray("{}") << QStringList{"lastUpdate"} << false;
        QTest::newRow("number is no boolean") << QByteArray(R"({"isIdle":1})") << QStringList{} << false;
        QTest::newRow("string is no boolean")
            << QByteArray(R"({"isPondra":"true"})") << QStringList{} << false;
        QTest::newRow("integer seconds") << QByteArray(R"({"idleSeconds":42})") << QStringList{} << true;
        QTest::newRow("string seconds") << QByteArray(R"({"idleSeconds":"42"})") << QStringList{} << false;
        QTest::newRow("optional of wrong type") << QByteArray(R"({"isMuted":0})") << QStringList{} << false;
        QTest::newRow("optional text of wrong type")
            << QByteArray(R"({"meetingApp":7})") << QStringList{} << false;
        QTest::newRow("number as name") << QByteArray(R"({"name":3})") << QStringList{} << false;
        QTest::newRow("extra key ignored") << QByteArray(R"({"email":"a@b.c"})") << QStringList{} << true;
    }
    void decodesRemoteUsers()
    {
        QFETCH(QByteArray, patch);
        QFETCH(QStringList, remove);
        QFETCH(bool, decodes);
        QJsonObject object = fullRecord();
        const QJsonObject changes = QJsonDocument::fromJson(patch).object();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            object.insert(it.key(), it.value());
        for (const QString& key : remove)
            object.remove(key);
        QString error;
        const auto user = RemoteUser::fromJson(object, &error);
        QCOMPARE(user.has_value(), decodes);
        QCOMPARE(error.isEmpty(), decodes);
    }

    void decodedFieldsAndEncoding()
    {
        auto user = RemoteUser::fromJson(fullRecord());
        QVERIFY(user);
        QCOMPARE(user->name, QStringLiteral("Ana"));
        QCOMPARE(user->idleSeconds, 1.5);
        QCOMPARE(user->meetingApp, std::optional<QString>(QStringLiteral("Zoom")));
        QCOMPARE(user->isUsingHeadphones, std::optional<bool>(true));
        QCOMPARE(RemoteUser::fromJson(user->toJson()), user);

        user->status.reset();
        user->isMuted.reset();
        const QJsonObject encoded = user->toJson();
        QVERIFY(!encoded.contains(QStringLiteral("status")));
        QVERIFY(!encoded.contains(QStringLiteral("isMuted")));
        QCOMPARE(encoded.size(), 13);
        QCOMPARE(encoded.value(QStringLiteral("lastUpdate")).toString(),
                 QStringLiteral("2026-01-01T00:00:00Z"));
    }

    void photoChecks_data()
    {
        QTest::addColumn<QString>("photo");
        QTest::addColumn<bool>("decodes");
        const QString jpeg = QString::fromLatin1(encodeImage(sample(32, 24), "JPEG").toBase64());
        const QString png = QString::fromLatin1(encodeImage(sample(8, 8), "PNG").toBase64());
        QTest::newRow("jpeg") << jpeg << true;
        QTest::newRow("png") << png << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("line break inside") << QString(jpeg.left(40) + u'\n' + jpeg.mid(40)) << false;
        QTest::newRow("unpadded") << QString(png).remove(u'=') << (png.count(u'=') == 0);
        QTest::newRow("url alphabet") << QString(jpeg).replace(u'+', u'-').replace(u'/', u'_')
                                      << (!jpeg.contains(u'+') && !jpeg.contains(u'/'));
        QTest::newRow("not an image")
            << QString::fromLatin1(QByteArray("just some bytes!").toBase64()) << false;
        QTest::newRow("bmp refused") << QString::fromLatin1(encodeImage(sample(8, 8), "BMP").toBase64())
                                     << false;
        QTest::newRow("over 4096 pixels")
            << QString::fromLatin1(encodeImage(sample(4097, 2), "PNG").toBase64()) << false;
        QTest::newRow("4096 pixels") << QString::fromLatin1(encodeImage(sample(4096, 2), "PNG").toBase64())
                                     << true;
        QTest::newRow("over 4096 pixels, a JPEG")
            << QString::fromLatin1(encodeImage(sample(4097, 2), "JPEG").toBase64()) << false;
        // A real photo: without the cap it would decode.
        QTest::newRow("text of 2 MiB") << paddedJpegText(maxPhotoTextLength) << true;
        QTest::newRow("text over 2 MiB") << paddedJpegText(maxPhotoTextLength + 4) << false;
    }
    void photoChecks()
    {
        QFETCH(QString, photo);
        QFETCH(bool, decodes);
        RemoteUser user = *RemoteUser::fromJson(fullRecord());
        user.photo = photo;
        QCOMPARE(user.decodedPhoto().has_value(), decodes);
        QCOMPARE(user.decodedPhoto().has_value(), decodes);  // the cached answer is the same
        QCOMPARE(user.photo, std::optional<QString>(photo)); // the record stays intact
        user.photo.reset();
        QVERIFY(!user.decodedPhoto());
    }

    void photoSizes_data()
    {
        QTest::addColumn<QString>("photo");
        QTest::addColumn<QSize>("decoded"); // invalid: refused
        const auto png = [](int w, int h, QImage::Format format) {
            return base64(encodeImage(sample(w, h, format), "PNG"));
        };
        const auto jpeg = [](int w, int h, QImage::Format format = QImage::Format_RGB32) {
            return base64(encodeImage(sample(w, h, format), "JPEG"));
        };
        // 16 MiB when decoded whole, at four bytes a pixel or eight for 16 bits.
        QTest::newRow("PNG at the limit") << png(2048, 2048, QImage::Format_ARGB32) << QSize(320, 320);
        QTest::newRow("PNG over the limit") << png(2049, 2048, QImage::Format_ARGB32) << QSize();
        QTest::newRow("16-bit PNG at the limit") << png(1448, 1448, QImage::Format_RGBA64) << QSize(320, 320);
        QTest::newRow("16-bit PNG over the limit") << png(1449, 1448, QImage::Format_RGBA64) << QSize();
        QTest::newRow("JPEG at the limit") << jpeg(2048, 2048) << QSize(320, 320);
        QTest::newRow("JPEG over the limit") << jpeg(2048, 2049) << QSize();
        QTest::newRow("grey JPEG counts as 32-bit") << jpeg(4096, 4096, QImage::Format_Grayscale8) << QSize();
        QTest::newRow("wide JPEG") << jpeg(2000, 1500) << QSize(320, 240);
        QTest::newRow("tall PNG") << png(250, 1000, QImage::Format_RGB32) << QSize(80, 320);
        QTest::newRow("our own size") << jpeg(320, 240) << QSize(320, 240);
        QTest::newRow("small, not enlarged") << png(64, 48, QImage::Format_ARGB32) << QSize(64, 48);
        QTest::newRow("a line") << png(4096, 2, QImage::Format_RGB32) << QSize(320, 1);
    }
    void photoSizes()
    {
        QFETCH(QString, photo);
        QFETCH(QSize, decoded);
        clearPhotoCache();
        const std::optional<QImage> image = decodePhotoText(photo);
        QCOMPARE(image.has_value(), decoded.isValid());
        if (!image)
            return;
        QCOMPARE(image->size(), decoded);
        QVERIFY2(image->format() == QImage::Format_RGB32 ||
                     image->format() == QImage::Format_ARGB32_Premultiplied,
                 qPrintable(QString::number(image->format())));
        QCOMPARE(image->pixelColor(image->width() / 2, image->height() / 2).rgb() & 0xf0f0f0,
                 QColor(Qt::darkCyan).rgb() & 0xf0f0f0);
    }

    void manyLargePhotosStayCached()
    {
        // 200 teammates who send 1024×768 photos: each is cached at 320×240,
        // so drawing the team again decodes none of them.
        clearPhotoCache();
        QStringList texts;
        for (int i = 0; i < 200; ++i) {
            QImage image(1024, 768, QImage::Format_RGB32);
            image.fill(qRgb(i, 255 - i, (i * 7) % 256));
            texts << base64(encodeImage(image, "JPEG"));
        }
        QList<qint64> keys;
        for (const QString& text : texts) {
            const std::optional<QImage> image = decodePhotoText(text);
            QVERIFY(image);
            QCOMPARE(image->size(), QSize(320, 240));
            keys << image->cacheKey();
        }
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(decodePhotoText(texts[i])->cacheKey(), keys[i]);
    }

    void photoCacheReturnsTheSameImage()
    {
        clearPhotoCache();
        const QString text = QString::fromLatin1(encodeImage(sample(64, 48), "JPEG").toBase64());
        const auto first = decodePhotoText(text);
        const auto second = decodePhotoText(QString(text.data(), text.size())); // equal text, other storage
        QVERIFY(first && second);
        QCOMPARE(first->cacheKey(), second->cacheKey());
        QCOMPARE(first->size(), QSize(64, 48));
    }

    void lastSentStateEquality()
    {
        const LastSentState a{QStringLiteral("Zoë"),
                              true,
                              QStringLiteral("active"),
                              false,
                              false,
                              false,
                              true,
                              false,
                              QString(),
                              QStringLiteral("café")};
        LastSentState b = a;
        QCOMPARE(a, b);
        b.hasPhoto = false;
        QVERIFY(!(a == b));
        b = a;
        b.name = QStringLiteral("Zoe\u0308"); // decomposed: canonically equivalent
        b.status = QStringLiteral("cafe\u0301");
        QCOMPARE(a, b);
        b.status = QStringLiteral("Café");
        QVERIFY(!(a == b));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
