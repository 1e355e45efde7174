// The styling walk: which controls it restyles, what it leaves alone, and that it can run twice.
#include "app/AppDelegate.h"
#include "ui/lnkTextField.h"

#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

class SpecialLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

bool raised(const QWidget* w) {
    return qobject_cast<QGraphicsDropShadowEffect*>(w->graphicsEffect()) != nullptr;
}

TEST(Styling, WalkRestylesStandardControlsAtAnyDepthByExactClassOnly) {
    QLabel root; // the view handed to the walk is never restyled, even when it is a label
    auto* box = new QFrame(&root);
    auto* inBox = new QLabel(QStringLiteral("in a box"), box);
    auto* plain = new QWidget(&root);
    auto* inPlain = new QLabel(QStringLiteral("deeper"), new QWidget(plain));
    auto* button = new QPushButton(QStringLiteral("Go"), &root);
    auto* tabs = new QTabWidget(&root);
    auto* selected = new QWidget;
    auto* unselected = new QWidget;
    auto* onSelected = new QLabel(QStringLiteral("selected"), selected);
    auto* onUnselected = new QLabel(QStringLiteral("unselected"), unselected);
    tabs->addTab(selected, QStringLiteral("One"));
    tabs->addTab(unselected, QStringLiteral("Two"));
    tabs->addTab(nullptr, QStringLiteral("Empty")); // a tab without a page is passed over
    auto* link = new ui::lnkTextField(QStringLiteral("link"), &root);
    auto* special = new SpecialLabel(QStringLiteral("special"), &root);
    auto* underSubclass = new QLabel(QStringLiteral("under a subclass"), special);

    app::AppDelegate delegate;
    delegate.recurseSubViews(nullptr);
    delegate.recurseSubViews(&root);

    for (QLabel* label : {inBox, inPlain, onSelected, onUnselected, underSubclass})
        EXPECT_TRUE(raised(label)) << label->text().toStdString();
    EXPECT_FALSE(raised(&root));
    EXPECT_FALSE(raised(link));
    EXPECT_FALSE(raised(special));
    EXPECT_EQ(button->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));
    EXPECT_TRUE(tabs->documentMode());

    // A second walk changes nothing: the same effects, no new children.
    const QGraphicsEffect* effect = inBox->graphicsEffect();
    const auto before = root.findChildren<QObject*>().size();
    delegate.recurseSubViews(&root);
    EXPECT_EQ(inBox->graphicsEffect(), effect);
    EXPECT_EQ(root.findChildren<QObject*>().size(), before);
}

TEST(Styling, RecolouringKeepsTheTextAndFadesWhenDisabled) {
    app::AppDelegate delegate;
    QPushButton button(QStringLiteral("Scan"));
    QLabel label(QStringLiteral("Today"));
    delegate.setButtonStringColor(&button, Qt::white);
    delegate.setLabelStringColor(&label, Qt::red);
    delegate.setLabelStringColor(&label, Qt::blue); // the last colour wins
    delegate.setButtonStringColor(nullptr, Qt::white);
    EXPECT_EQ(button.text(), QStringLiteral("Scan"));
    EXPECT_EQ(label.palette().color(QPalette::Inactive, QPalette::WindowText), QColor(Qt::blue));
    EXPECT_LT(button.palette().color(QPalette::Disabled, QPalette::ButtonText).alphaF(), 1.0);
}

} // namespace

#include "StylingTest.moc"
