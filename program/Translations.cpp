#include "program/Translations.h"

#include "platform/core/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

namespace pondra {

namespace {
/// The names "zh-Hant-TW" is looked up under, most specific first:
/// "zh_Hant_TW", "zh_Hant", "zh".
QStringList candidates(const QString& uiLanguage)
{
    QString name = uiLanguage;
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    QStringList out;
    while (!name.isEmpty()) {
        out.append(name);
        const qsizetype cut = name.lastIndexOf(QLatin1Char('_'));
        name = cut > 0 ? name.left(cut) : QString();
    }
    return out;
}

/// "en", "en-GB", "en_US.UTF-8", "en-Latn-US": the primary subtag is "en".
bool isEnglish(const QString& uiLanguage)
{
    qsizetype end = 0;
    while (end < uiLanguage.size() && uiLanguage.at(end).isLetter())
        ++end;
    return QStringView(uiLanguage).left(end).compare(QLatin1String("en"), Qt::CaseInsensitive) == 0;
}
} // namespace

Translations::Translations(const QStringList& uiLanguages)
{
    const QString folder = resourcePath(QStringLiteral("translations"));
    if (folder.isEmpty())
        return;
    for (const QString& uiLanguage : uiLanguages) {
        for (const QString& language : candidates(uiLanguage)) {
            // Exactly this file: a file that is missing or does not load is no
            // match, and the next name is tried.
            const QString path = QDir(folder).filePath(QStringLiteral("pondra_%1.qm").arg(language));
            auto translator = std::make_unique<QTranslator>();
            if (!QFileInfo(path).isFile() || !translator->load(path))
                continue;
            m_language = language;
            m_program = std::move(translator);
            QCoreApplication::installTranslator(m_program.get());
            auto qt = std::make_unique<QTranslator>();
            if (qt->load(QStringLiteral("qtbase_") + language,
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
                m_qt = std::move(qt);
                QCoreApplication::installTranslator(m_qt.get());
            }
            return;
        }
        // The program's own texts are English: a user who prefers English
        // gets them as written, not the next language on the list.
        if (isEnglish(uiLanguage))
            return;
    }
}

Translations::~Translations()
{
    if (m_qt)
        QCoreApplication::removeTranslator(m_qt.get());
    if (m_program)
        QCoreApplication::removeTranslator(m_program.get());
}

} // namespace pondra
