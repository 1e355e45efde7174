// The link label: when a press sends its action, its look by enabled state, keyboard and screen readers.
#include "ui/lnkTextField.h"

#include <QAccessible>
#include <QTest>
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

} // namespace

#include "lnkTextFieldTest.moc"
