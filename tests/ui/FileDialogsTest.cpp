// The open dialog's filter in Qt's form, and the scripted dialogs.

#include "UiTest.h"

#include "Picture.h"
#include "StandardFormats.h"

#include <gtest/gtest.h>

using namespace uitest;

TEST(QtNameFiltersTest, EachPairBecomesOneFilterWithSpaceSeparatedPatterns)
{
    EXPECT_EQ(QtNameFilters("Tous (*.bmp;*.jpg)|*.bmp;*.jpg|Bitmaps (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg"),
              (QStringList{"Tous (*.bmp *.jpg)", "Bitmaps (*.bmp)", "JPEG (*.jpg)"}));
}

TEST(QtNameFiltersTest, ThePairsPatternsWinOverTheDescription)
{
    // A description without its patterns, one with words in parentheses (Qt
    // would take them for patterns), one whose patterns disagree with the
    // pair, and blanks around patterns.
    EXPECT_EQ(QtNameFilters("Icônes|*.ico|JPEG (norme JFIF)|*.jpg|Vieux (*.old)|*.new; *.neu ;|Tout|*"),
              (QStringList{"Icônes (*.ico)", "JPEG (norme JFIF) (*.jpg)", "Vieux (*.new *.neu)", "Tout (*)"}));
}

TEST(QtNameFiltersTest, IncompletePairsAreLeftOut)
{
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_EQ(QtNameFilters("Bitmaps (*.bmp)|*.bmp|Sans motif"), QStringList{"Bitmaps (*.bmp)"});
    EXPECT_EQ(QtNameFilters("Vide|;|Bitmaps|*.bmp"), QStringList{"Bitmaps (*.bmp)"});
}

TEST(QtNameFiltersTest, TheRegistryFilterListsEveryFormatFirstInOne)
{
    RegisterStandardGraphics();
    const QStringList filters = QtNameFilters(GraphicFilter());
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_TRUE(filters.front().startsWith("Tous ("));
    for (const char* pattern : {"*.bmp", "*.jpg", "*.jpeg", "*.ico"}) {
        EXPECT_TRUE(filters.front().contains(pattern)) << pattern;
        EXPECT_FALSE(filters.filter(QString(" (") + pattern + ")").isEmpty()) << pattern;
    }
    for (const QString& f : filters)
        EXPECT_FALSE(f.contains(';')) << f.toStdString();
}

TEST(ScriptedFileDialogsTest, AnswersInTurnAndRecordsTheFilters)
{
    App();
    ResetScripts();
    Dialogs().Answers = {"/tmp/a.bmp", ""};
    std::string name = "unchanged";
    EXPECT_TRUE(App().FileDialogs().OpenFileName("Bitmaps (*.bmp)|*.bmp", name));
    EXPECT_EQ(name, "/tmp/a.bmp");
    name = "unchanged";
    EXPECT_FALSE(App().FileDialogs().OpenFileName("x|*.x", name)); // cancelled
    EXPECT_FALSE(App().FileDialogs().OpenFileName("y|*.y", name)); // nothing left
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(Dialogs().Filters, (std::vector<std::string>{"Bitmaps (*.bmp)|*.bmp", "x|*.x", "y|*.y"}));
}
