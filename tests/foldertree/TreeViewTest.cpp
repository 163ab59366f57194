// What the user sees of the folder tree while the disk changes: long names
// stay reachable, rows on screen and the selection stay where they are, and
// nothing is done while nothing changes.

#include "FolderTree.h"
#include "ShellNotifier.h"
#include "TestUtil.h"
#include "TreeTest.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>

#include <atomic>
#include <filesystem>
#include <fstream>

using namespace treetest;
namespace fs = std::filesystem;

namespace {

// The namespace over temporary folders, counting how often the tree reads
// the disk.
class TCountingNamespace : public TTempNamespace {
public:
    bool ListFolders(const std::string& path, std::vector<TFolderItem>& items) const override
    {
        ++Lists;
        return TTempNamespace::ListFolders(path, items);
    }
    bool HasSubfolders(const std::string& path) const override
    {
        ++SubfolderChecks;
        return TTempNamespace::HasSubfolders(path);
    }
    bool ReadFolder(const std::string& path, TFolderItem& item) const override
    {
        ++Reads;
        return TTempNamespace::ReadFolder(path, item);
    }
    void Reset() { Lists = SubfolderChecks = Reads = 0; }
    mutable int Lists = 0;
    mutable int SubfolderChecks = 0;
    mutable int Reads = 0;
};

// Counts the timer and socket wake-ups of the whole program.
class TWakeCount : public QObject {
public:
    TWakeCount() { QCoreApplication::instance()->installEventFilter(this); }
    ~TWakeCount() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer || event->type() == QEvent::SockAct ||
            event->type() == QEvent::SockClose)
            ++N;
        return false;
    }
    int N = 0;
};

class TreeViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        Ns = std::make_shared<TCountingNamespace>();
        Ns->Desktop = Tmp.File("Bureau");
        MakeDirs(Ns->Desktop);
        MakeDirs(Tmp.File("vol1"));
        Ns->Vols = {{Tmp.File("vol1") + "/", "Disque 1", false, false}};
    }

    void Activate(int width, int height)
    {
        Tree = std::make_unique<TFolderTree>();
        Tree->SetNamespace(Ns);
        Tree->resize(width, height);
        Tree->SetActive(true);
        Tree->show();
        Pump(50);
    }

    TFolderNode* Vol1() const { return TFolderTree::ChildNamed(Tree->MyComputerNode(), "Disque 1"); }
    TFolderNode* Folder(const std::string& name) const { return TFolderTree::ChildNamed(Vol1(), name); }
    int Top(QTreeWidgetItem* item) const { return Tree->visualItemRect(item).top(); }

    testutil::TempDir Tmp;
    std::shared_ptr<TCountingNamespace> Ns;
    std::unique_ptr<TFolderTree> Tree;
};

TEST_F(TreeViewTest, NamesFiveLevelsDeepStayReachableAtTheBrowsersWidth)
{
    const std::string name = "Vacances en Bretagne avec toute la famille";
    std::string path = Tmp.File("vol1");
    for (int level = 1; level <= 5; ++level)
        path += "/" + std::to_string(level) + " " + name;
    MakeDirs(path);
    // The browser's tree is 169 pixels wide.
    Activate(169, 300);
    ASSERT_TRUE(Tree->SelectPath(path));
    QTreeWidgetItem* deepest = Tree->currentItem();
    ASSERT_EQ(TFolderTree::GetNodePath(deepest), path);
    Pump(50);

    // The row is wide enough for its whole text after the icon, and the
    // view scrolls sideways to it.
    const QRect row = Tree->visualItemRect(deepest);
    const int text = Tree->fontMetrics().horizontalAdvance(deepest->text(0));
    EXPECT_GE(row.width(), text + Tree->iconSize().width());
    EXPECT_GE(Tree->header()->sectionSize(0), row.right() - row.left());
    EXPECT_GT(Tree->horizontalScrollBar()->maximum(), 0);
    Tree->horizontalScrollBar()->setValue(Tree->horizontalScrollBar()->maximum());
    EXPECT_LE(Tree->visualItemRect(deepest).right(), Tree->viewport()->width() + 1);
    // The whole path is its tool tip.
    EXPECT_EQ(deepest->toolTip(0).toStdString(), path);
}

