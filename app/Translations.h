#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

namespace app {

// The languages the window speaks: Varnel's own translation for the user's language, when there is one,
// and then Qt's own (its standard buttons and dialogs) for that same language only, so that every window
// speaks one language. Without a translation of ours the interface stays English and left to right,
// whatever the locale's own direction.
class Translations {
public:
    // Installs the translations for the locale into the application; returns the language chosen, or
    // an empty text for English. ours is the folder of Varnel's .qm files.
    QString install(const QLocale& locale, const QString& ours = QStringLiteral(":/i18n"));

private:
    QTranslator m_varnel;
    QTranslator m_qt;
};

} // namespace app
