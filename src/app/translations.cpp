// The user's language for every text the window shows: ours and Qt's own.
#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace vennacott {

Translations::Translations(const QLocale &locale)
{
    const QString separator = QStringLiteral("_");
    if (m_qt.load(locale, QStringLiteral("qtbase"), separator, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
    // Installed last, so it is asked first.
    if (m_ours.load(locale, QStringLiteral("vennacott-ddns"), separator, QStringLiteral(":/i18n")))
        QCoreApplication::installTranslator(&m_ours);
}

} // namespace vennacott
