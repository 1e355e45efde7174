// A program that ends the moment its first window paints, writing one byte to its standard output then:
// bench_app times process start to first frame with it. Built three times: as the whole application (open
// to every user) and, to compare with, as a bare Qt window (VARNEL_BENCH_BARE) and as a bare window
// showing one line of text (VARNEL_BENCH_TEXT: what loading the fonts costs any window with text).
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QWidget>
#include <unistd.h>

#if !defined(VARNEL_BENCH_BARE) && !defined(VARNEL_BENCH_TEXT)
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

#if !defined(VARNEL_BENCH_BARE) && !defined(VARNEL_BENCH_TEXT)
struct Everyone : app::GroupDatabase {
    const char* const* membersOf(const char*) const override {
        static const char* const members[] = {"bench", nullptr};
        return members;
    }
    const char* loginName() const override { return "bench"; }
};
#endif

} // namespace

int main(int argc, char** argv) {
#if defined(VARNEL_BENCH_BARE) || defined(VARNEL_BENCH_TEXT)
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
