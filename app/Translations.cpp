#include "app/Translations.h"

#include <QApplication>
#include <QLibraryInfo>

namespace app {

QString Translations::install(const QLocale& locale, const QString& ours) {
    if (!m_varnel.load(locale, QStringLiteral("varnel"), QStringLiteral("_"), ours)) {
        QGuiApplication::setLayoutDirection(Qt::LeftToRight);
        return {};
    }
    QCoreApplication::installTranslator(&m_varnel);
    const QString language = m_varnel.language();
    if (m_qt.load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
    return language;
}

} // namespace app
