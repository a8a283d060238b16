#include "settings/cinifile.h"
#include "settings/form_window.h"
#include "settings_test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <stdexcept>

namespace {

using tw::cInifile;
using tw::FormWindow;
using tw::test::SettingsFile;

// A window on a 1024 x 768 pixel screen (15 twips per pixel) that records what
// is done to it and can be told to fail.
class FakeWindow : public FormWindow {
public:
    int state = Normal;
    double l = 1500, t = 1200, w = 6000, h = 4500;
    double screenW = 1024 * 15, screenH = 768 * 15;
    std::optional<std::array<double, 4>> moved;
    bool failOnTop = false;

    int windowState() const override { return state; }
    void setWindowState(int s) override { state = s; }
    double left() const override { return l; }
    double top() const override
    {
        if (failOnTop)
            throw std::runtime_error("no Top property");
        return t;
    }
    double width() const override { return w; }
    double height() const override { return h; }
    void move(double left, double top, double width, double height) override
    {
        moved = std::array<double, 4> { left, top, width, height };
        l = left;
        t = top;
        w = width;
        h = height;
    }
    double screenWidth() const override { return screenW; }
    double screenHeight() const override { return screenH; }
    double twipsPerPixelX() const override { return 15; }
    double twipsPerPixelY() const override { return 15; }
};

class FormPosition : public testing::Test {
protected:
    FormPosition()
    {
        ini.Path(file.path());
        ini.Section(QStringLiteral("placement"));
        ini.Key(QStringLiteral("caller's key"));
        ini.Default(QStringLiteral("caller's default"));
    }

    void expectFieldsRestored()
    {
        EXPECT_EQ(ini.Key(), QStringLiteral("caller's key"));
        EXPECT_EQ(ini.Default(), QStringLiteral("caller's default"));
    }

