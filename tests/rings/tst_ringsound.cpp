#include "PulseServer.h"
#include "platform/core/Resources.h"
#include "platform/sound/SoundEffectPlayer.h"

#include <QDataStream>
#include <QFile>
#include <QSoundEffect>
#include <QTest>

using namespace pondra;

/// Built twice: once on a machine that has a sound server with one (null)
/// output, started here, and once with the sound server out of reach.
class TestRingSound : public QObject
{
    Q_OBJECT

#ifdef PONDRA_SOUND_WITH_OUTPUT
    test::PulseServer m_pulse;
#endif

private Q_SLOTS:
    void initTestCase()
    {
#ifdef PONDRA_SOUND_WITH_OUTPUT
        // Before anything asks for audio devices: the media stack connects
        // to the sound server once per process.
        QVERIFY(m_pulse.start(
            {test::PulseServer::nullSink(QStringLiteral("pondra_test"), QStringLiteral("Test output"))}));
        qputenv("PULSE_SERVER", m_pulse.address());
#endif
    }

    void ringSoundIsShortPcmWav()
    {
        const QString path = resourcePath(QStringLiteral("ring.wav"));
        QVERIFY2(!path.isEmpty(), "ring.wav is not among the built resources");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QDataStream in(&file);
        in.setByteOrder(QDataStream::LittleEndian);
        char riff[4], wave[8], data[4];
        quint32 riffSize = 0, fmtSize = 0, rate = 0, byteRate = 0, dataBytes = 0;
        quint16 format = 0, channels = 0, blockAlign = 0, bits = 0;
        in.readRawData(riff, 4);
        in >> riffSize;
        in.readRawData(wave, 8);
        in >> fmtSize >> format >> channels >> rate >> byteRate >> blockAlign >> bits;
        in.readRawData(data, 4);
        in >> dataBytes;
        QCOMPARE(in.status(), QDataStream::Ok);
        QCOMPARE(QByteArray(riff, 4), QByteArray("RIFF"));
        QCOMPARE(QByteArray(wave, 8), QByteArray("WAVEfmt "));
        QCOMPARE(fmtSize, quint32(16));
        QCOMPARE(format, quint16(1)); // PCM
        QCOMPARE(bits, quint16(16));
        QCOMPARE(QByteArray(data, 4), QByteArray("data"));
        const double seconds = double(dataBytes) / (rate * channels * (bits / 8));
        QVERIFY2(seconds > 0.2 && seconds < 2.0, qPrintable(QString::number(seconds)));
    }

    void playsOnlyWithAnOutput()
    {
        SoundEffectPlayer player;
#ifdef PONDRA_SOUND_WITH_OUTPUT
        QVERIFY(player.play(QStringLiteral("ring")));
        auto* effect = player.findChild<QSoundEffect*>();
        QVERIFY(effect);
        QTRY_VERIFY_WITH_TIMEOUT(
            effect->status() == QSoundEffect::Ready || effect->status() == QSoundEffect::Error, 10'000);
        QCOMPARE(effect->status(), QSoundEffect::Ready);
        QVERIFY(effect->isPlaying());
        QVERIFY(!player.play(QStringLiteral("no-such-sound")));
#else
        QVERIFY(!player.play(QStringLiteral("ring")));
        QVERIFY(!player.findChild<QSoundEffect*>());
#endif
    }
};

QTEST_GUILESS_MAIN(TestRingSound)
#include "tst_ringsound.moc"
