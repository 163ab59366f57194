// The two dialogs as Qt forms: their components by name and caption, the
// widgets following the logic, printing from the buttons, and the frame's
// windows that show them and find the browser.

#include "BrowserFiles.h"
#include "Bwin.h"
#include "CommandStates.h"
#include "Document.h"
#include "FileListBox.h"
#include "Fimp.h"
#include "FimpV.h"
#include "PrintTest.h"
#include "QtTestApp.h"
#include "PrintWindows.h"
#include "Printer.h"
#include "Thumbnails.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <filesystem>

using namespace prtest;
using testutil::TempDir;

namespace {

template <class W>
W* Find(QWidget& form, const char* name)
{
    W* widget = form.findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(FimpForm, ComponentsAndCaptions)
{
    App();
    TScriptedPrintDialog dialog;
    TFimp form(Printer(), dialog, [] { return nullptr; });
    EXPECT_EQ(form.size(), QSize(481, 377));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Find<QLabel>(form, "page")->size(), QSize(296, 296));
    EXPECT_EQ(Find<QGroupBox>(form, "GroupBox1")->title(), "TAILLE");
    EXPECT_EQ(Find<QRadioButton>(form, "Plein")->text(), "Pleine page");
    EXPECT_TRUE(Find<QRadioButton>(form, "Plein")->isChecked());
    EXPECT_EQ(Find<QRadioButton>(form, "demi")->text(), "Demi-page");
    EXPECT_EQ(Find<QRadioButton>(form, "quart")->text(), "Quart de page");
    EXPECT_EQ(Find<QPushButton>(form, "Deplacer")->text(), ">> DEPLACER >>");
    EXPECT_EQ(Find<QGroupBox>(form, "GroupBox2")->title(), "MARGES");
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->minimum(), 0);
    EXPECT_EQ(Find<QLabel>(form, "LabelH")->text(), "Horizontale :");
    EXPECT_EQ(Find<QLabel>(form, "LabelV")->text(), "Verticale :");
    EXPECT_EQ(Find<QGroupBox>(form, "GroupBox3")->title(), "PHOTO");
    EXPECT_EQ(Find<QLabel>(form, "dimensions")->text(), "dimensions");
    EXPECT_EQ(Find<QPushButton>(form, "LanceImp")->text(), "IMPRIMER");
    EXPECT_EQ(Find<QPushButton>(form, "annuler")->text(), "FERMER");
    Find<QWidget>(form, "Pimp");
}

TEST(FimpForm, ShowsTheActiveDocumentAndPrintsFromItsButton)
{
    App();
    TCommandStates states;
    TDocument document(states);
    document.SetPicture(Solid(160, 120, RGB(255, 0, 0)));
    document.Aspect = 0.75f;
    TempDir dir;
    TScriptedPrintDialog dialog;
    TPrinter printer;
    TFimp form(printer, dialog, [&document] { return &document; });
    form.show();
    EXPECT_EQ(Find<QLabel>(form, "LabelH")->text(), "Horizontale : 8 mm");
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->value(), 8);
    EXPECT_EQ(Find<QLabel>(form, "dimensions")->text(), "28,0 cm X 21,0 cm.");

    Find<QRadioButton>(form, "quart")->click();
    EXPECT_EQ(form.Logic().Mode, QuarterPage);
    EXPECT_EQ(Find<QLabel>(form, "dimensions")->text(), "14,0 cm X 10,5 cm.");
    Find<QSlider>(form, "Hmarge")->setValue(20);
    EXPECT_EQ(Find<QLabel>(form, "LabelH")->text(), "Horizontale : 20 mm");
    EXPECT_EQ(Find<QLabel>(form, "dimensions")->text(), "10,8 cm X 8,1 cm.");
    Find<QPushButton>(form, "Deplacer")->click();
    EXPECT_EQ(form.Logic().SlotIndex, 1);

    const std::string pdf = dir.File("page.pdf");
    dialog.Answers.push_back(pdf);
    Find<QPushButton>(form, "LanceImp")->click();
    EXPECT_TRUE(std::filesystem::exists(pdf));
    EXPECT_FALSE(form.Logic().Printing);

    Find<QPushButton>(form, "annuler")->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Logic().Picture(), nullptr);
}

