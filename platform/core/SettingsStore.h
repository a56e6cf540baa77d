#pragma once

#include <QDateTime>
#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

namespace pondra {

/**
 * The user's settings, kept in an INI file that only the user can read (it
 * holds the API token). Reads are strict: a value that cannot be read as the
 * asked type counts as absent. Every write is synced at once.
 */
class SettingsStore final
{
public:
    /// `filePath` empty: `$XDG_CONFIG_HOME/Pondra/Pondra.conf`.
    explicit SettingsStore(const QString& filePath = {});
    ~SettingsStore();

    static QString defaultFilePath();
    QString filePath() const;

    bool contains(const QString& key) const;
    std::optional<QString> text(const QString& key) const;
    /// "true"/"false", or an integer (0 is false, anything else true).
    std::optional<bool> flag(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    /// Stored as ISO 8601 UTC text.
    std::optional<QDateTime> date(const QString& key) const;

    void setText(const QString& key, const QString& value);
    void setFlag(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setDate(const QString& key, const QDateTime& value);
    void remove(const QString& key);

private:
    void write(const QString& key, const QVariant& value);
    void sync();

    std::unique_ptr<QSettings> m_settings;
};

} // namespace pondra
