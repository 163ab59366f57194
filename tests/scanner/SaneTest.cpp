// Scanning from SANE's `test` backend, checked against the pages scanimage
// reads from the same virtual device with the same settings.

#include "AllocationCount.h"
#include "Sane.h"
#include "SaneTestSetup.h"
#include "SaneWatchdog.h"
#include "TestUtil.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sstream>
#include <utility>

namespace {

using testutil::TSettings;

class SaneTest : public ::testing::Test {
protected:
    const testutil::SaneTestConfig& Config = testutil::SaneTest();

    testutil::RgbImage Oracle(const std::string& device, const TSettings& settings)
    {
        return testutil::ScanimagePage(device, settings);
    }

    // The page our code reads from the device with these settings.
    std::unique_ptr<TBitmap> Ours(const std::string& device, const TSettings& settings,
                                  const TScanProgress& progress = TScanProgress())
    {
        TSaneSession session;
        TSaneDevice scanner(device);
        for (const auto& [name, value] : settings)
            scanner.Set(name, value);
        return scanner.Scan(progress);
    }

    // Scans with both and compares sizes first, then every pixel.
    // height -1: any, as scanimage found it.
    void ExpectSameAsScanimage(const TSettings& settings, TPixelFormat format, int width = 157, int height = 196)
    {
        const testutil::RgbImage expected = Oracle("test:0", settings);
        ASSERT_EQ(expected.Width, width);
        if (height >= 0) {
            ASSERT_EQ(expected.Height, height);
        }
        ASSERT_GT(expected.Height, 0);
        const std::unique_ptr<TBitmap> page = Ours("test:0", settings);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->PixelFormat(), format);
        testutil::ExpectSamePage(*page, expected);
    }
};

TEST_F(SaneTest, ListsTheVirtualDevices)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        const std::vector<TScannerDevice> devices = session.Devices();
        ASSERT_EQ(devices.size(), 2u);
        EXPECT_EQ(devices[0].Name, "test:0");
        EXPECT_EQ(devices[1].Name, "test:1");
        EXPECT_EQ(devices[0].DisplayName(), devices[0].Vendor + " " + devices[0].Model + " (test:0)");
    });
}

TEST_F(SaneTest, OptionsCanBeReadAndSet)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        TSaneDevice scanner("test:0");
        const auto mode = scanner.Find("mode");
        ASSERT_TRUE(mode);
        EXPECT_EQ(mode->Constraint, TScanOption::TConstraint::StringList);
        EXPECT_EQ(scanner.GetString(*mode), "Gray");
        scanner.Set("mode", "Color");
        EXPECT_EQ(scanner.GetString(*mode), "Color");
        const auto resolution = scanner.Find("resolution");
        ASSERT_TRUE(resolution);
        scanner.Set("resolution", "75");
        EXPECT_EQ(scanner.GetNumber(*resolution), 75.0);
        EXPECT_THROW(scanner.Set("no-such-option", "1"), ESaneError);
        EXPECT_THROW(scanner.Set("resolution", "beaucoup"), ESaneError);
        // Inactive until three-pass colour makes sense.
        EXPECT_THROW(scanner.Set("three-pass-order", "BGR"), ESaneError);
    });
}

TEST_F(SaneTest, ColourPage)
{
    testutil::RunWatched([&] {
        ExpectSameAsScanimage({{"mode", "Color"}, {"test-picture", "Color pattern"}}, pf24bit);
    });
}

TEST_F(SaneTest, GreyPage)
{
    testutil::RunWatched([&] {
        ExpectSameAsScanimage({{"mode", "Gray"}, {"test-picture", "Color pattern"}}, pf8bit);
        const auto page = Ours("test:0", {{"mode", "Gray"}});
        ASSERT_TRUE(page);
        const TPalette palette = page->GetPalette();
        ASSERT_EQ(palette.size(), 256u);
        for (int i = 0; i < 256; ++i)
            ASSERT_TRUE(palette[i].peRed == i && palette[i].peGreen == i && palette[i].peBlue == i) << i;
    });
}