TEST_F(TreeViewTest, FoldersComingAndGoingLeaveTheRowsOnScreenAndTheSelection)
{
    for (int i = 10; i < 70; ++i)
        MakeDirs(Tmp.File("vol1/f" + std::to_string(i)));
    Activate(300, 240);
    Vol1()->setExpanded(true);
    QTreeWidgetItem* f40 = Folder("f40");
    QTreeWidgetItem* f45 = Folder("f45");
    ASSERT_TRUE(f40 && f45);
    Tree->setCurrentItem(f45);
    Tree->scrollToItem(f40, QAbstractItemView::PositionAtTop);
    Pump(20);
    // The pointer rests outside the tree: the top row holds still.
    QCursor::setPos(Tree->mapToGlobal(QPoint(-50, -50)));
    const int top40 = Top(f40);
    const int top45 = Top(f45);
    int changes = 0;
    QObject::connect(Tree.get(), &TFolderTree::Change, Tree.get(), [&] { ++changes; });

    // Above the rows on screen, and among them.
    MakeDirs(Tmp.File("vol1/a00"));
    fs::remove(Tmp.File("vol1/f20"));
    fs::remove(Tmp.File("vol1/f11"));
    ASSERT_TRUE(WaitFor([&] { return Folder("a00") && !Folder("f20") && !Folder("f11"); }));
    EXPECT_EQ(Top(f40), top40);
    EXPECT_EQ(Top(f45), top45);
    MakeDirs(Tmp.File("vol1/f405"));
    ASSERT_TRUE(WaitFor([&] { return Folder("f405") != nullptr; }));
    EXPECT_EQ(Top(f40), top40);
    EXPECT_EQ(Top(Folder("f405")), top40 + (top45 - top40) / 5);
    EXPECT_EQ(Tree->currentItem(), f45);
    EXPECT_TRUE(f45->isSelected());
    EXPECT_EQ(changes, 0);

    // With the pointer over a row, that row holds still under it.
    QTreeWidgetItem* f50 = Folder("f50");
    const int top50 = Top(f50);
    QCursor::setPos(Tree->viewport()->mapToGlobal(Tree->visualItemRect(f50).center()));
    if (Tree->viewport()->mapFromGlobal(QCursor::pos()) == Tree->visualItemRect(f50).center()) {
        MakeDirs(Tmp.File("vol1/f455"));
        ASSERT_TRUE(WaitFor([&] { return Folder("f455") != nullptr; }));
        EXPECT_EQ(Top(f50), top50);
        EXPECT_EQ(Tree->itemAt(Tree->visualItemRect(f50).center()), f50);
    } else {
        ADD_FAILURE() << "the platform does not move the pointer";
    }
    EXPECT_EQ(Tree->currentItem(), f45);
    EXPECT_EQ(changes, 0);
}

TEST_F(TreeViewTest, NothingRunsWhileNothingChangesAndAChangeReadsOnlyWhatChanged)
{
    for (int i = 10; i < 50; ++i)
        MakeDirs(Tmp.File("vol1/f" + std::to_string(i) + "/sous"));
    Activate(300, 400);
    Vol1()->setExpanded(true);
    Folder("f20")->setExpanded(true);
    Pump(300);

    {
        TWakeCount wakes;
        Ns->Reset();
        Pump(600);
        EXPECT_EQ(wakes.N, 0);
        EXPECT_EQ(Ns->Lists + Ns->SubfolderChecks + Ns->Reads, 0);
    }

    // Files written into a shown folder are no folders: nothing to read.
    for (int i = 0; i < 30; ++i)
        std::ofstream(Tmp.File("vol1/photo" + std::to_string(i) + ".jpg")) << "x";
    Pump(400);
    EXPECT_EQ(Ns->Lists + Ns->SubfolderChecks + Ns->Reads, 0);

    // One new folder among forty: it alone is read, not its siblings.
    MakeDirs(Tmp.File("vol1/f25b"));
    ASSERT_TRUE(WaitFor([&] { return Folder("f25b") != nullptr; }));
    EXPECT_EQ(Ns->Lists, 0);
    EXPECT_EQ(Ns->Reads, 1);
    EXPECT_LE(Ns->SubfolderChecks, 1);
    fs::remove(Tmp.File("vol1/f25b"));
    ASSERT_TRUE(WaitFor([&] { return Folder("f25b") == nullptr; }));
    EXPECT_EQ(Ns->Lists, 0);
    EXPECT_LE(Ns->SubfolderChecks, 1);

    // And then the program is idle again.
    Pump(300);
    TWakeCount wakes;
    Pump(600);
    EXPECT_EQ(wakes.N, 0);
}

} // namespace
