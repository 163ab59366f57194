// The About box: its form, the unscrambling of the contact address and the
// link opened through the desktop.

#include "QtTestApp.h"

#include "About.h"
#include "Codage.h"
#include "Desktop.h"
#include "Icons.h"
#include "MainForm.h"

#include <QImage>
#include <QMouseEvent>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QByteArray Unscrambled(const QByteArray& key, const QByteArray& data)
{
    QByteArray result = "left over";
    UnscrambleText(key, data, result);
    return result;
}

TEST(UnscrambleTextTest, EmptyDataAndEmptyKey)
{
    EXPECT_TRUE(Unscrambled("quembrail", "").isEmpty());
    EXPECT_TRUE(Unscrambled("", "").isEmpty());
    EXPECT_EQ(Unscrambled("", "abc\xff"), QByteArray("abc\xff"));
}

TEST(UnscrambleTextTest, ByteDifferencesWrapAndTheKeyRepeats)
{
    // 'c' - 'a' = 2; 'a' - 'b' = -1 + 256 = 255; then the key starts again.
    EXPECT_EQ(Unscrambled("ab", "cac"), QByteArray("\x02\xff\x02", 3));
    // A key longer than the data uses only its first bytes.
    EXPECT_EQ(Unscrambled("abcdef", "bb"), QByteArray("\x01\x00", 2));
    const QByteArray data(1000, '\x10');
    EXPECT_EQ(Unscrambled("\x20", data).size(), 1000);
    EXPECT_EQ(Unscrambled("\x20", data), QByteArray(1000, '\xf0'));
}

TEST(UnscrambleTextTest, EveryByteValueComesBack)
{
    // Scrambling by hand: each byte plus its key byte, modulo 256.
    const QByteArray key = "quembrail";
    QByteArray plain, scrambled;
    for (int round = 0; round < 3; ++round)
        for (int v = 0; v < 256; ++v)
            plain.append(static_cast<char>(v));
    for (qsizetype i = 0; i < plain.size(); ++i)
        scrambled.append(static_cast<char>((static_cast<unsigned char>(plain[i]) +
                                            static_cast<unsigned char>(key[i % key.size()])) % 256));
    EXPECT_EQ(Unscrambled(key, scrambled), plain);
}

TEST(UnscrambleTextTest, StoredContactGivesTheProjectsAddress)
{
    EXPECT_STREQ(ContactKey, "quembrail");
    EXPECT_EQ(ScrambledContact().size(), 38);
    EXPECT_EQ(Unscrambled(ContactKey, ScrambledContact()), QByteArray("mailto:lauteur.de.corvinel@example.org"));
}

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testqt::App();
        testqt::ResetScripts();
    }
    void ClickLink(TAboutBox& box)
    {
        const QPointF at(5, 5);
        QMouseEvent release(QEvent::MouseButtonRelease, at, box.Label3->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(box.Label3, &release);
    }
    TRecordingDesktop Desktop;
};

QColor Colour(QWidget* w, QPalette::ColorRole role)
{
    w->ensurePolished();
    return w->palette().color(role);
}

