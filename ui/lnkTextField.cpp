#include "ui/lnkTextField.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ui {
namespace {

// The room kept around the text for the focus ring, so the ring never covers a glyph or the underline and
// the label does not move when it gains focus.
constexpr int kRingRoom = 3;

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
    setContentsMargins(kRingRoom, kRingRoom - 1, kRingRoom, kRingRoom - 1);
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
    // A ring of our own in the text's colour: the style's ring may be drawn only after keyboard use, or in
    // the highlight colour, which vanishes on a blue window. The text's colour is readable on whatever the
    // label sits on.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(foregroundRole()), 1.0, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2.0, 2.0);
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
