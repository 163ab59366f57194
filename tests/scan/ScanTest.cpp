// The scan commands with their dialogs, over SANE's `test` backend: the
// frame's scan opens the page as a new document, errors are told, cancels
// are silent, and the dialogs carry what the device offers.

#include "QtTestApp.h"
#include "SaneTestSetup.h"
#include "SaneWatchdog.h"
#include "TestUtil.h"

#include "ChildWin.h"
#include "MainForm.h"
#include "ScanDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

using testutil::TSettings;

namespace {

// Answers the scan's windows as a test sets them.
class TScriptedScanDialogs : public IScanDialogs {
public:
    int ChooseDevice(const std::vector<TScannerDevice>& devices, int current) override
    {
        Listed = devices;
        Current = current;
        return Choice;
    }
    bool EditOptions(TSaneDevice& device, const TScannerDevice& info) override
    {
        Opened.push_back(info.Name);
        if (const auto mode = device.Find("mode"))
            ModesShown.push_back(device.GetString(*mode));
        for (const auto& [name, value] : Settings)
            device.Set(name, value);
        return Accept;
    }
    TScanProgress BeginProgress(const TScannerDevice&) override
    {
        ++Begun;
        return [this, settle = testutil::SettledProgress()](double fraction) mutable {
            settle(fraction);
            return ++Reports <= CancelAfter || CancelAfter < 0;
        };
    }
    void EndProgress() override { ++Ended; }

    int Choice = -1;
    bool Accept = true;
    TSettings Settings;
    int CancelAfter = -1; // reports before Cancel; -1: never
    std::vector<TScannerDevice> Listed;
    int Current = -2;
    std::vector<std::string> Opened;
    // The device's mode as its settings were shown.
    std::vector<std::string> ModesShown;
    int Begun = 0, Ended = 0, Reports = 0;
};

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testutil::SaneTest();
        testqt::App();
        testqt::ResetScripts();
        TMainFormServices services;
        services.Scanner = &Scanner;
        Form = std::make_unique<TMainForm>(services);
        Form->resize(1024, 768);
    }
    void TearDown() override
    {
        testutil::SaneTest().SetBackends("test\n");
        Form.reset();
        TApplication::ProcessMessages();
    }

    TScriptedScanDialogs Dialogs;
    TSaneScanner Scanner{testqt::Boxes(), Dialogs};
    std::unique_ptr<TMainForm> Form;
};

TEST_F(ScanTest, ScannedPageBecomesANewUntitledDocument)
{
    testutil::RunWatched([&] {
        Dialogs.Settings = {{"mode", "Color"}, {"test-picture", "Color pattern"}};
        Form->Frame().bscanClick();
        ASSERT_EQ(Form->DocumentWindows().size(), 1u);
        TDocument* document = Form->ActiveDocumentWindow()->Document();
        EXPECT_EQ(document->FileName, "Sans nom");
        EXPECT_TRUE(document->Modified);
        const TBitmap& picture = document->Picture();
        EXPECT_EQ(picture.PixelFormat(), pf24bit);
        testutil::ExpectSamePage(picture, testutil::ScanimagePage("test:0", Dialogs.Settings));
        EXPECT_EQ(Dialogs.Begun, 1);
        EXPECT_EQ(Dialogs.Ended, 1);
        EXPECT_TRUE(testqt::Boxes().Calls.empty());
    });
}

TEST_F(ScanTest, TheDeviceIsAskedForAColourPage)
{
    testutil::RunWatched([&] {
        // The device starts in grey; only its picture is set here.
        Dialogs.Settings = {{"test-picture", "Color pattern"}};
        Form->Frame().bscanClick();
        ASSERT_EQ(Form->DocumentWindows().size(), 1u);
        EXPECT_EQ(Dialogs.ModesShown, (std::vector<std::string>{"Color"}));
        testutil::ExpectSamePage(Form->ActiveDocumentWindow()->Document()->Picture(),
                                 testutil::ScanimagePage("test:0", {{"mode", "Color"}, {"test-picture", "Color pattern"}}));

        // The device's settings can still choose another mode.
        Dialogs.Settings = {{"mode", "Gray"}, {"test-picture", "Color pattern"}};
        Form->Frame().bscanClick();
        ASSERT_EQ(Form->DocumentWindows().size(), 2u);
        testutil::ExpectSamePage(Form->ActiveDocumentWindow()->Document()->Picture(),
                                 testutil::ScanimagePage("test:0", Dialogs.Settings));
        EXPECT_TRUE(testqt::Boxes().Calls.empty());
    });
}

