#include "update/MessageBoxPresenter.h"

#include "update/CheckResult.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPushButton>

namespace update {
namespace {

// A hostile feed may send a version of any length; the dialog shows a bounded part of it.
QString shortened(const QString& text) {
    constexpr qsizetype kMax = 40;
    const QString simple = text.simplified();
    return simple.size() <= kMax ? simple : simple.left(kMax - 1) + QChar(0x2026);
}

} // namespace

MessageBoxPresenter::~MessageBoxPresenter() {
    // The shared client is destroyed with the application object, when no widget may be touched any
    // more; the process is ending then and the box goes with it.
    if (!QCoreApplication::closingDown())
        delete m_box.data();
}

QString MessageBoxPresenter::textFor(const CheckResult& result) {
    const QString app = QGuiApplication::applicationDisplayName();
    switch (result.outcome) {
    case CheckResult::Outcome::UpToDate:
        return QCoreApplication::translate("update::MessageBoxPresenter",
                                           "You're up to date!\n\n%1 %2 is the newest version available.")
            .arg(app, result.currentVersion);
    case CheckResult::Outcome::UpdateAvailable: {
        const AppcastItem item = result.item.value_or(AppcastItem());
        QString text = QCoreApplication::translate(
                           "update::MessageBoxPresenter",
                           "A new version of %1 is available!\n\n%1 %2 is now available; you have %3.")
                           .arg(app, shortened(item.displayVersion()), result.currentVersion);
        if (isWebLink(item.downloadPage))
            text += QCoreApplication::translate("update::MessageBoxPresenter",
                                                " Would you like to open its download page?");
        return text;
    }
    case CheckResult::Outcome::Failed:
        break;
    }
    return QCoreApplication::translate("update::MessageBoxPresenter", "The check for updates failed.\n\n%1")
        .arg(result.reason);
}

void MessageBoxPresenter::present(const CheckResult& result) {
    delete m_box.data();
    auto* box = new QMessageBox;
    m_box = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(QCoreApplication::translate("update::MessageBoxPresenter", "Software Update"));
    box->setTextFormat(Qt::PlainText);
    box->setText(textFor(result));
    const bool available = result.outcome == CheckResult::Outcome::UpdateAvailable;
    box->setIcon(result.outcome == CheckResult::Outcome::Failed ? QMessageBox::Warning
                                                                : QMessageBox::Information);
    if (available && result.item && isWebLink(result.item->downloadPage)) {
        const QUrl page = result.item->downloadPage;
        auto* download = box->addButton(
            QCoreApplication::translate("update::MessageBoxPresenter", "Download"), QMessageBox::AcceptRole);
        QObject::connect(download, &QPushButton::clicked, box, [page] {
            // Checked again here: nothing but a web page is ever opened.
            if (isWebLink(page))
                QDesktopServices::openUrl(page);
        });
        box->setDefaultButton(download);
    }
    box->setEscapeButton(
        box->addButton(available ? QCoreApplication::translate("update::MessageBoxPresenter", "Close")
                                 : QCoreApplication::translate("update::MessageBoxPresenter", "OK"),
                       QMessageBox::RejectRole));
    box->show();
}

} // namespace update
