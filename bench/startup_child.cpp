// A program that ends the moment its first window paints, writing one byte to its standard output then:
// bench_app times process start to first frame with it. Built four times: as the whole application (open
// to every user) and, to compare with, as a bare Qt window (VARNEL_BENCH_BARE), as a bare window showing
// one line of text (VARNEL_BENCH_TEXT: what loading the fonts costs any window with text) and as a bare
// window showing the texts the application's window shows, in the same fonts (VARNEL_BENCH_SAME_TEXT).
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <unistd.h>

#if !defined(VARNEL_BENCH_BARE) && !defined(VARNEL_BENCH_TEXT) && !defined(VARNEL_BENCH_SAME_TEXT)
#include "app/Application.h"
#endif

namespace {

class FirstFrame : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, "F", 1);
            ::_exit(0);
        }
        return false;
    }
};

void watchForTheFirstFrame() {
    qApp->installEventFilter(new FirstFrame);
}
Q_COREAPP_STARTUP_FUNCTION(watchForTheFirstFrame)

#if !defined(VARNEL_BENCH_BARE) && !defined(VARNEL_BENCH_TEXT) && !defined(VARNEL_BENCH_SAME_TEXT)
struct Everyone : app::GroupDatabase {
    const char* const* membersOf(const char*) const override {
        static const char* const members[] = {"bench", nullptr};
        return members;
    }
    const char* loginName() const override { return "bench"; }
};
#endif

} // namespace

#ifdef VARNEL_BENCH_SAME_TEXT
QLabel* label(const char* text, QWidget* parent, int pointSize = 0, bool bold = false) {
    auto* shown = new QLabel(QString::fromUtf8(text), parent);
    QFont font = shown->font();
    if (pointSize)
        font.setPointSize(pointSize);
    font.setBold(bold);
    shown->setFont(font);
    return shown;
}
#endif

int main(int argc, char** argv) {
#ifdef VARNEL_BENCH_SAME_TEXT
    QApplication application(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&File"));
    window.menuBar()->addMenu(QStringLiteral("&Help"));
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(label("Repair disk permissions", content, 15, true));
    QLabel* description =
        label("Varnel puts the permissions of the files on your start-up disk back the way they "
              "were installed. A repair takes a few minutes, and you can go on working while "
              "it runs.",
              content);
    description->setWordWrap(true);
    description->setMinimumWidth(420);
    layout->addWidget(description);
    auto* button = new QPushButton(QStringLiteral("Scan and Repair"), content);
    QFont bold = button->font();
    bold.setBold(true);
    button->setFont(bold);
    layout->addWidget(button);
    layout->addWidget(label("Last repair:", content));
    layout->addWidget(label("Never", content));
    layout->addWidget(label("Version 1.0.0", content));
    layout->addWidget(label("www.varnel.app", content));
    window.setCentralWidget(content);
    window.show();
    return QApplication::exec();
#elif defined(VARNEL_BENCH_BARE) || defined(VARNEL_BENCH_TEXT)
    QApplication application(argc, argv);
    QWidget window;
    window.resize(500, 290);
#ifdef VARNEL_BENCH_TEXT
    QLabel text(QStringLiteral("Varnel"), &window);
#endif
    window.show();
    return QApplication::exec();
#else
    return app::runApplication(argc, argv, std::make_unique<Everyone>());
#endif
}