    SettingsFile file;
    cInifile ini;
    FakeWindow window;
};

// ---------------------------------------------------------------------------
// SaveFormPosition

TEST_F(FormPosition, SaveOfANormalWindowWritesAllFiveKeysInOrder)
{
    window.l = -300;
    window.w = 1234.5;
    ini.SaveFormPosition(window);
    EXPECT_EQ(file.bytes(),
        "[placement]\r\nMaximised=0\r\nLeft=-300\r\nTop=1200\r\nWidth=1234.5\r\nHeight=4500\r\n");
    EXPECT_TRUE(ini.Success());
    expectFieldsRestored();
}

TEST_F(FormPosition, SaveOfAMaximisedWindowWritesOnlyMaximisedAndKeepsOlderEdges)
{
    ini.SaveFormPosition(window);
    window.state = FormWindow::Maximised;
    window.l = 0;
    ini.SaveFormPosition(window);
    EXPECT_EQ(
        file.bytes(), "[placement]\r\nMaximised=1\r\nLeft=1500\r\nTop=1200\r\nWidth=6000\r\nHeight=4500\r\n");
}

TEST_F(FormPosition, SaveOfAMinimisedWindowWritesNothing)
{
    window.state = FormWindow::Minimised;
    ini.SaveFormPosition(window);
    EXPECT_FALSE(file.exists());
    EXPECT_FALSE(ini.Success());
    expectFieldsRestored();
}

TEST_F(FormPosition, SaveThatFailsKeepsEarlierWritesAndReportsFailure)
{
    window.failOnTop = true;
    ini.SaveFormPosition(window);
    EXPECT_EQ(file.bytes(), "[placement]\r\nMaximised=0\r\nLeft=1500\r\n");
    EXPECT_FALSE(ini.Success());
    expectFieldsRestored();
}

// ---------------------------------------------------------------------------
// LoadFormPosition: stored bounds on the fake 15360 x 11520 twip screen

struct LoadCase {
    const char* name;
    QByteArray stored; // the lines of the section
    int32_t minWidth;
    int32_t minHeight;
    std::optional<std::array<double, 4>> expectedMove;
    int expectedState;
};

class LoadPosition : public FormPosition, public testing::WithParamInterface<LoadCase> { };

TEST_P(LoadPosition, RestoresBoundsInsideTheScreen)
{
    const LoadCase& c = GetParam();
    file.write("[placement]\r\n" + c.stored);
    ini.LoadFormPosition(window, c.minWidth, c.minHeight);
    EXPECT_EQ(window.moved, c.expectedMove);
    EXPECT_EQ(window.state, c.expectedState);
    expectFieldsRestored();
}

using Bounds = std::array<double, 4>;

INSTANTIATE_TEST_SUITE_P(FormPosition, LoadPosition,
    testing::Values(
        LoadCase { "StoredBounds", "Left=900\r\nTop=600\r\nWidth=4000\r\nHeight=3500\r\nMaximised=0\r\n",
            3000, 3000, Bounds { 900, 600, 4000, 3500 }, FormWindow::Normal },
        LoadCase { "NoKeysKeepsCurrentBounds", "", 3000, 3000, Bounds { 1500, 1200, 6000, 4500 },
            FormWindow::Normal },
        LoadCase { "JunkValuesKeepCurrentBounds", "Left=abc\r\nTop=\r\nWidth=1e9\r\nHeight=99999999999\r\n",
            3000, 3000, Bounds { 1500, 1200, 6000, 4500 }, FormWindow::Normal },
        LoadCase { "SmallSizeRaisedToMinimum", "Width=100\r\nHeight=200\r\n", 3000, 2500,
            Bounds { 1500, 1200, 3000, 2500 }, FormWindow::Normal },
        LoadCase { "NegativeLeftBecomesTheMargin", "Left=-500\r\nTop=-1\r\n", 3000, 3000,
            Bounds { 60, 60, 6000, 4500 }, FormWindow::Normal },
        LoadCase { "OffTheRightEdgeMovesLeft", "Left=14000\r\nTop=10000\r\n", 3000, 3000,
            Bounds { 15360 - 60 - 6000, 11520 - 60 - 4500, 6000, 4500 }, FormWindow::Normal },
        LoadCase { "WiderThanTheScreenIsNarrowed", "Left=500\r\nWidth=20000\r\n", 3000, 3000,
            Bounds { 60, 1200, 15360 - 120, 4500 }, FormWindow::Normal },
        LoadCase { "MinimumLargerThanTheScreenDoesNotMove", "Maximised=1\r\n", 20000, 3000, std::nullopt,
            FormWindow::Maximised },
        LoadCase { "MaximisedAfterTheMove", "Left=900\r\nMaximised= 1 \r\n", 3000, 3000,
            Bounds { 900, 1200, 6000, 4500 }, FormWindow::Maximised },
        LoadCase { "HalvesRoundToEven", "Left=900.5\r\nTop=901.5\r\n", 3000, 3000,
            Bounds { 900, 902, 6000, 4500 }, FormWindow::Normal },
        LoadCase { "OverflowingSumIsCaught", "Left=2147483000\r\nWidth=2147483000\r\n", 3000, 3000,
            std::nullopt, FormWindow::Normal }),
    [](const testing::TestParamInfo<LoadCase>& param) { return param.param.name; });

TEST_F(FormPosition, LoadThatFailsRestoresKeyAndDefaultAndReportsFailure)
{
    ini.Value(QStringLiteral("1"));
    ASSERT_TRUE(ini.Success());
    window.failOnTop = true;
    ini.LoadFormPosition(window);
    EXPECT_FALSE(window.moved.has_value());
    EXPECT_FALSE(ini.Success());
    expectFieldsRestored();
}

TEST_F(FormPosition, CurrentBoundsOutOfRangeAreCaught)
{
    window.l = 1e12;
    ini.LoadFormPosition(window);
    EXPECT_FALSE(window.moved.has_value());
    expectFieldsRestored();
}

TEST_F(FormPosition, SavedPlacementLoadsBack)
{
    window.l = 2000;
    window.t = 1000;
    ini.SaveFormPosition(window);
    FakeWindow other;
    ini.LoadFormPosition(other);
    EXPECT_EQ(other.moved, (Bounds { 2000, 1000, 6000, 4500 }));
    EXPECT_EQ(other.state, FormWindow::Normal);
}

} // namespace