TEST_F(AboutTest, FormCarriesItsNamesTextsAndColours)
{
    TAboutBox box(Desktop, testqt::Boxes());
    EXPECT_EQ(box.objectName(), "AboutBox");
    EXPECT_EQ(box.windowTitle(), "A propos");
    EXPECT_EQ(box.size(), QSize(296, 218));
    EXPECT_EQ(box.Shape1->geometry(), QRect(6, 6, 285, 165));
    EXPECT_EQ(box.Panel1->geometry(), QRect(8, 8, 281, 161));
    EXPECT_EQ(box.ProgramIcon->size(), QSize(32, 32));
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull());
    EXPECT_EQ(box.ProductName->text(), "orvinel ");
    EXPECT_EQ(box.Label1->text(), "Version 2");
    EXPECT_EQ(box.Label3->text(), QString::fromUtf8("Ecrire \u00E0 l'auteur"));
    EXPECT_EQ(box.OKButton->text(), "OK");
    EXPECT_TRUE(box.OKButton->isDefault());
    EXPECT_EQ(box.Label3->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(box.OKButton->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(box.Label3->alignment() & Qt::AlignRight);

    // Colours: the panel $E0FDFE (blue E0, green FD, red FE), navy name,
    // blue link and button.
    box.show();
    const QImage shot = box.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(150, 120)), QColor(0xFE, 0xFD, 0xE0));
    EXPECT_EQ(Colour(box.ProductName, QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(Colour(box.Label3, QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(Colour(box.OKButton, QPalette::ButtonText), QColor(0, 0, 255));
    EXPECT_EQ(box.ProductName->font().pixelSize(), 32);
    EXPECT_EQ(box.ProductName->font().family(), "Arial");
    EXPECT_EQ(box.Label1->font().pixelSize(), 19);
    EXPECT_EQ(box.Label3->font().pixelSize(), 11);
    EXPECT_EQ(box.OKButton->font().pixelSize(), 16);
    EXPECT_TRUE(box.OKButton->font().bold());
    // The frame around the panel: black, two pixels wide.
    EXPECT_EQ(QColor(shot.pixel(6, 100)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(7, 100)), QColor(Qt::black));
}

QImage Argb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// The columns of a row of an icon where the letter is drawn.
std::vector<int> InkIn(const QImage& icon, int y)
{
    std::vector<int> xs;
    for (int x = 0; x < icon.width(); ++x)
        if (qAlpha(icon.pixel(x, y)) >= 128)
            xs.push_back(x);
    return xs;
}

TEST_F(AboutTest, TheBoxAndTheFrameShowTheProgramsIconACapitalC)
{
    const QImage program = Argb(ProgramIcon().pixmap(32, 32));
    ASSERT_EQ(program.size(), QSize(32, 32));
    TAboutBox box(Desktop, testqt::Boxes());
    const QImage shown = Argb(box.ProgramIcon->pixmap());
    ASSERT_EQ(shown.size(), program.size());
    EXPECT_EQ(shown, program);
    EXPECT_NE(shown, Argb(DocumentWindowIcon().pixmap(32, 32)));
    TMainFormServices services;
    TMainForm frame(services);
    const QImage framed = Argb(frame.windowIcon().pixmap(32, 32));
    ASSERT_EQ(framed.size(), program.size());
    EXPECT_EQ(framed, program);

    // A C, so that "orvinel " beside it reads "Corvinel": at mid-height the
    // letter has a stroke on the left only, its middle and its opening on
    // the right are empty; its arms above and below reach to the right.
    std::vector<int> top, middle;
    int first = -1, last = -1;
    for (int y = 0; y < 32; ++y)
        if (!InkIn(program, y).empty()) {
            first = first < 0 ? y : first;
            last = y;
        }
    ASSERT_GE(first, 0);
    EXPECT_GE(last - first + 1, 20) << "as tall as the name's capitals";
    middle = InkIn(program, (first + last) / 2);
    ASSERT_FALSE(middle.empty());
    EXPECT_LT(middle.back(), 16);
    EXPECT_LT(middle.back() - middle.front(), 8) << "one stroke";
    for (const int y : {first + 1, last - 1}) {
        const std::vector<int> arm = InkIn(program, y);
        ASSERT_FALSE(arm.empty()) << y;
        EXPECT_GE(arm.back(), 24) << y;
    }
    // Navy, as the name.
    const QRgb ink = program.pixel(middle.front() + 1, (first + last) / 2);
    EXPECT_EQ(QColor(ink), QColor(0, 0, 128));
}

TEST_F(AboutTest, LinkOpensTheAddressAndAFailureIsTold)
{
    TAboutBox box(Desktop, testqt::Boxes());
    box.show();
    ClickLink(box);
    EXPECT_EQ(Desktop.Urls, (std::vector<std::string>{"mailto:lauteur.de.corvinel@example.org"}));
    EXPECT_TRUE(testqt::Boxes().Calls.empty());

    Desktop.UrlResult = false;
    ClickLink(box);
    ASSERT_EQ(testqt::Boxes().Calls.size(), 1u);
    EXPECT_EQ(testqt::Boxes().Calls[0].Type, mtError);
    EXPECT_EQ(testqt::Boxes().Calls[0].Text, "Le lien mailto:lauteur.de.corvinel@example.org n'a pas pu \u00EAtre "
                                             "ouvert : aucun programme ne le prend en charge.");
}

TEST_F(AboutTest, FrameShowsTheBoxAndOkClosesIt)
{
    TNoEditorWindows none;
    TAboutWindows windows(none);
    EXPECT_FALSE(windows.Has(TEditorWindow::AboutBox));
    QWidget frame;
    windows.Create(&frame, &Desktop, &testqt::Boxes());
    EXPECT_TRUE(windows.Has(TEditorWindow::AboutBox));
    EXPECT_FALSE(windows.Has(TEditorWindow::Print));
    bool wasShown = false;
    QTimer::singleShot(0, [&] {
        wasShown = windows.AboutBox()->isVisible();
        EXPECT_TRUE(windows.AboutBox()->OKButton->hasFocus() || !windows.AboutBox()->isActiveWindow());
        windows.AboutBox()->OKButton->click();
    });
    windows.ShowModal(TEditorWindow::AboutBox);
    EXPECT_TRUE(wasShown);
    EXPECT_FALSE(windows.AboutBox()->isVisible());
    EXPECT_EQ(windows.AboutBox()->result(), QDialog::Accepted);
}

} // namespace
