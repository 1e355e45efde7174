#include "app/MainWindow.h"

#include "varnel/Config.h"

namespace app {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent) {
    ui.setupUi(this);
    ui.lblVersion->setText(tr("Version %1").arg(QString::fromUtf8(varnel::config::kVersion)));
    ui.lblLink->setStringValue(QString::fromUtf8(varnel::config::kSiteHost));
    // The bar and the Stop button keep their room while hidden: the window does not jump between idle
    // and busy.
    for (QWidget* keepsItsRoom : {static_cast<QWidget*>(ui.pbProgress), static_cast<QWidget*>(ui.btnStop)}) {
        QSizePolicy policy = keepsItsRoom->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        keepsItsRoom->setSizePolicy(policy);
    }
    // The window starts idle: a user refused at start-up sees no run behind the refusal.
    ui.pbWait->hide();
    ui.lblProgress->hide();
    ui.pbProgress->hide();
    // Details come with the first run; until then the window shows what it always did.
    ui.btnStop->hide();
    ui.btnDetails->hide();
    ui.detailsPanel->hide();
    ui.miSaveLog->setEnabled(false); // there is a log once a run has started
}

} // namespace app
