// The styling walk: which controls it restyles, what it leaves alone, and that it can run twice.
#include "AppFixture.h"
#include "app/AppDelegate.h"
#include "ui/lnkTextField.h"

#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <cmath>
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
    delegate.setButtonStringColor(nullptr, Qt::white);
    delegate.recurseSubViews(&root);

    for (QLabel* label : {inBox, inPlain, onSelected, onUnselected, underSubclass})
        EXPECT_TRUE(raised(label)) << label->text().toStdString();
    EXPECT_FALSE(raised(&root));
    EXPECT_FALSE(raised(link));
    EXPECT_FALSE(raised(special));
    // White whether the window is active or not; faded, still white, when disabled.
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        EXPECT_EQ(button->palette().color(group, QPalette::ButtonText), QColor(Qt::white));
    const QColor disabled = button->palette().color(QPalette::Disabled, QPalette::ButtonText);
    EXPECT_EQ(disabled.rgb(), QColor(Qt::white).rgb());
    EXPECT_LT(disabled.alphaF(), 1.0);
    EXPECT_TRUE(tabs->documentMode());

    // A second walk changes nothing: the same effects, no new children.
    const QGraphicsEffect* effect = inBox->graphicsEffect();
    const auto before = root.findChildren<QObject*>().size();
    delegate.recurseSubViews(&root);
    EXPECT_EQ(inBox->graphicsEffect(), effect);
    EXPECT_EQ(root.findChildren<QObject*>().size(), before);
}

double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
// The contrast of a text colour, drawn over the ground with its transparency, against that ground.
double contrast(const QColor& ground, const QColor& text) {
    const double a = text.alphaF();
    const QColor drawn = QColor::fromRgbF(a * text.redF() + (1 - a) * ground.redF(),
                                          a * text.greenF() + (1 - a) * ground.greenF(),
                                          a * text.blueF() + (1 - a) * ground.blueF());
    const auto [dark, light] = std::minmax(luminance(ground), luminance(drawn));
    return (light + 0.05) / (dark + 0.05);
}

class Colours : public AppFixture {};

// Our buttons' titles against their faces as drawn (the style shades a face), enabled and disabled, and
// our texts against the panel and the window: WCAG AA's 4.5:1 at least.
TEST_F(Colours, OurTextsAndButtonTitlesReadAtFourAndAHalfToOne) {
    ui.btnStop->show();
    ui.detailsPanel->show();
    struct Row {
        QPushButton* button;
        bool enabled;
    } const buttons[] = {{ui.btnScanAndFix, true},
                         {ui.btnScanAndFix, false},
                         {ui.btnStop, true},
                         {ui.btnCopyLog, true},
                         {ui.btnSaveLog, true}};
    for (const Row& row : buttons) {
        SCOPED_TRACE(row.button->objectName().toStdString() + (row.enabled ? " enabled" : " disabled"));
        row.button->setEnabled(row.enabled);
        const QImage face = row.button->grab().toImage();
        const QColor title = row.button->palette().color(row.enabled ? QPalette::Active : QPalette::Disabled,
                                                         QPalette::ButtonText);
        double worst = 100;
        // A strip of the face left of the centred title, inside the frame, top to bottom.
        for (int x = 4; x < 10; ++x)
            for (int y = 4; y < face.height() - 4; ++y)
                worst = std::min(worst, contrast(face.pixelColor(x, y), title));
        EXPECT_GE(worst, 4.5);
    }
    const QColor panel = ui.boxMain->palette().color(QPalette::Window);
    const QColor blue = window.centralWidget()->palette().color(QPalette::Window);
    EXPECT_GE(contrast(panel, ui.lblDesc->palette().color(QPalette::WindowText)), 4.5);
    EXPECT_GE(contrast(blue, ui.lblVersion->palette().color(QPalette::WindowText)), 4.5);
    EXPECT_GE(contrast(blue, ui.lblLink->palette().color(QPalette::WindowText)), 4.5);
}

} // namespace

#include "StylingTest.moc"