TEST(FimpForm, ClickingTheModeAlreadyChosenKeepsSlotAndMargin)
{
    // A radio button reports a click only when it becomes checked: the
    // button already checked changes nothing.
    App();
    TCommandStates states;
    TDocument document(states);
    document.SetPicture(Solid(160, 120, RGB(255, 0, 0)));
    document.Aspect = 0.75f;
    TScriptedPrintDialog dialog;
    TFimp form(Printer(), dialog, [&document] { return &document; });
    form.show();
    auto* quart = Find<QRadioButton>(form, "quart");
    quart->click();
    Find<QSlider>(form, "Hmarge")->setValue(20);
    Find<QPushButton>(form, "Deplacer")->click();
    ASSERT_EQ(form.Logic().SlotIndex, 1);
    quart->click();
    EXPECT_TRUE(quart->isChecked());
    EXPECT_EQ(form.Logic().SlotIndex, 1);
    EXPECT_EQ(form.Logic().Margin, 20);
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->value(), 20);
    EXPECT_EQ(Find<QLabel>(form, "LabelH")->text().toStdString(), "Horizontale : 20 mm");

    // Another mode starts again from slot 0 without a margin.
    Find<QRadioButton>(form, "demi")->click();
    EXPECT_EQ(form.Logic().Mode, HalfPage);
    EXPECT_EQ(form.Logic().SlotIndex, 0);
    form.close();
}

TEST(FimpForm, SliderRangeFollowsTheMode)
{
    App();
    TCommandStates states;
    TDocument document(states);
    document.SetPicture(Solid(100, 150, RGB(255, 0, 0)));
    document.Aspect = 1.5f;
    TScriptedPrintDialog dialog;
    TFimp form(Printer(), dialog, [&document] { return &document; });
    form.show();
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->maximum(), 60);
    Find<QRadioButton>(form, "quart")->click();
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->maximum(), 52);
    Find<QSlider>(form, "Hmarge")->setValue(60);
    EXPECT_EQ(Find<QSlider>(form, "Hmarge")->value(), 52);
    EXPECT_EQ(Find<QLabel>(form, "LabelH")->text(), "Horizontale : 52 mm");
    form.close();
}

