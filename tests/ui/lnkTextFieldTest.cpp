// The link label: when a press sends its action, its look by enabled state, keyboard and screen readers.
#include "ui/lnkTextField.h"

#include <QAccessible>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

class Target : public QObject {
    Q_OBJECT
public:
    void clicked() { ++clicks; }
    int clicks = 0;
};

TEST(LinkLabel, PressSendsTheActionOnlyWithALiveTargetOnAnEnabledLabel) {
    ui::lnkTextField label(QStringLiteral("www.varnel.app"));
    label.setTextInteractionFlags(Qt::TextSelectableByMouse); // even so, a press never selects
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_FALSE(label.hasSelectedText());

    auto target = std::make_unique<Target>();
    label.setClickTarget(target.get(), &Target::clicked);
    EXPECT_EQ(label.stringValue(), QStringLiteral("www.varnel.app"));
    QTest::mousePress(&label, Qt::RightButton); // any button, on the press, without waiting for the release
    EXPECT_EQ(target->clicks, 1);
    QTest::mouseRelease(&label, Qt::RightButton);
    // Through the window system, as a real double click arrives: two presses, two actions.
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    QTest::mouseDClick(label.windowHandle(), Qt::LeftButton, {}, label.rect().center());
    EXPECT_EQ(target->clicks, 3);

    label.setEnabled(false);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(target->clicks, 3);
    label.setEnabled(true);

    target.reset(); // the label outlives its target: a press is then a no-op, not a call into freed memory
    QTest::mouseClick(&label, Qt::LeftButton);
}

TEST(LinkLabel, EnabledStateTogglesUnderlineAndCursorWithTheSameText) {
    ui::lnkTextField label(QStringLiteral("<b>www.varnel.app</b>"));
    label.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label.setStringValue(QStringLiteral("<b>home</b>"));
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

    label.setEnabled(false);
    EXPECT_FALSE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::ArrowCursor);
    label.setEnabled(true);
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(label.stringValue(), QStringLiteral("<b>home</b>"));
    EXPECT_EQ(label.alignment(), Qt::AlignRight | Qt::AlignVCenter);
}

TEST(LinkLabel, KeyboardAndScreenReadersCanFollowIt) {
    Target target;
    ui::lnkTextField label(QStringLiteral("www.varnel.app"));
    label.setClickTarget(&target, &Target::clicked);
    EXPECT_EQ(label.focusPolicy(), Qt::StrongFocus);
    QTest::keyClick(&label, Qt::Key_Return);
    QTest::keyClick(&label, Qt::Key_Space);
    QTest::keyClick(&label, Qt::Key_A);
    EXPECT_EQ(target.clicks, 2);

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&label);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Link);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("www.varnel.app"));
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(target.clicks, 3);
    // Qt keeps the mouse and keys from a disabled label, not a screen reader's press.
    label.setEnabled(false);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(target.clicks, 3);
}

double luminance(QRgb rgb) {
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}
double contrast(QRgb a, QRgb b) {
    const auto [dark, light] = std::minmax(luminance(a), luminance(b));
    return (light + 0.05) / (dark + 0.05);
}

// On the window's blue, as in the footer: focus by Tab or given by the program draws a ring that stands out
// from the background (3:1, as for any control's outline) around the text, never over it.
TEST(LinkLabel, ShowsAFocusRingAroundTheTextWhileItHasFocus) {
    QWidget window;
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.41f, 0.71f, 0.91f));
    palette.setColor(QPalette::WindowText, QColor(0x12, 0x33, 0x4d));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* before = new QPushButton(QStringLiteral("Before"), &window);
    auto* label = new ui::lnkTextField(QStringLiteral("www.varnel.app"), &window);
    label->move(0, 40);
    label->resize(label->sizeHint());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QImage unfocused = label->grab().toImage();
    const QRgb background = unfocused.pixel(label->width() / 2, 0);
    const QRect text = label->contentsRect();

    for (const bool byKeyboard : {true, false}) {
        SCOPED_TRACE(byKeyboard ? "by Tab" : "given by the program");
        before->setFocus();
        if (byKeyboard)
            QTest::keyClick(&window, Qt::Key_Tab);
        else
            label->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(label->hasFocus());
        const QImage focused = label->grab().toImage();
        ASSERT_EQ(focused.size(), unfocused.size()); // the label keeps its size
        for (const QPoint rim :
             {QPoint(focused.width() / 2, 0), QPoint(focused.width() / 2, focused.height() - 1),
              QPoint(0, focused.height() / 2), QPoint(focused.width() - 1, focused.height() / 2)})
            EXPECT_GE(contrast(focused.pixel(rim), background), 3.0) << rim.x() << "," << rim.y();
        EXPECT_EQ(focused.copy(text), unfocused.copy(text));
        before->setFocus();
        EXPECT_EQ(label->grab().toImage(), unfocused);
    }
}

} // namespace

#include "lnkTextFieldTest.moc"
