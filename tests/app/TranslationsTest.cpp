// The translations: every text of the code translated in each language, the program speaking the user's
// language, and the desktop files carrying the same languages.
#include "app/Translations.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QStringList kLanguages = {QStringLiteral("de"), QStringLiteral("fr")};

QString sourceFile(const QString& path) {
    return QStringLiteral(VARNEL_SOURCE_DIR "/") + path;
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What is wrong in a translation source: each text the code has and the file leaves unfinished or empty
// (a plural form too), and each translation whose text the code no longer has ("vanished", "obsolete").
QStringList problems(const QString& tsFile) {
    static const QRegularExpression message(
        QStringLiteral("<source>(.*?)</source>.*?<translation( type=\"\\w+\")?(/>|>(.*?)</translation>)"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression empty(QStringLiteral("^\\s*$|<numerusform(/>|>\\s*</numerusform>)"));
    QStringList found;
    for (const QRegularExpressionMatch& m : message.globalMatch(readAll(tsFile)))
        if (!m.captured(2).isEmpty() || empty.match(m.captured(4)).hasMatch())
            found << m.captured(2) + QStringLiteral(" - ") + m.captured(1);
    return found;
}

TEST(Translations, EveryTextOfTheCodeIsTranslatedInEachLanguage) {
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    for (const QString& language : kLanguages) {
        SCOPED_TRACE(language.toStdString());
        const QString name = QStringLiteral("varnel_%1.ts").arg(language);
        const QString copy = work.filePath(name);
        ASSERT_TRUE(QFile::copy(sourceFile(QStringLiteral("app/translations/") + name), copy));
        // The folders and options of the varnel_update_translations target, without dropping what the
        // code no longer says: a translation of a vanished text shows as such.
        QProcess lupdate;
        lupdate.setWorkingDirectory(QStringLiteral(VARNEL_SOURCE_DIR));
        lupdate.start(QStringLiteral(VARNEL_LUPDATE),
                      {QStringLiteral("app"), QStringLiteral("repair"), QStringLiteral("update"),
                       QStringLiteral("-I"), QStringLiteral("."), QStringLiteral("-locations"),
                       QStringLiteral("none"), QStringLiteral("-silent"), QStringLiteral("-ts"), copy});
        ASSERT_TRUE(lupdate.waitForFinished(60000));
        ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
        const QStringList wrong = problems(copy);
        EXPECT_TRUE(wrong.isEmpty()) << "run the varnel_update_translations target and translate:\n"
                                     << wrong.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(Translations, TheProgramSpeaksTheUsersLanguageWithQtsOwnInTheSame) {
    struct Row {
        const char* locale;
        const char* language;
        const char* never;
        const char* cancel;
    };
    const Row rows[] = {
        // A region's locale falls back to its language's file.
        {"de_AT", "de", "Noch nie", "Abbrechen"},
        {"fr_CA", "fr", "Jamais", "Annuler"},
        // No translation of ours: English, left to right, Qt's own texts too.
        {"ar_EG", "", "Never", "Cancel"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.locale);
        app::Translations translations;
        EXPECT_EQ(translations.install(QLocale(QString::fromLatin1(row.locale))),
                  QLatin1String(row.language));
        EXPECT_EQ(QCoreApplication::translate("app::AppDelegate", "Never"), QString::fromUtf8(row.never));
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8(row.cancel));
        EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    }
}

TEST(Translations, DesktopFilesCarryEachLanguage) {
    struct Row {
        const char* file;
        const char* pattern; // %1: the language
        int perLanguage;     // how many times the file has it: once per translated text
    };
    const Row rows[] = {
        {"app/desktop/app.varnel.Varnel.desktop", "\nName[%1]=", 1},
        {"app/desktop/app.varnel.Varnel.desktop", "\nGenericName[%1]=", 1},
        {"app/desktop/app.varnel.Varnel.desktop", "\nComment[%1]=", 1},
        {"app/desktop/app.varnel.Varnel.desktop", "\nKeywords[%1]=", 1},
        {"app/desktop/app.varnel.Varnel.metainfo.xml.in", "<summary xml:lang=\"%1\">", 1},
        {"app/desktop/app.varnel.Varnel.metainfo.xml.in", "<p xml:lang=\"%1\">", 2},
        {"app/desktop/app.varnel.Varnel.metainfo.xml.in", "<caption xml:lang=\"%1\">", 1},
        {"helper/app.varnel.Varnel.repair.policy.in", "<message xml:lang=\"%1\">", 1},
    };
    for (const Row& row : rows) {
        const QString text = readAll(sourceFile(QString::fromLatin1(row.file)));
        ASSERT_FALSE(text.isEmpty()) << row.file;
        for (const QString& language : kLanguages) {
            const QString needle = QString::fromLatin1(row.pattern).arg(language);
            EXPECT_EQ(text.count(needle), row.perLanguage) << row.file << ": " << needle.toStdString();
        }
    }
}

} // namespace