TEST_F(ScanTest, TheChosenDeviceIsRememberedForLaterScans)
{
    testutil::RunWatched([&] {
        Dialogs.Choice = 1;
        Form->Frame().bsourcescanClick();
        ASSERT_EQ(Dialogs.Listed.size(), 2u);
        EXPECT_EQ(Dialogs.Current, -1);
        EXPECT_EQ(Scanner.Chosen(), "test:1");
        Form->Frame().bsourcescanClick();
        EXPECT_EQ(Dialogs.Current, 1);
        // Cancelling the list keeps the choice.
        Dialogs.Choice = -1;
        Form->Frame().bsourcescanClick();
        EXPECT_EQ(Scanner.Chosen(), "test:1");
        Form->Frame().bscanClick();
        EXPECT_EQ(Dialogs.Opened, (std::vector<std::string>{"test:1"}));
        EXPECT_EQ(Form->DocumentWindows().size(), 1u);
    });
}

TEST_F(ScanTest, CancelsOpenNothingAndSayNothing)
{
    testutil::RunWatched([&] {
        Dialogs.Accept = false;
        Form->Frame().bscanClick();
        EXPECT_EQ(Dialogs.Begun, 0);
        Dialogs.Accept = true;
        Dialogs.Settings = {{"resolution", "300"}, {"read-limit", "true"}, {"read-limit-size", "500"}};
        Dialogs.CancelAfter = 3;
        Form->Frame().bscanClick();
        EXPECT_EQ(Dialogs.Reports, 4);
        EXPECT_EQ(Dialogs.Ended, 1);
        EXPECT_TRUE(Form->DocumentWindows().empty());
        EXPECT_TRUE(testqt::Boxes().Calls.empty());
    });
}

TEST_F(ScanTest, DeviceErrorsAreToldAndOpenNothing)
{
    testutil::RunWatched([&] {
        Dialogs.Settings = {{"read-return-value", "SANE_STATUS_JAMMED"}};
        Form->Frame().bscanClick();
        EXPECT_TRUE(Form->DocumentWindows().empty());
        ASSERT_EQ(testqt::Boxes().Calls.size(), 1u);
        const auto& call = testqt::Boxes().Calls[0];
        EXPECT_EQ(call.Type, mtError);
        EXPECT_EQ(call.Text, "Le scanneur \u00AB test:0 \u00BB signale une erreur : " + SaneStatusText(SANE_STATUS_JAMMED));
        EXPECT_EQ(Dialogs.Ended, 1);
    });
}

TEST_F(ScanTest, PageBeyondThePixelBudgetIsToldAndOpensNothing)
{
    testutil::RunWatched([&] {
        {
            const testutil::PixelBudgetGuard budget(10000);
            // With a read limit the backend starts its reader at the first
            // read: the page is refused before, and no reader is stopped midway.
            Dialogs.Settings = {{"read-limit", "true"}, {"read-limit-size", "65536"}};
            Form->Frame().bscanClick();
        }
        EXPECT_TRUE(Form->DocumentWindows().empty());
        ASSERT_EQ(testqt::Boxes().Calls.size(), 1u);
        EXPECT_EQ(testqt::Boxes().Calls[0].Type, mtError);
        const std::string& text = testqt::Boxes().Calls[0].Text;
        EXPECT_EQ(text.rfind("Le scanneur \u00AB test:0 \u00BB : Image trop grande : ", 0), 0u) << text;
        EXPECT_NE(text.find("d\u00E9passent la limite de 10000 pixels"), std::string::npos) << text;
    });
}