TEST_F(SaneTest, LineArtPage)
{
    testutil::RunWatched([&] {
        ExpectSameAsScanimage({{"mode", "Gray"}, {"depth", "1"}, {"test-picture", "Grid"}}, pf1bit);
        // Solid black by hand: every pixel black, none white.
        const auto page = Ours("test:0", {{"mode", "Gray"}, {"depth", "1"}, {"test-picture", "Solid black"}});
        ASSERT_TRUE(page);
        ASSERT_EQ(page->Width(), 157);
        ASSERT_EQ(page->Height(), 196);
        for (int y = 0; y < page->Height(); ++y)
            for (int x = 0; x < page->Width(); ++x)
                ASSERT_EQ(page->GetPixelColor(x, y), 0x000000u) << x << "," << y;
    });
}

TEST_F(SaneTest, SixteenBitSamplesKeepTheirHighByte)
{
    testutil::RunWatched([&] {
        ExpectSameAsScanimage({{"mode", "Color"}, {"depth", "16"}, {"test-picture", "Color pattern"}}, pf24bit);
        ExpectSameAsScanimage({{"mode", "Gray"}, {"depth", "16"}, {"test-picture", "Color pattern"}}, pf8bit);
    });
}

TEST_F(SaneTest, ThreePassFramesAreMerged)
{
    testutil::RunWatched([&] {
        const TSettings onePass{{"mode", "Color"}, {"test-picture", "Color pattern"}};
        TSettings threePass = onePass;
        threePass.push_back({"three-pass", "true"});
        ExpectSameAsScanimage(threePass, pf24bit);
        threePass.push_back({"three-pass-order", "BGR"});
        const auto merged = Ours("test:0", threePass);
        const auto single = Ours("test:0", onePass);
        ASSERT_TRUE(merged && single);
        EXPECT_TRUE(testutil::SamePixels(*merged, *single));
    });
}

TEST_F(SaneTest, HandScannerPageGrowsToTheEndOfItsData)
{
    testutil::RunWatched([&] {
        // A hand scanner's page is 11 cm wide: 216 pixels at 50 dpi.
        ExpectSameAsScanimage({{"mode", "Color"}, {"hand-scanner", "true"}, {"test-picture", "Color pattern"}}, pf24bit,
                              216, -1);
    });
}

TEST_F(SaneTest, CancelDuringReadingGivesNothingAndFreesTheDevice)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        TSaneDevice scanner("test:0");
        scanner.Set("mode", "Color");
        scanner.Set("resolution", "200");
        scanner.Set("read-limit", "true");
        scanner.Set("read-limit-size", "1000");
        int calls = 0;
        double last = 0;
        const auto page = scanner.Scan([&](double fraction) {
            last = fraction;
            return ++calls < 5;
        });
        EXPECT_FALSE(page);
        EXPECT_EQ(calls, 5);
        EXPECT_GT(last, 0.0);
        EXPECT_LT(last, 0.1);
        // The device scans again after the cancel.
        scanner.Set("resolution", "50");
        const auto next = scanner.Scan();
        ASSERT_TRUE(next);
        EXPECT_EQ(next->Width(), 157);
        EXPECT_EQ(next->Height(), 196);
    });
}

