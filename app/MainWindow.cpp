#include "app/MainWindow.h"

#include "varnel/Config.h"

namespace app {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent) {
    ui.setupUi(this);
    ui.lblVersion->setText(tr("Version %1").arg(QString::fromUtf8(varnel::config::kVersion)));
    ui.lblLink->setStringValue(QString::fromUtf8(varnel::config::kSiteHost));
    // The progress bar keeps its room while hidden, so the window does not jump between idle and busy.
    QSizePolicy policy = ui.pbProgress->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    ui.pbProgress->setSizePolicy(policy);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
}

} // namespace app
