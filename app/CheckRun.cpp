#include "app/CheckRun.h"

#include "app/AppIcon.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace app {

void CheckRun::begin(QLabel* caption) {
    end();
    m_active = true;
    m_wouldRepair = 0;
    m_caption = caption;
    if (m_caption) {
        m_repairCaption = m_caption->text();
        m_caption->setText(tr("Checking permissions\u2026"));
    }
}

void CheckRun::end() {
    if (m_active && m_caption)
        m_caption->setText(m_repairCaption);
    m_active = false;
    m_caption = nullptr;
}

void CheckRun::read(const QString& message) {
    // A summary such as "3 files differ; a repair would change …" names no file.
    if (m_active && message.startsWith(u"Would repair \u201c"))
        ++m_wouldRepair;
}

QString CheckRun::summary() const {
    if (m_wouldRepair == 0)
        return tr("Check complete: no file needs repair");
    return m_wouldRepair == 1
               ? tr("Check complete: 1 file differs and would be repaired")
               : tr("Check complete: %1 files differ and would be repaired").arg(m_wouldRepair);
}

bool CheckRun::offerRepair(QWidget* window) const {
    QMessageBox box(window);
    box.setWindowTitle(QStringLiteral("Varnel"));
    box.setTextFormat(Qt::PlainText);
    const QIcon icon = !QApplication::windowIcon().isNull() ? QApplication::windowIcon() : applicationIcon();
    box.setIconPixmap(icon.pixmap(64));
    if (m_wouldRepair == 0) {
        box.setText(tr("The check found no file whose permissions need repair. Nothing was changed."));
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return false;
    }
    box.setText((m_wouldRepair == 1
                     ? tr("The check found 1 file whose permissions differ from how it was installed.")
                     : tr("The check found %1 files whose permissions differ from how they were installed.")
                           .arg(m_wouldRepair)) +
                QLatin1Char(' ') + tr("Nothing was changed.") + QLatin1String("\n\n") + tr("Repair now?"));
    QPushButton* repair = box.addButton(tr("Repair Now"), QMessageBox::AcceptRole);
    QPushButton* later = box.addButton(tr("Not Now"), QMessageBox::RejectRole);
    box.setDefaultButton(repair);
    box.setEscapeButton(later);
    box.exec();
    return box.clickedButton() == repair;
}

QString CheckRun::title(int percent) {
    return tr("Checking %1% \u2014 Varnel").arg(percent);
}

QString CheckRun::startedLine() {
    return tr("Check of the start-up disk started");
}

QString CheckRun::notStarted(const QString& reason) {
    return tr("The check could not be started: %1").arg(reason);
}

QString CheckRun::notStartedAlert(const QString& reason) {
    return tr("The check could not be started.\n\n%1").arg(reason);
}

QString CheckRun::stopQuestion() {
    return tr("Stop the check? Nothing has been changed.");
}

} // namespace app
