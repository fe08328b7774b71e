// The user's language for every text the window shows: ours and Qt's own.
#pragma once

#include <QLocale>
#include <QTranslator>

namespace vennacott {

// Installs, while it lives, the translations for `locale`: ours (compiled into the executable) and Qt's
// own (standard buttons, the text fields' context menu), from Qt's translations folder. A language
// without a translation keeps the source texts.
class Translations final
{
public:
    explicit Translations(const QLocale &locale);
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

private:
    QTranslator m_qt;
    QTranslator m_ours;
};

} // namespace vennacott
