#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>

#include "protocol/paced_wait.h"
#include "ui/form_builder.h"
#include "ui/led_indicator.h"

namespace swb808 {
namespace {

const QColor kOrange(244, 87, 18);
const QColor kBrown(83, 41, 0);

// Records what each paint event was asked to cover.
class ProbeLed : public LedIndicator {
  public:
    using LedIndicator::LedIndicator;
    std::vector<QRegion> painted;

  protected:
    void paintEvent(QPaintEvent* event) override {
        painted.push_back(event->region());
        LedIndicator::paintEvent(event);
    }
};

// The window's LED settings.
void StyleAsWindow(LedIndicator& led, TAlign align, const QString& caption) {
    led.setFont(form::WindowFont());
    led.SetCaption(caption);
    led.SetLedOnColor(clSwbOrange);
    led.SetLedOffColor(clSwbBrown);
    led.SetLedCircle(13);
    led.SetLedBorder(olNone);
    led.SetLedSpot(false);
    led.SetCaptionTransparant(false);
    led.SetColorBackGround(clBtnFace);
    led.SetCaptionBackGround(clBtnFace);
    led.SetLedAlign(align);
}

QColor At(const QImage& img, int x, int y) {
    return img.pixelColor(x, y);
}

// The screen's pixels (the offscreen backing store), not a fresh rendering.
QImage OnScreen(QWidget& top) {
    return top.screen()->grabWindow(top.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

struct Geometry {
    const char* what;
    int width;
    TAlign align;
    QRect box;  // disc box, right/bottom exclusive as (x1, y1, x2, y2)
    int textX;
};

class LedGeometry : public ::testing::TestWithParam<Geometry> {};

TEST_P(LedGeometry, DiscAndCaptionSitWhereTheWindowDrewThem) {
    const Geometry g = GetParam();
    LedIndicator led;
    StyleAsWindow(led, g.align, QStringLiteral("Relais 1"));
    led.resize(g.width, 25);
    ASSERT_EQ(QFontMetrics(led.font()).height(), 13);
    EXPECT_EQ(led.LedBox(), g.box);

    const QColor face = led.palette().color(QPalette::Window);
    for (TState state : {stOff, stOn}) {
        led.SetLedState(state);
        const QImage img = led.grab().toImage();
        const QColor disc = state == stOn ? kOrange : kBrown;
        const int x1 = g.box.left(), y1 = g.box.top(), x2 = g.box.right() + 1,
                  y2 = g.box.bottom() + 1, cx = x1 + 6, cy = y1 + 6;
        // The disc fills its 13-pixel box edge to edge along the axes, one colour throughout.
        for (int x = x1; x < x2; ++x) EXPECT_EQ(At(img, x, cy), disc) << g.what << " x=" << x;
        for (int y = y1; y < y2; ++y) EXPECT_EQ(At(img, cx, y), disc) << g.what << " y=" << y;
        EXPECT_EQ(At(img, x1 - 1, cy), face);
        EXPECT_EQ(At(img, x2, cy), face);
        EXPECT_EQ(At(img, cx, y1 - 1), face);
        EXPECT_EQ(At(img, cx, y2), face);
        EXPECT_EQ(At(img, x1, y1), face) << "corner of the box is outside the disc";
        EXPECT_EQ(At(img, x2 - 1, y2 - 1), face);
    }
    // The caption is drawn from textX on, never left of it.
    const QImage img = led.grab().toImage();
    int first = -1;
    for (int x = 0; x < g.width && first < 0; ++x)
        for (int y = 2; y < 23; ++y)
            if (!g.box.contains(x, y) && At(img, x, y) != face) {
                first = x;
                break;
            }
    EXPECT_GE(first, g.textX) << g.what;
    EXPECT_LE(first, g.textX + 2) << g.what;
}

INSTANTIATE_TEST_SUITE_P(WindowLeds, LedGeometry,
                         ::testing::Values(Geometry{"relay", 68, alRight, QRect(50, 6, 13, 13), 3},
                                           Geometry{"input", 63, alRight, QRect(45, 6, 13, 13), 3},
                                           Geometry{"legend", 73, alLeft, QRect(5, 6, 13, 13),
                                                    22}));

TEST(LedIndicator, DefaultsShowABlueDiscWithGreyRimWhiteLowerArcAndSpot) {
    LedIndicator led;
    EXPECT_EQ(led.LedState(), stOn);
    EXPECT_EQ(led.LedCircle(), 12);
    EXPECT_EQ(led.LedMargin(), 5);
    EXPECT_EQ(led.CaptionMargin(), 2);
    EXPECT_EQ(led.LedBorder(), ol3dDown);
    EXPECT_TRUE(led.LedSpot());
    EXPECT_TRUE(led.CaptionTransparant());
    EXPECT_EQ(led.LedOffColor(), clNavy);
    EXPECT_EQ(int(stOn), 0);
    EXPECT_EQ(int(stOff), 1);
    led.resize(60, 24);  // box (5, 6) - (17, 18)
    const QImage img = led.grab().toImage();
    EXPECT_EQ(At(img, 14, 12), QColor(0, 0, 255)) << "fill";
    EXPECT_EQ(At(img, 11, 6), QColor(128, 128, 128)) << "upper rim";
    EXPECT_EQ(At(img, 11, 17), QColor(255, 255, 255)) << "lower rim arc";
    EXPECT_EQ(At(img, 9, 10), QColor(255, 255, 255)) << "highlight spot";
    EXPECT_EQ(At(img, 30, 12), QColor(192, 192, 192)) << "silver background";
}

struct Events {
    int before = 0, after = 0;
    bool veto = false;
};

void Watch(LedIndicator& led, Events& ev) {
    led.OnBeforeChange = [&ev](LedIndicator&, bool& status) {
        ++ev.before;
        if (ev.veto) status = false;
    };
    led.OnAfterChange = [&ev](LedIndicator&) { ++ev.after; };
}

class ShownLed : public ::testing::Test {
  protected:
    void SetUp() override {
        top.resize(120, 40);
        led = new ProbeLed(&top);
        StyleAsWindow(*led, alRight, QStringLiteral("Relais 1"));
        led->setGeometry(10, 10, 68, 25);
        led->SetLedState(stOff);
        top.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
        QApplication::processEvents();
        led->painted.clear();
        Watch(*led, events);
    }
    QWidget top;
    ProbeLed* led = nullptr;
    Events events;
};

TEST_F(ShownLed, StateChangeRepaintsOnlyTheDiscAtTheNextEventTurn) {
    const QImage before = OnScreen(top);
    led->SetLedState(stOn);
    EXPECT_EQ(events.before, 1);
    EXPECT_EQ(events.after, 1);
    QApplication::processEvents();
    ASSERT_FALSE(led->painted.empty());
    for (const QRegion& r : led->painted) EXPECT_EQ(r.boundingRect(), led->LedBox());

    const QImage after = OnScreen(top);
    const QRect box = led->LedBox().translated(led->pos());
    EXPECT_EQ(At(after, box.left() + 6, box.top() + 6), kOrange);
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (!box.contains(x, y)) {
                ASSERT_EQ(after.pixel(x, y), before.pixel(x, y)) << x << "," << y;
            }
}

TEST_F(ShownLed, StateChangeIsOnScreenDuringAPacedWait) {
    const EventPump previous = SetEventPump([] { QCoreApplication::processEvents(); });
    led->SetLedState(stOn);
    PacedWait(30);
    SetEventPump(previous);
    const QRect box = led->LedBox().translated(led->pos());
    EXPECT_EQ(At(OnScreen(top), box.left() + 6, box.top() + 6), kOrange);
}

TEST_F(ShownLed, VetoKeepsStateAndColourAndRaisesNoAfterChange) {
    events.veto = true;
    led->SetLedState(stOn);
    QApplication::processEvents();
    EXPECT_EQ(led->LedState(), stOff);
    EXPECT_EQ(events.before, 1);
    EXPECT_EQ(events.after, 0);
    EXPECT_TRUE(led->painted.empty());
    const QRect box = led->LedBox().translated(led->pos());
    EXPECT_EQ(At(OnScreen(top), box.left() + 6, box.top() + 6), kBrown);
}

TEST_F(ShownLed, SettingTheSameStateRaisesAndDrawsNothing) {
    led->SetLedState(stOff);
    QApplication::processEvents();
    EXPECT_EQ(events.before, 0);
    EXPECT_EQ(events.after, 0);
    EXPECT_TRUE(led->painted.empty());
}

TEST_F(ShownLed, ClickRaisesOnClickOnlyAndNeverChangesTheState) {
    int clicks = 0;
    led->OnClick = [&](LedIndicator& sender) {
        EXPECT_EQ(&sender, led);
        ++clicks;
    };
    QTest::mouseClick(led, Qt::LeftButton, {}, QPoint(20, 12));
    QTest::mouseClick(led, Qt::RightButton, {}, QPoint(20, 12));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(led->LedState(), stOff);
    EXPECT_EQ(events.before, 0);
}

TEST_F(ShownLed, DoubleClickIsOneClick) {
    int clicks = 0;
    led->OnClick = [&](LedIndicator&) { ++clicks; };
    const QPointF at(20, 12);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, led->mapToGlobal(at), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(led, &event);
    }
    EXPECT_EQ(clicks, 1);
    // And a click after it counts again.
    QTest::mouseClick(led, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(clicks, 2);
}

// On a disabled page the captions keep the window-text colour (black), as its other texts
// do; the disabled palette's grey (#bebebe) is for controls, not for these captions.
TEST_F(ShownLed, CaptionKeepsTheWindowTextColourWhenDisabled) {
    for (const auto& [align, caption] :
         {std::pair{alRight, QStringLiteral("Relais 1")}, std::pair{alLeft, QStringLiteral("= on")}}) {
        SCOPED_TRACE(caption.toStdString());
        led->SetLedAlign(align);
        led->SetCaption(caption);
        top.setEnabled(false);
        ASSERT_FALSE(led->isEnabled());
        const QImage img = led->grab().toImage().convertToFormat(QImage::Format_RGB32);
        top.setEnabled(true);
        const QRect area = led->CaptionArea().adjusted(1, 1, -1, -1);
        int darkest = 255 * 3;
        QColor darkestColour;
        for (int y = area.top(); y < area.bottom(); ++y)
            for (int x = area.left(); x < area.right(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.red() + c.green() + c.blue() < darkest) {
                    darkest = c.red() + c.green() + c.blue();
                    darkestColour = c;
                }
            }
        // The glyphs' cores are the text colour (give or take the rasteriser's rounding).
        ASSERT_EQ(top.palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
        EXPECT_LE(darkest, 3 * 0x40) << darkestColour.name().toStdString();
    }
}

}  // namespace
}  // namespace swb808
