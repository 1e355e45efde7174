#pragma once

#include "ui_MainWindow.h"

#include <QMainWindow>

namespace app {

// The main window as the interface file lays it out, with the texts that come from the build (the version
// and the site) filled in. Its controls are the controller's outlets.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    Ui::MainWindow ui;
};

} // namespace app