TEST_F(SaneTest, ForcedReadErrorsAreReportedWithTheDeviceAndSanesText)
{
    testutil::RunWatched([&] {
        const std::pair<const char*, SANE_Status> errors[] = {
            {"SANE_STATUS_JAMMED", SANE_STATUS_JAMMED},           {"SANE_STATUS_IO_ERROR", SANE_STATUS_IO_ERROR},
            {"SANE_STATUS_NO_MEM", SANE_STATUS_NO_MEM},           {"SANE_STATUS_DEVICE_BUSY", SANE_STATUS_DEVICE_BUSY},
            {"SANE_STATUS_NO_DOCS", SANE_STATUS_NO_DOCS},         {"SANE_STATUS_COVER_OPEN", SANE_STATUS_COVER_OPEN},
            {"SANE_STATUS_ACCESS_DENIED", SANE_STATUS_ACCESS_DENIED}, {"SANE_STATUS_INVAL", SANE_STATUS_INVAL},
            {"SANE_STATUS_UNSUPPORTED", SANE_STATUS_UNSUPPORTED},
        };
        for (const auto& [value, status] : errors) {
            SCOPED_TRACE(value);
            try {
                Ours("test:1", {{"read-return-value", value}}, testutil::SettledProgress());
                ADD_FAILURE() << "no error";
            } catch (const ESaneError& e) {
                EXPECT_EQ(e.Status, status);
                EXPECT_EQ(e.Device, "test:1");
                EXPECT_EQ(e.Message, "Le scanneur \u00AB test:1 \u00BB signale une erreur : " + SaneStatusText(status));
            }
        }
        // A cancel from the device is silent.
        EXPECT_FALSE(Ours("test:1", {{"read-return-value", "SANE_STATUS_CANCELLED"}}, testutil::SettledProgress()));
        // An end of data before any byte: no page, and the user is told.
        try {
            Ours("test:1", {{"read-return-value", "SANE_STATUS_EOF"}}, testutil::SettledProgress());
            ADD_FAILURE() << "no error";
        } catch (const ESaneError& e) {
            EXPECT_EQ(e.Message, "Le scanneur \u00AB test:1 \u00BB n'a envoy\u00E9 aucune image.");
        }
    });
}

TEST_F(SaneTest, MissingDeviceIsAnError)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        try {
            TSaneDevice scanner("test:7");
            ADD_FAILURE() << "opened";
        } catch (const ESaneError& e) {
            EXPECT_NE(e.Status, SANE_STATUS_GOOD);
            EXPECT_NE(e.Message.find("\u00AB test:7 \u00BB n'a pas pu \u00EAtre ouvert"), std::string::npos) << e.Message;
        }
    });
}

// Every bitmap and buffer is given back after a page, an error and a
// cancel: the blocks held after 100 scans are those held before. Run under
// AddressSanitizer it shows the same for every device (`make leakcheck`).
TEST_F(SaneTest, RepeatedScansGiveEverythingBack)
{
    testutil::RunWatched([&] {
        long long before = 0;
        for (int i = 0; i < 100; ++i) {
            if (i == 10)
                before = LiveAllocations(); // once every path ran and set up what it keeps for good
            SCOPED_TRACE(i);
            const std::string device = i % 2 ? "test:1" : "test:0";
            TSettings settings{{"mode", i % 3 ? "Color" : "Gray"}, {"resolution", "10"}};
            if (i % 5 == 0)
                settings.push_back({"read-return-value", "SANE_STATUS_IO_ERROR"});
            try {
                const auto page = Ours(device, settings, testutil::SettledProgress(i % 7 != 3));
                if (i % 7 == 3)
                    EXPECT_FALSE(page);
                else
                    EXPECT_TRUE(page);
            } catch (const ESaneError& e) {
                EXPECT_EQ(i % 5, 0) << e.Message;
            }
        }
        EXPECT_EQ(LiveAllocations(), before);
    });
}

// ---------------------------------------------------------------------------
// Frames built by hand: what a faulty device may send.

TFrameParameters Grey8(long long width, long long lines, long long bytesPerLine = 0)
{
    return {SANE_FRAME_GRAY, true, bytesPerLine ? bytesPerLine : width, width, lines, 8};
}

TEST(PageAssemblerTest, ExtraBytesAreCutMissingLinesAreWhite)
{
    TPageAssembler page("x");
    page.BeginFrame(Grey8(4, 2));
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    page.Add(bytes.data(), bytes.size());
    page.EndFrame();
    auto bitmap = page.Result();
    ASSERT_EQ(bitmap->Width(), 4);
    ASSERT_EQ(bitmap->Height(), 2);
    EXPECT_EQ(bitmap->ScanLine(1)[3], 8);

    TPageAssembler shortPage("x");
    shortPage.BeginFrame(Grey8(4, 3));
    shortPage.Add(bytes.data(), 6);
    shortPage.EndFrame();
    bitmap = shortPage.Result();
    ASSERT_EQ(bitmap->Height(), 3);
    EXPECT_EQ(bitmap->ScanLine(1)[1], 6);
    EXPECT_EQ(bitmap->ScanLine(1)[2], 255);
    EXPECT_EQ(bitmap->ScanLine(2)[0], 255);
}

