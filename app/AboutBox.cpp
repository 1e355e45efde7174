#include "app/AboutBox.h"

#include "varnel/Config.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

QString AboutBox::text() {
    return tr("Varnel %1 (build %2)")
               .arg(QString::fromUtf8(varnel::config::kVersion),
                    QString::fromUtf8(varnel::config::kBuildVersion)) +
           QLatin1String("\n\n") + tr("Repairs the permissions of the files on the start-up disk.") +
           QLatin1String("\n\n") + tr("Copyright \u00a9 2026 The Varnel developers") + QLatin1Char('\n') +
           tr("Released under the MIT licence.") + QLatin1String("\n\n") +
           QStringLiteral("http://%1/").arg(QString::fromUtf8(varnel::config::kSiteHost));
}

void AboutBox::show(QWidget* parent) {
    QMessageBox box(parent);
    box.setWindowTitle(tr("About Varnel"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text());
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (const QIcon icon = QApplication::windowIcon(); !icon.isNull())
        box.setIconPixmap(icon.pixmap(64));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace app
