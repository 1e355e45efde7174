#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <concepts>
#include <functional>

namespace ui {

// A label that looks and acts like a hyperlink: while enabled its text is underlined, the pointer turns
// into a pointing hand over it, and a press (with any button, or Enter or Space while it has focus)
// sends a stored action to a stored target. A press never selects text and is never passed on.
//
// The target is watched, not owned: once it is gone, a press does nothing. The text is always plain.
class lnkTextField : public QLabel {
    Q_OBJECT

public:
    explicit lnkTextField(QWidget* parent = nullptr);
    explicit lnkTextField(const QString& text, QWidget* parent = nullptr);

    // Stores the target and the member to call on it with no argument, and re-applies the text style.
    template <typename Target>
    requires std::derived_from<Target, QObject>
    void setClickTarget(Target* target, void (Target::*sel)()) {
        _obj = target;
        _sel = sel ? std::function<void(QObject*)>([sel](QObject* o) { (static_cast<Target*>(o)->*sel)(); })
                   : std::function<void(QObject*)>();
        setStringValue(stringValue());
    }

    QString stringValue() const { return text(); }
    // Sets the text as plain text, underlined while the label is enabled.
    void setStringValue(const QString& text);

    // Sends the action when there is a live target and an action and the label is enabled.
    void activate();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyEnabledLook();

    QPointer<QObject> _obj;
    std::function<void(QObject*)> _sel;
};

} // namespace ui
