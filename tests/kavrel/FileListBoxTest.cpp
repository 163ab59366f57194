// The file list box of the forms: masks without regard to case, folders and
// hidden files left out, the selection.

#include "FileListBox.h"
#include "KavrelTest.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kaveltest;

TEST(FileListBoxTest, MasksMatchWithoutRegardToCase)
{
    EXPECT_TRUE(TFileListBox::MatchesMask("IMG_0001.JPG", "*.jpg"));
    EXPECT_TRUE(TFileListBox::MatchesMask("photo.Jpg", "*.jpg"));
    EXPECT_TRUE(TFileListBox::MatchesMask("été.JPEG", "*.jpg;*.jpeg"));
    EXPECT_TRUE(TFileListBox::MatchesMask("x", "*.*"));
    EXPECT_TRUE(TFileListBox::MatchesMask("a1.bmp", "a?.bmp"));
    EXPECT_FALSE(TFileListBox::MatchesMask("a12.bmp", "a?.bmp"));
    EXPECT_FALSE(TFileListBox::MatchesMask("photo.jpg.txt", "*.jpg"));
    EXPECT_FALSE(TFileListBox::MatchesMask("photojpg", "*.jpg"));
}

TEST(FileListBoxTest, ListsTheFolderAndAppliesPaths)
{
    App();
    testutil::TempDir tmp;
    for (const char* name : {"b.jpg", "A.JPG", "c.png", ".cache.jpg", "a.jpg"})
        testutil::WriteFile(tmp.File(name), {1});
    std::filesystem::create_directory(tmp.File("dossier.jpg"));
    std::filesystem::create_directory(tmp.File("sub"));
    testutil::WriteFile(tmp.File("sub/z.jpg"), {1});

    TFileListBox list;
    int changes = 0;
    list.OnChange = [&](TFileListBox&) { ++changes; };
    list.SetMask("*.jpg");
    list.SetMultiSelect(true);
    list.ApplyFilePath(tmp.Path());
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0), "A.JPG");
    EXPECT_EQ(list.Items(1), "a.jpg");
    EXPECT_EQ(list.Items(2), "b.jpg");
    EXPECT_EQ(list.FilePath(2), tmp.File("b.jpg"));
    EXPECT_EQ(list.Directory(), tmp.Path());

    // An empty path changes nothing.
    const int before = changes;
    list.ApplyFilePath("");
    EXPECT_EQ(list.Directory(), tmp.Path());
    EXPECT_EQ(changes, before);

    // A file path selects the file; a wildcard part becomes the mask.
    list.ApplyFilePath(tmp.File("b.jpg"));
    EXPECT_EQ(list.ItemIndex(), 2);
    EXPECT_EQ(list.FileName(), tmp.File("b.jpg"));
    list.ApplyFilePath(tmp.File("*.png"));
    EXPECT_EQ(list.Mask(), "*.png");
    ASSERT_EQ(list.Count(), 1);
    list.SetMask("*.jpg");

    list.SetSelected(0, true);
    list.SetSelected(2, true);
    EXPECT_EQ(list.SelCount(), 2);
    testutil::WriteFile(tmp.File("0.jpg"), {1});
    list.Update(); // the selected names stay selected
    ASSERT_EQ(list.Count(), 4);
    EXPECT_FALSE(list.Selected(0));
    EXPECT_TRUE(list.Selected(1));
    EXPECT_TRUE(list.Selected(3));

    list.ApplyFilePath(tmp.File("sub"));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0), "z.jpg");
    list.SetDirectory(tmp.File("missing"));
    EXPECT_EQ(list.Count(), 0);
}
