// kavrel's window offscreen: how its controls couple, the folder and file
// lists, and a conversion run driven from the form.

#include "FileListBox.h"
#include "KavrelTest.h"
#include "Shell.h"
#include "TestUtil.h"
#include "Unit1.h"
#include "Unit2.h"

#include <gtest/gtest.h>

#include <QMouseEvent>

#include <filesystem>

using namespace kaveltest;
namespace fs = std::filesystem;

namespace {

class TTempNamespace : public TShellNamespace {
public:
    std::string Desktop;
    std::vector<TVolume> Vols;
    std::string DesktopPath() const override { return Desktop; }
    std::vector<TVolume> Volumes() const override { return Vols; }
    std::vector<TVolume> NetworkVolumes() const override { return {}; }
};

QColor TextColor(const QWidget* w)
{
    return w->palette().color(QPalette::WindowText);
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        Boxes().Calls.clear();
        Boxes().Answers.clear();
        Ns = std::make_shared<TTempNamespace>();
        Ns->Desktop = Tmp.File("Bureau");
        fs::create_directories(Ns->Desktop);
        fs::create_directories(Tmp.File("vol/photos"));
        fs::create_directories(Tmp.File("vol/vide"));
        Ns->Vols = {{Tmp.File("vol") + "/", "Disque", false, false}};
        Form = std::make_unique<TForm1>(nullptr, Ns);
    }

    std::string Photos(const std::string& name = "") const
    {
        return name.empty() ? Tmp.File("vol/photos") : Tmp.File("vol/photos/" + name);
    }

    // Five photos: three JPEG, one named in capitals, one PNG.
    void MakePhotos()
    {
        ASSERT_TRUE(MakeJpeg(Photos("a.jpg"), 400, 300));
        ASSERT_TRUE(MakeJpeg(Photos("b.jpg"), 300, 400));
        ASSERT_TRUE(MakeJpeg(Photos("IMG_0001.JPG"), 200, 200));
        ASSERT_TRUE(MakeJpeg(Photos("c.jpg"), 64, 64));
        testutil::Run(testutil::Tool("convert") + " -size 10x10 xc:red " + testutil::Quote(Photos("d.png")));
    }

    testutil::TempDir Tmp;
    std::shared_ptr<TTempNamespace> Ns;
    std::unique_ptr<TForm1> Form;
};

} // namespace

TEST_F(FormTest, StartsAsDesigned)
{
    EXPECT_EQ(Form->windowTitle().toStdString(), "Kavrel");
    EXPECT_EQ(Form->size(), QSize(558, 432));
    EXPECT_TRUE(Form->Raucune->isChecked());
    EXPECT_EQ(TextColor(Form->Raucune), QColor(Qt::blue));
    EXPECT_FALSE(Form->ML->isEnabled());
    EXPECT_EQ(Form->ML->maxLength(), 4);
    EXPECT_TRUE(Form->Filtre->isChecked());
    EXPECT_EQ(Form->TB->value(), 85);
    EXPECT_EQ(Form->UD->value(), 85);
    EXPECT_EQ(Form->Edit1->text().toStdString(), "85");
    EXPECT_EQ(Form->Label6->text().toStdString(), " ");
    EXPECT_EQ(Form->Liste->Mask(), "*.jpg");
    EXPECT_TRUE(Form->Liste->MultiSelect());
    EXPECT_TRUE(Form->FL->Active());
    EXPECT_EQ(Form->SpeedButton2->toolTip().toStdString(), "A propos de Kavrel");
    EXPECT_EQ(Form->SpeedButton1->text().toStdString(), "KAVREL !");
}

TEST_F(FormTest, QualityControlsFollowEachOther)
{
    Form->TB->setValue(40);
    EXPECT_EQ(Form->UD->value(), 40);
    EXPECT_EQ(Form->Edit1->text().toStdString(), "40");
    Form->UD->stepUp();
    EXPECT_EQ(Form->TB->value(), 41);
    EXPECT_EQ(Form->Edit1->text().toStdString(), "41");
    Form->UD->setValue(100);
    Form->UD->stepUp(); // no wrap
    EXPECT_EQ(Form->UD->value(), 100);
    EXPECT_EQ(Form->TB->value(), 100);
    EXPECT_EQ(Form->Edit1->text().toStdString(), "100");
}

