#pragma once

#include <QCoreApplication>
#include <QString>

class QWidget;

namespace app {

// Help > About Varnel: the version and build number, the licence and the site, in a box titled
// "About Varnel" whose text can be selected and copied.
class AboutBox {
    Q_DECLARE_TR_FUNCTIONS(AboutBox)

public:
    static QString text();
    static void show(QWidget* parent);
};

} // namespace app
