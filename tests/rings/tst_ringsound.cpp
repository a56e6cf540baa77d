#include "TestProcesses.h"
#include "platform/core/Resources.h"
#include "platform/sound/SoundEffectPlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace pondra;

/// Built twice: once on a machine that has a sound server with one (null)
/// output, started here, and once with the sound server out of reach.
class TestRingSound : public QObject
{
    Q_OBJECT

#ifdef PONDRA_SOUND_WITH_OUTPUT
    QTemporaryDir m_dir;
    test::ManagedProcess m_pulse;
#endif

private Q_SLOTS:
    void initTestCase()
    {
#ifdef PONDRA_SOUND_WITH_OUTPUT
        // Before anything asks for audio devices: the media stack connects
        // to the sound server once per process.
        QVERIFY(m_dir.isValid());
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.filePath(QStringLiteral("state")));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        QVERIFY(m_pulse.start(QStringLiteral("pulseaudio"),
                              {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes", "--use-pid-file=no",
                               "--log-target=stderr", "-L", "module-null-sink sink_name=pondra_test",
                               "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + socket},
                              env));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10'000);
        qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
#endif
    }

    void ringSoundIsShortPcmWav()
    {
        const QString path = resourcePath(QStringLiteral("ring.wav"));
        QVERIFY2(!path.isEmpty(), "ring.wav is not among the built resources");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(44);
        QCOMPARE(head.size(), 44);
        QCOMPARE(head.mid(0, 4), QByteArray("RIFF"));
        QCOMPARE(head.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(qFromLittleEndian<quint16>(head.constData() + 20), quint16(1)); // PCM
        const auto channels = qFromLittleEndian<quint16>(head.constData() + 22);
        const auto rate = qFromLittleEndian<quint32>(head.constData() + 24);
        const auto bits = qFromLittleEndian<quint16>(head.constData() + 34);
        QCOMPARE(bits, quint16(16));
        QCOMPARE(head.mid(36, 4), QByteArray("data"));
        const auto dataBytes = qFromLittleEndian<quint32>(head.constData() + 40);
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
        QTRY_VERIFY_WITH_TIMEOUT(effect->status() == QSoundEffect::Ready || effect->status() == QSoundEffect::Error,
                                 10'000);
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
