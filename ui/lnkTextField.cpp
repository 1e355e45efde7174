#include "ui/lnkTextField.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace ui {
namespace {

// Screen readers read the label as a link named by its text, which they can press.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(lnkTextField* label)
        : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<lnkTextField*>(widget())->stringValue();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction())
            static_cast<lnkTextField*>(widget())->activate();
    }
};

QAccessibleInterface* linkAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(lnkTextField::staticMetaObject.className()) && object->isWidgetType())
        return new LinkAccessible(static_cast<lnkTextField*>(object));
    return nullptr;
}

void installAccessibleFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(linkAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

lnkTextField::lnkTextField(QWidget* parent)
    : lnkTextField(QString(), parent) {}

lnkTextField::lnkTextField(const QString& text, QWidget* parent)
    : QLabel(parent) {
    installAccessibleFactoryOnce();
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::StrongFocus);
    setText(text);
    applyEnabledLook();
}

void lnkTextField::setStringValue(const QString& text) {
    // The underline lives in the font and follows the enabled state, so plain text is all there is to set.
    setText(text);
    applyEnabledLook();
}

void lnkTextField::activate() {
    if (!_obj || !_sel || !isEnabled())
        return;
    _sel(_obj);
}

void lnkTextField::mousePressEvent(QMouseEvent* event) {
    // Acts on the press itself; the release is not awaited, and nothing reaches QLabel (no selection).
    event->accept();
    activate();
}

void lnkTextField::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like the first.
    event->accept();
    activate();
}

void lnkTextField::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void lnkTextField::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void lnkTextField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        event->accept();
        activate();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void lnkTextField::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        applyEnabledLook();
}

void lnkTextField::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = contentsRect();
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void lnkTextField::applyEnabledLook() {
    const bool enabled = isEnabled();
    QFont f = font();
    if (f.underline() != enabled) {
        f.setUnderline(enabled);
        setFont(f);
    }
    setCursor(enabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

} // namespace ui
