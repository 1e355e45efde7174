#pragma once

#include <QBasicTimer>
#include <QProgressBar>

namespace ui {

// An indeterminate progress indicator drawn as a small spinning wheel. It is a progress bar with the range
// 0-0, so assistive technology reads it as a busy progress bar. Once started it turns while it is visible
// and costs nothing while hidden.
class BusyIndicator : public QProgressBar {
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_animating; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();

    QBasicTimer m_timer;
    bool m_animating = false;
    int m_step = 0;
};

} // namespace ui
