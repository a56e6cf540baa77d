#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace pondra {

namespace {
constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

std::optional<QString> scalarText(const QVariant& value)
{
    // INI values come back as text; lists and other shapes are not settings of ours.
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<qint64> parseInteger(const QString& text)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}
} // namespace

SettingsStore::SettingsStore(const QString& filePath)
{
    const QString path = filePath.isEmpty() ? defaultFilePath() : filePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Create the file ourselves so it never exists with wider permissions.
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    QFile::setPermissions(path, ownerOnly);
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Pondra/Pondra.conf");
}

QString SettingsStore::filePath() const
{
    return m_settings->fileName();
}

bool SettingsStore::contains(const QString& key) const
{
    return m_settings->contains(key);
}

std::optional<QString> SettingsStore::text(const QString& key) const
{
    return scalarText(m_settings->value(key));
}

std::optional<bool> SettingsStore::flag(const QString& key) const
{
    const auto raw = text(key);
    if (!raw)
        return std::nullopt;
    if (*raw == QLatin1String("true"))
        return true;
    if (*raw == QLatin1String("false"))
        return false;
    if (const auto n = parseInteger(*raw))
        return *n != 0;
    return std::nullopt;
}

std::optional<qint64> SettingsStore::integer(const QString& key) const
{
    const auto raw = text(key);
    return raw ? parseInteger(*raw) : std::nullopt;
}

std::optional<QDateTime> SettingsStore::date(const QString& key) const
{
    const auto raw = text(key);
    if (!raw)
        return std::nullopt;
    const QDateTime parsed = QDateTime::fromString(*raw, Qt::ISODateWithMs);
    return parsed.isValid() ? std::optional<QDateTime>(parsed.toUTC()) : std::nullopt;
}

void SettingsStore::setText(const QString& key, const QString& value)
{
    write(key, value);
}

void SettingsStore::setFlag(const QString& key, bool value)
{
    write(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void SettingsStore::setInteger(const QString& key, qint64 value)
{
    write(key, QString::number(value));
}

void SettingsStore::setDate(const QString& key, const QDateTime& value)
{
    write(key, value.toUTC().toString(Qt::ISODateWithMs));
}

void SettingsStore::remove(const QString& key)
{
    m_settings->remove(key);
    sync();
}

void SettingsStore::write(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    sync();
}

void SettingsStore::sync()
{
    m_settings->sync();
    QFile::setPermissions(m_settings->fileName(), ownerOnly);
}

} // namespace pondra
