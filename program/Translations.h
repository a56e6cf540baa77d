#pragma once

#include <QString>
#include <QStringList>
#include <QTranslator>

#include <memory>

namespace pondra {

/**
 * The program's texts in the user's language while this lives: the first of
 * `uiLanguages` (most preferred first, "de-AT" also tried as "de") for which
 * a translation "pondra_<language>.qm" is found in the translations folder
 * among the program's resources, with Qt's own texts (standard buttons) in
 * the same language where Qt has them. The search ends at the first English
 * language ("en", "en-GB"): the texts are written in English. Without a match
 * the texts stay as written. Make it before any window, so every text is
 * looked up in it.
 */
class Translations final
{
public:
    explicit Translations(const QStringList& uiLanguages);
    ~Translations();
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    /// The language whose translation was loaded ("de", "pt_BR"), or empty.
    QString language() const { return m_language; }

private:
    QString m_language;
    std::unique_ptr<QTranslator> m_program;
    std::unique_ptr<QTranslator> m_qt;
};

} // namespace pondra