TEST_F(FormTest, SizeRadiosEnableTheFieldAndColourTheChoice)
{
    Form->Rlargeur->click();
    EXPECT_TRUE(Form->ML->isEnabled());
    EXPECT_EQ(TextColor(Form->Rlargeur), QColor(Qt::blue));
    EXPECT_EQ(TextColor(Form->Raucune), QColor(Qt::black));
    EXPECT_EQ(Form->SizeMode(), smWidth);
    Form->Rhauteur->click();
    EXPECT_EQ(TextColor(Form->Rhauteur), QColor(Qt::blue));
    EXPECT_EQ(TextColor(Form->Rlargeur), QColor(Qt::black));
    EXPECT_EQ(Form->SizeMode(), smHeight);
    Form->Rmaxi->click();
    EXPECT_EQ(Form->SizeMode(), smMaximum);
    EXPECT_TRUE(Form->ML->isEnabled());
    Form->Raucune->click();
    EXPECT_FALSE(Form->ML->isEnabled());
    EXPECT_EQ(TextColor(Form->Rmaxi), QColor(Qt::black));
    EXPECT_EQ(Form->SizeMode(), smOriginal);
}

TEST_F(FormTest, FolderChoiceFillsTheListAndTheStatusLine)
{
    MakePhotos();
    ASSERT_TRUE(Form->FL->SelectPath(Photos()));
    ASSERT_EQ(Form->Liste->Count(), 4);
    EXPECT_EQ(Form->Liste->Items(0), "a.jpg");
    EXPECT_EQ(Form->Liste->Items(3), "IMG_0001.JPG");
    EXPECT_EQ(Form->Label6->text().toStdString(),
              " Les nouvelles photos seront stockées dans " + Photos() + "/kavrel/");

    ASSERT_TRUE(Form->FL->SelectPath(Tmp.File("vol/vide")));
    EXPECT_EQ(Form->Liste->Count(), 0);
    EXPECT_EQ(Form->Label6->text().toStdString(), " Pas de photo dans ce dossier...");

    // Poste de travail has no folder: the list stays where it is.
    Form->FL->SelectPath(Photos());
    Form->FL->setCurrentItem(Form->FL->MyComputerNode());
    EXPECT_EQ(Form->Liste->Directory(), Photos());
    EXPECT_EQ(Form->Liste->Count(), 4);

    // A drive's path ends in "/": no doubled separator.
    Form->FL->setCurrentItem(TFolderTree::ChildNamed(Form->FL->MyComputerNode(), "Disque"));
    EXPECT_EQ(Form->Liste->Directory(), Tmp.File("vol"));
}

TEST_F(FormTest, SelectionButtons)
{
    MakePhotos();
    Form->FL->SelectPath(Photos());
    Form->SpeedButton3->click();
    EXPECT_EQ(Form->Liste->SelCount(), 4);
    Form->SpeedButton4->click();
    EXPECT_EQ(Form->Liste->SelCount(), 0);
    Form->Liste->SetSelected(1, true);
    Form->SpeedButton5->click();
    EXPECT_EQ(Form->Liste->SelCount(), 3);
    EXPECT_FALSE(Form->Liste->Selected(1));
}

TEST_F(FormTest, RefusesMissingSelectionAndBadSizes)
{
    MakePhotos();
    Form->FL->SelectPath(Photos());
    Form->SpeedButton1->click();
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Aucune image sélectionnée !");
    EXPECT_EQ(Boxes().Calls[0].Caption, "Kavrel");

    Form->Liste->SetSelected(0, true);
    Form->Rlargeur->click();
    for (const char* text : {"", "abc", "0", "-12"}) {
        Boxes().Calls.clear();
        Form->ML->setText(text);
        Form->SpeedButton1->click();
        ASSERT_EQ(Boxes().Calls.size(), 1u) << text;
        EXPECT_EQ(Boxes().Calls[0].Text, std::string(text) == "0" || std::string(text) == "-12"
                                             ? "La dimension doit être d'au moins 1 pixel !"
                                             : "Dimension incorrecte !")
            << text;
    }
    EXPECT_FALSE(fs::exists(Photos("kavrel")));

    // The original size does not look at the field.
    Boxes().Calls.clear();
    Form->Raucune->click();
    Form->ML->setText("abc");
    Form->SpeedButton1->click();
    EXPECT_TRUE(Boxes().Calls.empty());
    EXPECT_TRUE(fs::exists(Photos("kavrel/a.jpg")));
}