TEST(PageAssemblerTest, UnknownHeightGrowsAndSkipsLinePadding)
{
    // Lines of 3 pixels in 5 bytes: the last two of each are not pixels.
    TPageAssembler page("x");
    page.BeginFrame(Grey8(3, -1, 5));
    const std::vector<std::uint8_t> bytes{1, 2, 3, 0, 0, 4, 5, 6, 0, 0, 7};
    for (std::uint8_t b : bytes)
        page.Add(&b, 1);
    EXPECT_EQ(page.LinesReceived(), 3);
    page.EndFrame();
    const auto bitmap = page.Result();
    ASSERT_EQ(bitmap->Width(), 3);
    ASSERT_EQ(bitmap->Height(), 3);
    EXPECT_EQ(bitmap->ScanLine(1)[2], 6);
    EXPECT_EQ(bitmap->ScanLine(2)[0], 7);
    EXPECT_EQ(bitmap->ScanLine(2)[1], 255);
}

TEST(PageAssemblerTest, ImpossibleParametersAreRefused)
{
    TPageAssembler page("x");
    EXPECT_THROW(page.BeginFrame(Grey8(0, 10)), ESaneError);
    EXPECT_THROW(page.BeginFrame(Grey8(10, 10, 9)), ESaneError);  // line shorter than its pixels
    EXPECT_THROW(page.BeginFrame({SANE_FRAME_GRAY, true, 10, 10, 10, 4}), ESaneError);
    EXPECT_THROW(page.BeginFrame(Grey8(10, -2)), ESaneError);
    const TPixelBudgetScope budget(1000);
    EXPECT_THROW(page.BeginFrame(Grey8(100, 11)), EOutOfMemory);
    // Unknown height: the budget stops the growth.
    TPageAssembler growing("x");
    growing.BeginFrame(Grey8(100, -1));
    const std::vector<std::uint8_t> line(100, 0);
    for (int i = 0; i < 10; ++i)
        growing.Add(line.data(), line.size());
    EXPECT_THROW(growing.Add(line.data(), 1), EOutOfMemory);
}

TEST(PageAssemblerTest, ThreePassNeedsAllThreeColours)
{
    TPageAssembler page("x");
    const std::uint8_t red[2] = {10, 20};
    const std::uint8_t blue[2] = {30, 40};
    page.BeginFrame({SANE_FRAME_RED, false, 2, 2, 1, 8});
    page.Add(red, 2);
    page.EndFrame();
    page.BeginFrame({SANE_FRAME_BLUE, false, 2, 2, 1, 8});
    page.Add(blue, 2);
    page.EndFrame();
    EXPECT_THROW(page.Result(), ESaneError);
    EXPECT_THROW(page.BeginFrame({SANE_FRAME_GREEN, true, 3, 3, 1, 8}), ESaneError);  // another width
    // The green frame pads its line to 6 bytes: its own line length counts.
    const std::uint8_t green[12] = {50, 60, 0, 0, 0, 0, 70, 80, 0, 0, 0, 0};
    page.BeginFrame({SANE_FRAME_GREEN, true, 6, 2, 2, 8});
    page.Add(green, 12);
    page.EndFrame();
    const auto bitmap = page.Result();
    ASSERT_EQ(bitmap->Width(), 2);
    ASSERT_EQ(bitmap->Height(), 2); // the longest frame; the others' missing line is white
    EXPECT_EQ(bitmap->GetPixelColor(1, 0), 0x283C14u); // 0x00BBGGRR: blue 40, green 60, red 20
    EXPECT_EQ(bitmap->GetPixelColor(1, 1), 0xFF50FFu); // green 80
}

} // namespace

namespace {

// What goes wrong in a watched case's process fails the case.
TEST(WatchdogTest, FailuresInTheCasesProcessFailTheCase)
{
    EXPECT_NONFATAL_FAILURE(testutil::RunWatched([] { ADD_FAILURE() << "a failure on purpose"; }),
                            "the case failed in its process");
    EXPECT_FATAL_FAILURE(testutil::RunWatched([] { std::raise(SIGKILL); }), "died of signal 9");
}

} // namespace