TEST_F(ScanTest, WithoutAnyScannerTheCommandsSaySo)
{
    testutil::RunWatched([&] {
        testutil::SaneTest().SetBackends("");
        Form->Frame().bsourcescanClick();
        Form->Frame().bscanClick();
        EXPECT_TRUE(Form->DocumentWindows().empty());
        ASSERT_EQ(testqt::Boxes().Calls.size(), 2u);
        for (const auto& call : testqt::Boxes().Calls) {
            EXPECT_EQ(call.Text, "Aucun scanneur n'a \u00E9t\u00E9 trouv\u00E9.");
            EXPECT_EQ(call.Type, mtInformation);
        }
        EXPECT_TRUE(Dialogs.Opened.empty());
    });
}

TEST_F(ScanTest, DeviceListShowsVendorModelAndName)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        const auto devices = session.Devices();
        TDeviceDialog dialog(devices, 1);
        EXPECT_EQ(dialog.windowTitle(), "Choix du scanneur");
        ASSERT_EQ(dialog.Liste->count(), 2);
        EXPECT_EQ(dialog.Liste->item(0)->text().toStdString(), devices[0].Vendor + " " + devices[0].Model + " (test:0)");
        EXPECT_EQ(dialog.Chosen(), 1);
    });
}

TEST_F(ScanTest, SettingsDialogIsBuiltFromTheDevicesOptions)
{
    testutil::RunWatched([&] {
        TSaneSession session;
        TSaneDevice device("test:0");
        TScannerDevice info{"test:0", "Noname", "frontend-tester", "virtual device"};
        TScanOptionsDialog dialog(device, info, testqt::Boxes());
        // Mode, resolution and the scan area at least.
        auto* mode = qobject_cast<QComboBox*>(dialog.Control("mode"));
        ASSERT_TRUE(mode);
        EXPECT_EQ(mode->currentText(), "Gray");
        for (const char* name : {"resolution", "tl-x", "tl-y", "br-x", "br-y"})
            EXPECT_TRUE(qobject_cast<QDoubleSpinBox*>(dialog.Control(name))) << name;
        auto* threePass = qobject_cast<QCheckBox*>(dialog.Control("three-pass"));
        ASSERT_TRUE(threePass);
        EXPECT_FALSE(threePass->isEnabled());

        // Colour makes three-pass settable: the controls follow the device.
        mode->setCurrentIndex(mode->findText("Color"));
        emit mode->activated(mode->currentIndex());
        EXPECT_EQ(device.GetString(*device.Find("mode")), "Color");
        threePass = qobject_cast<QCheckBox*>(dialog.Control("three-pass"));
        ASSERT_TRUE(threePass);
        EXPECT_TRUE(threePass->isEnabled());

        dialog.show();
        auto* resolution = qobject_cast<QDoubleSpinBox*>(dialog.Control("resolution"));
        EXPECT_EQ(resolution->minimum(), 1);
        EXPECT_EQ(resolution->maximum(), 1200);
        resolution->setValue(75);
        emit resolution->editingFinished();
        EXPECT_EQ(device.GetNumber(*device.Find("resolution")), 75);
        const auto page = device.Scan();
        ASSERT_TRUE(page);
        EXPECT_EQ(page->Width(), 236);  // 80 mm at 75 dpi
        EXPECT_EQ(page->Height(), 295); // 100 mm
        EXPECT_TRUE(testqt::Boxes().Calls.empty());
    });
}

TEST_F(ScanTest, ProgressShowsTheShareReadAndCancels)
{
    TQtScanDialogs dialogs(testqt::Boxes());
    TScanProgress progress = dialogs.BeginProgress({"test:0", "Noname", "frontend-tester", ""});
    ASSERT_TRUE(dialogs.Progress());
    auto* cancel = dialogs.Progress()->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->text(), "Annuler");
    EXPECT_TRUE(progress(0.5));
    EXPECT_EQ(dialogs.Progress()->value(), 500);
    EXPECT_TRUE(progress(-1));
    EXPECT_EQ(dialogs.Progress()->maximum(), 0); // unknown height: busy bar
    dialogs.Progress()->cancel();
    EXPECT_FALSE(progress(0.6));
    dialogs.EndProgress();
    EXPECT_FALSE(dialogs.Progress());
    EXPECT_FALSE(progress(0.7));
}

} // namespace