TEST_F(FormTest, RunConvertsTheSnapshotWithTheControlsLocked)
{
    MakePhotos();
    ASSERT_TRUE(MakeJpeg(Tmp.File("vol/vide/z.jpg"), 50, 50));
    Form->FL->SelectPath(Photos());
    Form->Liste->SetSelected(0, true); // a.jpg 400 x 300
    Form->Liste->SetSelected(1, true); // b.jpg 300 x 400
    Form->Liste->SetSelected(3, true); // IMG_0001.JPG
    Form->Rmaxi->click();
    Form->ML->setText("100");
    Form->TB->setValue(60);

    int calls = 0;
    Form->OnFileDone = [&] {
        ++calls;
        EXPECT_TRUE(Form->Running());
        EXPECT_FALSE(Form->FL->isEnabled());
        EXPECT_FALSE(Form->Liste->isEnabled());
        EXPECT_FALSE(Form->SpeedButton1->isEnabled());
        EXPECT_FALSE(Form->ML->isEnabled());
        EXPECT_FALSE(Form->TB->isEnabled());
        EXPECT_EQ(Form->PB->maximum(), 3);
        EXPECT_EQ(Form->PB->value(), calls);
        if (calls == 1) {
            // The user changes everything mid-run, and asks again.
            Form->FL->SelectPath(Tmp.File("vol/vide"));
            Form->ML->setText("10");
            Form->SpeedButton1Click();
        }
    };
    Form->SpeedButton1Click();
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(Form->Running());
    EXPECT_TRUE(Form->FL->isEnabled());
    EXPECT_TRUE(Form->ML->isEnabled());
    EXPECT_EQ(Form->PB->value(), 3);
    EXPECT_TRUE(Boxes().Calls.empty());
    EXPECT_EQ(Form->LastResult().Converted, 3);
    const TJpegInfo a = Identify(Photos("kavrel/a.jpg"));
    EXPECT_EQ(a.Width, 100);
    EXPECT_EQ(a.Height, 75);
    EXPECT_EQ(a.Quality, 60);
    EXPECT_EQ(Identify(Photos("kavrel/b.jpg")).Width, 75);
    EXPECT_EQ(Identify(Photos("kavrel/IMG_0001.JPG")).Width, 100);
    EXPECT_FALSE(fs::exists(Photos("kavrel/c.jpg")));
    EXPECT_FALSE(fs::exists(Tmp.File("vol/vide/kavrel")));
}

TEST_F(FormTest, FailuresAreReported)
{
    MakePhotos();
    testutil::WriteFile(Photos("abime.jpg"), {1, 2, 3});
    Form->FL->SelectPath(Photos());
    Form->SpeedButton3->click();
    Form->SpeedButton1Click();
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Text, "1 photo n'a pas pu être convertie.");
    EXPECT_EQ(Boxes().Calls[0].Type, mtWarning);
    EXPECT_EQ(Form->LastResult().Converted, 4);
    EXPECT_EQ(Form->PB->value(), 5);
}

TEST_F(FormTest, PreviewFitsAroundTheBoxCentre)
{
    MakePhotos();
    testutil::WriteFile(Photos("abime.jpg"), {1, 2, 3});
    Form->FL->SelectPath(Photos());
    ASSERT_EQ(Form->Liste->Items(1), "abime.jpg");
    Form->Liste->SetItemIndex(0); // a.jpg, 400 x 300
    EXPECT_FALSE(Form->IM->isHidden());
    EXPECT_EQ(Form->IM->geometry(), QRect(400, 267, 153, 115));
    Form->Liste->SetItemIndex(2); // b.jpg, 300 x 400
    EXPECT_EQ(Form->IM->geometry(), QRect(419, 248, 115, 153));
    EXPECT_FALSE(Form->IM->pixmap().isNull());
    Form->Liste->SetItemIndex(1); // abime.jpg
    EXPECT_TRUE(Form->IM->isHidden());
}

TEST_F(FormTest, ClosingDuringARunStopsItFirst)
{
    MakePhotos();
    Form->show();
    Form->FL->SelectPath(Photos());
    Form->SpeedButton3->click();
    Form->OnFileDone = [&] { EXPECT_FALSE(Form->close()); };
    Form->SpeedButton1Click();
    EXPECT_EQ(Form->LastResult().Converted, 1);
    EXPECT_TRUE(Form->LastResult().Stopped);
    EXPECT_TRUE(Form->isHidden());
}

TEST(FapTest, LinkAndOkButton)
{
    App();
    TFap fap;
    EXPECT_EQ(fap.size(), QSize(163, 111));
    EXPECT_EQ(fap.Label1->text().toStdString(), "KAVREL");
    std::vector<std::string> opened;
    auto saved = TFap::OpenLink;
    TFap::OpenLink = [&](const std::string& link) {
        opened.push_back(link);
        return true;
    };
    fap.show();
    const QPointF at(5, 5);
    QMouseEvent release(QEvent::MouseButtonRelease, at, fap.Label2->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(fap.Label2, &release);
    TFap::OpenLink = saved;
    EXPECT_EQ(opened, (std::vector<std::string>{"mailto:kavrel@corvinel.fr"}));
    fap.SpeedButton1->click();
    EXPECT_TRUE(fap.isHidden());
}