TEST(FimpVForm, ComponentsAndCaptions)
{
    App();
    TScriptedPrintDialog dialog;
    TFimpV form(Printer(), dialog, [] { return nullptr; });
    EXPECT_EQ(form.windowTitle(), "Planches photos");
    EXPECT_EQ(form.size(), QSize(233, 216));
    EXPECT_EQ(Find<QLabel>(form, "Imod")->geometry(), QRect(8, 32, 105, 148));
    EXPECT_EQ(Find<QLabel>(form, "Label1")->text(), "Taille ");
    auto* sizes = Find<QComboBox>(form, "taillesV");
    ASSERT_EQ(sizes->count(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(sizes->itemText(i).toStdString(), SheetSize(i).Text);
    EXPECT_EQ(sizes->currentIndex(), 0);
    EXPECT_EQ(Find<QLabel>(form, "Label5")->text(), "par page.");
    Find<QLabel>(form, "Label2");
    Find<QLabel>(form, "Label3");
    Find<QLabel>(form, "Label4");
    Find<QLabel>(form, "Label6");
    EXPECT_EQ(Find<QPushButton>(form, "Imprimer")->text(), "IMPRIMER");
    auto* labelP = Find<QLabel>(form, "labelP");
    EXPECT_TRUE(labelP->isHidden());
    EXPECT_EQ(labelP->geometry().topLeft(), Find<QPushButton>(form, "Imprimer")->geometry().topLeft());
}

TEST(FimpVForm, CountsFollowTheSizeAndPrintingClosesTheDialog)
{
    App();
    TempDir dir;
    TFakeBrowser browser;
    browser.Folder = dir.Path();
    for (int i = 0; i < 43; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bmp";
        SaveBmp(Solid(8, 6, RGB(0, 0, 255)), dir.File(name));
        browser.Names.push_back(name);
    }
    TScriptedPrintDialog dialog;
    TPrinter printer;
    TFimpV form(printer, dialog, [&browser] { return &browser; });
    form.show();
    EXPECT_EQ(Find<QLabel>(form, "Label6")->text(), "43 miniatures à imprimer.");
    EXPECT_EQ(Find<QLabel>(form, "Label2")->text(), "42");
    EXPECT_EQ(Find<QLabel>(form, "Label3")->text(), "2");
    EXPECT_EQ(Find<QLabel>(form, "Label4")->text(), "pages.");
    Find<QComboBox>(form, "taillesV")->setCurrentIndex(2);
    EXPECT_EQ(Find<QLabel>(form, "Label2")->text(), "12");
    EXPECT_EQ(Find<QLabel>(form, "Label3")->text(), "4");

    const std::string pdf = dir.File("sheets.pdf");
    dialog.Answers.push_back(pdf);
    Find<QPushButton>(form, "Imprimer")->click();
    EXPECT_TRUE(std::filesystem::exists(pdf));
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(Find<QPushButton>(form, "Imprimer")->isHidden());
    EXPECT_TRUE(Find<QLabel>(form, "labelP")->isHidden());

    // Shown again: the chosen size stays.
    form.show();
    EXPECT_EQ(Find<QComboBox>(form, "taillesV")->currentIndex(), 2);
    form.close();
}

// A window of the frame that is the browser, whatever its caption.
class TBrowserWindow : public QWidget, public IBrowserFileList {
public:
    std::string BrowseDirectory() const override { return "/photos"; }
    std::vector<std::string> BrowseFiles() const override { return {"a.jpg", "b.png"}; }
    std::vector<std::string> BrowseFilePaths() const override { return {"/photos/a.jpg", "/photos/b.png"}; }
};

TEST(PrintWindows, ShowsItsTwoDialogsAndPassesTheRestOn)
{
    App();
    struct TNext : TNoEditorWindows {
        bool Has(TEditorWindow window) const override { return window == TEditorWindow::Grey; }
    } next;
    TScriptedPrintDialog dialog;
    TPrintWindows windows(next, Printer(), dialog);
    EXPECT_TRUE(windows.Has(TEditorWindow::Print));
    EXPECT_TRUE(windows.Has(TEditorWindow::ContactSheet));
    EXPECT_TRUE(windows.Has(TEditorWindow::Grey));
    EXPECT_FALSE(windows.Has(TEditorWindow::Contrast));
    EXPECT_EQ(&windows.Fimp(), &windows.Fimp());
    EXPECT_EQ(&windows.FimpV(), &windows.FimpV());
}

TEST(PrintWindows, TheBrowserIsFoundByItsTypeNotItsCaption)
{
    App();
    TScriptedPrintDialog dialog;
    TNoEditorWindows next;
    TPrintWindows windows(next, Printer(), dialog);
    QMdiArea area;
    auto* document = new QWidget;
    area.addSubWindow(document)->setWindowTitle("Parcourir");
    EXPECT_EQ(windows.BrowserIn(area), nullptr);
    area.addSubWindow(new TBrowserWindow)->setWindowTitle("Autre");
    IContactSheetSource* source = windows.BrowserIn(area);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Directory(), "/photos");
    EXPECT_EQ(source->FileNames(), (std::vector<std::string>{"a.jpg", "b.png"}));
}

TEST(PrintWindows, ContactSheetsOfWhatTheRealBrowserShows)
{
    App();
    TempDir dir;
    const std::string folder = dir.File("photos");
    std::filesystem::create_directory(folder);
    SaveBmp(Solid(20, 10, RGB(0, 0, 255)), folder + "/plage.bmp");
    SaveBmp(Solid(10, 20, RGB(0, 0, 255)), folder + "/montagne.bmp");

    QMdiArea area;
    // A document window that happens to carry the browser's caption.
    area.addSubWindow(new QWidget)->setWindowTitle("Parcourir");
    TBrowserHost host;
    auto* browser = new TBW(host);
    area.addSubWindow(browser)->resize(410, 317);
    area.resize(800, 600);
    area.show();
    ASSERT_TRUE(testqt::WaitFor([browser] { return !browser->FirstPaintPending(); }, 5000));
    browser->FL()->SetMask(BrowseMask);
    browser->FL()->SetDirectory(folder);
    browser->FinishTiles();
    ASSERT_EQ(browser->ThumbCount(), 2);
    // A picture saved into the folder since it was read has its tile, and
    // its cell on the sheets.
    SaveBmp(Solid(30, 10, RGB(0, 0, 255)), folder + "/riviere.bmp");
    browser->Ajoutevignette(folder + "/riviere.bmp");
    ASSERT_EQ(browser->ThumbCount(), 3);

    TScriptedPrintDialog dialog;
    TPrinter printer;
    TNoEditorWindows next;
    TPrintWindows windows(next, printer, dialog);
    windows.FindBrowser = [&windows, &area] { return windows.BrowserIn(area); };
    TContactSheets& sheets = windows.FimpV().Logic();
    sheets.UpdateSheetInfo();
    EXPECT_EQ(sheets.Label6, "3 miniatures à imprimer.");
    const std::string pdf = dir.File("planche.pdf");
    dialog.Answers.push_back(pdf);
    ASSERT_TRUE(sheets.ImprimerClick());
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("plage"), std::string::npos);
    EXPECT_NE(text.find("montagne"), std::string::npos);
    EXPECT_NE(text.find("riviere"), std::string::npos);
    EXPECT_NE(text.find(folder), std::string::npos);
}

} // namespace
