// TFolderTree offscreen, over temporary folders: the nodes and their paths,
// the order of siblings, lookups, and following the disk.

#include "FolderTree.h"
#include "ShellNotifier.h"
#include "TestUtil.h"
#include "TreeTest.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include <filesystem>

using namespace treetest;
namespace fs = std::filesystem;

namespace {

// Counts the tree's Change signals.
struct TChangeCount {
    explicit TChangeCount(TFolderTree& tree)
    {
        QObject::connect(&tree, &TFolderTree::Change, &tree, [this] { ++N; });
    }
    int count() const { return N; }
    int N = 0;
};

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        Ns = std::make_shared<TTempNamespace>();
        Ns->Desktop = Tmp.File("Bureau");
        MakeDirs(Ns->Desktop + "/Photos");
        MakeDirs(Ns->Desktop + "/b");
        MakeDirs(Ns->Desktop + "/A");
        MakeDirs(Tmp.File("vol1/2006/ete"));
        MakeDirs(Tmp.File("vol1/2007"));
        MakeDirs(Tmp.File("vol2"));
        Ns->Vols = {{Tmp.File("vol1") + "/", "Disque 1", false, false},
                    {Tmp.File("vol2") + "/", "Clé USB", true, false}};
        Ns->NetVols = {{Tmp.File("net") + "/", "nas", false, true}};
        MakeDirs(Tmp.File("net/partage"));
    }

    void Activate(SFolderOption options = {})
    {
        Tree = std::make_unique<TFolderTree>();
        Tree->SetNamespace(Ns);
        Tree->SetFolderOptions(options);
        Tree->resize(300, 500);
        Tree->SetActive(true);
        Tree->show();
    }

    TFolderNode* Vol1() const { return TFolderTree::ChildNamed(Tree->MyComputerNode(), "Disque 1"); }
    testutil::TempDir Tmp;
    std::shared_ptr<TTempNamespace> Ns;
    std::unique_ptr<TFolderTree> Tree;
};

} // namespace

TEST_F(FolderTreeTest, BuildsTheNamespaceWithFrenchSpecialNodes)
{
    Activate({foRecycleBin, foNetworkNeighborhood});
    TFolderNode* root = Tree->Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text(0).toStdString(), "Bureau");
    EXPECT_EQ(ChildTexts(root),
              (std::vector<std::string>{"Poste de travail", "Voisinage réseau", "Corbeille", "A", "b", "Photos"}));
    EXPECT_TRUE(root->isExpanded());
    TFolderNode* computer = Tree->MyComputerNode();
    EXPECT_TRUE(computer->isExpanded());
    // Volumes keep the namespace's order.
    EXPECT_EQ(ChildTexts(computer), (std::vector<std::string>{"Disque 1", "Clé USB"}));
    // A folder not expanded yet has no children but its button.
    TFolderNode* vol1 = Vol1();
    EXPECT_EQ(vol1->childCount(), 0);
    EXPECT_TRUE(TFolderTree::HasChildren(vol1));
    vol1->setExpanded(true);
    EXPECT_EQ(ChildTexts(vol1), (std::vector<std::string>{"2006", "2007"}));
    EXPECT_TRUE(TFolderTree::HasChildren(TFolderTree::ChildNamed(vol1, "2006")));
    EXPECT_FALSE(TFolderTree::HasChildren(TFolderTree::ChildNamed(vol1, "2007")));
    // The network node holds the network mounts, their folders below.
    TFolderNode* network = Tree->SpecialNode(nkNetwork);
    network->setExpanded(true);
    ASSERT_EQ(network->childCount(), 1);
    TFolderNode* share = Tree->Node(network->child(0));
    EXPECT_EQ(share->Data.Kind, nkNetworkChild);
    share->setExpanded(true);
    ASSERT_EQ(share->childCount(), 1);
    EXPECT_EQ(TFolderTree::GetNodePath(share->child(0)), Tmp.File("net/partage"));
}

TEST_F(FolderTreeTest, VirtualFirstPutsTheSpecialNodesBeforeTheirSiblings)
{
    Activate({foVirtualFirst, foRecycleBin, foNetworkNeighborhood});
    EXPECT_EQ(ChildTexts(Tree->Root()), (std::vector<std::string>{"Voisinage réseau", "Corbeille", "Poste de travail",
                                                                  "A", "b", "Photos"}));
    // Folders that come later still go to their sorted place after them.
    MakeDirs(Ns->Desktop + "/0");
    ASSERT_TRUE(WaitFor([&] { return Tree->Root()->childCount() == 7; }));
    EXPECT_EQ(Tree->Root()->child(3)->text(0).toStdString(), "0");
}

TEST_F(FolderTreeTest, SelectedPathIsEmptyForSpecialNodesAndEndsInSlashOnlyForVolumes)
{
    Activate({foRecycleBin, foNetworkNeighborhood});
    std::string path = "unchanged";
    Tree->GetSelectedPath(path);
    EXPECT_EQ(path, ""); // nothing selected
    auto selectedPath = [&](QTreeWidgetItem* item) {
        Tree->setCurrentItem(item);
        std::string p = "x";
        Tree->GetSelectedPath(p);
        return p;
    };
    EXPECT_EQ(selectedPath(Tree->Root()), Ns->Desktop);
    EXPECT_EQ(selectedPath(Tree->MyComputerNode()), "");
    EXPECT_EQ(selectedPath(Tree->SpecialNode(nkRecycleBin)), "");
    TFolderNode* network = Tree->SpecialNode(nkNetwork);
    EXPECT_EQ(selectedPath(network), "");
    network->setExpanded(true);
    EXPECT_EQ(selectedPath(network->child(0)), "");
    EXPECT_EQ(selectedPath(Vol1()), Tmp.File("vol1") + "/");
    Vol1()->setExpanded(true);
    EXPECT_EQ(selectedPath(TFolderTree::ChildNamed(Vol1(), "2006")), Tmp.File("vol1/2006"));
    EXPECT_EQ(selectedPath(TFolderTree::ChildNamed(Tree->Root(), "Photos")), Ns->Desktop + "/Photos");
}

TEST_F(FolderTreeTest, NodeOrderIsStrict)
{
    Activate({foRecycleBin, foNetworkNeighborhood});
    std::vector<TFolderNode*> nodes;
    for (int i = 0; i < Tree->Root()->childCount(); ++i)
        nodes.push_back(Tree->Node(Tree->Root()->child(i)));
    // Special nodes used to answer "less" whichever side they were on.
    for (TFolderNode* a : nodes) {
        EXPECT_EQ(TFolderTree::CompareNodes(*a, *a), 0) << a->text(0).toStdString();
        for (TFolderNode* b : nodes)
            if (a != b) {
                EXPECT_EQ(TFolderTree::CompareNodes(*a, *b), -TFolderTree::CompareNodes(*b, *a))
                    << a->text(0).toStdString() << " / " << b->text(0).toStdString();
            }
    }
    EXPECT_LT(TFolderTree::CompareNodes(*Tree->MyComputerNode(), *Tree->SpecialNode(nkRecycleBin)), 0);
    EXPECT_GT(TFolderTree::CompareNodes(*Tree->SpecialNode(nkRecycleBin), *Tree->MyComputerNode()), 0);
}

TEST_F(FolderTreeTest, SiblingsSortByCharacterCodesWithLettersInCapitals)
{
    for (const char* name : {"_archives", "zoo", "Été", "[x]", "album", "Album", "2006"})
        MakeDirs(Tmp.File("vol2/") + name);
    Activate();
    TFolderNode* vol2 = TFolderTree::ChildNamed(Tree->MyComputerNode(), "Clé USB");
    vol2->setExpanded(true);
    // Letters compare as capitals, every other character by its code: the
    // signs between the capitals and the small letters come after the
    // letters, accented letters after them all. Equal names in capitals keep
    // a fixed order.
    EXPECT_EQ(ChildTexts(vol2),
              (std::vector<std::string>{"2006", "Album", "album", "zoo", "[x]", "_archives", "Été"}));
    MakeDirs(Tmp.File("vol2/ZOE"));
    ASSERT_TRUE(WaitFor([&] { return vol2->childCount() == 8; }));
    EXPECT_EQ(ChildTexts(vol2),
              (std::vector<std::string>{"2006", "Album", "album", "ZOE", "zoo", "[x]", "_archives", "Été"}));
}

TEST_F(FolderTreeTest, FoldersDifferingOnlyInCaseAreDistinct)
{
    MakeDirs(Tmp.File("vol1/photos/x"));
    MakeDirs(Tmp.File("vol1/Photos/y"));
    Activate();
    TFolderNode* lower = Tree->FindNodeByPath(Tmp.File("vol1/photos/x"), false);
    TFolderNode* upper = Tree->FindNodeByPath(Tmp.File("vol1/Photos/y"), false);
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(lower->Data.Path, Tmp.File("vol1/photos/x"));
    EXPECT_EQ(upper->Data.Path, Tmp.File("vol1/Photos/y"));
    EXPECT_EQ(Tree->FindNodeByPath(Tmp.File("vol1/PHOTOS"), true), nullptr);
    EXPECT_EQ(ChildTexts(Vol1()), (std::vector<std::string>{"2006", "2007", "Photos", "photos"}));
}

TEST_F(FolderTreeTest, LookupsOutsideTheTreeKeepTheSelection)
{
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2006/ete")));
    TChangeCount changes(*Tree);
    EXPECT_EQ(Tree->FindNodeByPath("/somewhere/else", true), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath("/somewhere/else", false), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath("", false), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath("relative/path", false), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath(Tmp.File("vol1/2006/missing"), true), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath(Tmp.File("vol1/2006/missing"), false)->Data.Path, Tmp.File("vol1/2006"));
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2006/ete"));
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(FolderTreeTest, NoVolumesNoCrash)
{
    Ns->Vols.clear();
    Activate();
    EXPECT_EQ(Tree->MyComputerNode()->childCount(), 0);
    EXPECT_EQ(Tree->FindNodeByPath(Tmp.File("vol1/2006"), false), nullptr);
    EXPECT_FALSE(Tree->SelectPath(Tmp.File("vol1/2006")));
    // The desktop's own folders are still found.
    EXPECT_TRUE(Tree->SelectPath(Ns->Desktop + "/Photos"));
}

TEST_F(FolderTreeTest, NewAndRemovedFoldersShowWithExpansionAndSelectionKept)
{
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2006/ete")));
    TFolderNode* y2006 = TFolderTree::ChildNamed(Vol1(), "2006");
    ASSERT_TRUE(y2006->isExpanded());
    TChangeCount changes(*Tree);

    MakeDirs(Tmp.File("vol1/2005"));
    MakeDirs(Tmp.File("vol1/2006/automne"));
    ASSERT_TRUE(WaitFor([&] { return ChildTexts(Vol1()).size() == 3 && y2006->childCount() == 2; }));
    EXPECT_EQ(ChildTexts(Vol1()), (std::vector<std::string>{"2005", "2006", "2007"}));
    EXPECT_EQ(ChildTexts(y2006), (std::vector<std::string>{"automne", "ete"}));
    EXPECT_TRUE(Vol1()->isExpanded());
    EXPECT_TRUE(y2006->isExpanded());
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2006/ete"));
    EXPECT_EQ(changes.count(), 0);

    fs::remove(Tmp.File("vol1/2005"));
    ASSERT_TRUE(WaitFor([&] { return ChildTexts(Vol1()).size() == 2; }));
    EXPECT_EQ(ChildTexts(Vol1()), (std::vector<std::string>{"2006", "2007"}));
    EXPECT_TRUE(y2006->isExpanded());
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2006/ete"));
    EXPECT_EQ(changes.count(), 0);

    // The selected folder itself goes: its parent is selected and told.
    fs::remove(Tmp.File("vol1/2006/ete"));
    ASSERT_TRUE(WaitFor([&] { return y2006->childCount() == 1; }));
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2006"));
    ASSERT_EQ(changes.count(), 1);
}

TEST_F(FolderTreeTest, AFolderNeverOpenedShowsItsButtonWhenItGainsASubfolder)
{
    Activate();
    Vol1()->setExpanded(true);
    TFolderNode* y2007 = TFolderTree::ChildNamed(Vol1(), "2007");
    TFolderNode* photos = TFolderTree::ChildNamed(Tree->Root(), "Photos");
    ASSERT_TRUE(y2007 && photos);
    ASSERT_FALSE(TFolderTree::HasChildren(y2007));
    ASSERT_FALSE(TFolderTree::HasChildren(photos));
    ASSERT_TRUE(Tree->SelectPath(Ns->Desktop + "/Photos"));

    // The batch resizer makes its output folder in the selected folder.
    MakeDirs(Ns->Desktop + "/Photos/kavrel");
    MakeDirs(Tmp.File("vol1/2007/noel"));
    ASSERT_TRUE(WaitFor([&] { return TFolderTree::HasChildren(y2007) && TFolderTree::HasChildren(photos); }));
    photos->setExpanded(true);
    EXPECT_EQ(ChildTexts(photos), (std::vector<std::string>{"kavrel"}));
    EXPECT_EQ(Tree->SelectedPath(), Ns->Desktop + "/Photos");

    // A leaf that goes leaves nothing watched behind.
    MakeDirs(Tmp.File("vol1/2008"));
    ASSERT_TRUE(WaitFor([&] { return TFolderTree::ChildNamed(Vol1(), "2008") != nullptr; }));
    EXPECT_TRUE(Tree->Notifier()->IsWatched(Tmp.File("vol1/2008")));
    fs::remove(Tmp.File("vol1/2008"));
    ASSERT_TRUE(WaitFor([&] { return TFolderTree::ChildNamed(Vol1(), "2008") == nullptr; }));
    EXPECT_FALSE(Tree->Notifier()->IsWatched(Tmp.File("vol1/2008")));
}

TEST_F(FolderTreeTest, ABurstOfChangesRefreshesOnce)
{
    Activate();
    Vol1()->setExpanded(true);
    int batches = 0;
    Tree->Notifier()->QuietMs = 1000;
    Tree->Notifier()->MaxDelayMs = 5000;
    auto forward = Tree->Notifier()->OnChanges;
    Tree->Notifier()->OnChanges = [&](const std::vector<TShellChange>& b) {
        ++batches;
        forward(b);
    };
    for (int i = 0; i < 30; ++i)
        MakeDirs(Tmp.File("vol1/d" + std::to_string(100 + i)));
    ASSERT_TRUE(WaitFor([&] { return Vol1()->childCount() == 32; }, 8000));
    Pump(300);
    EXPECT_EQ(batches, 1);
    EXPECT_EQ(Vol1()->child(2)->text(0).toStdString(), "d100");
}

TEST_F(FolderTreeTest, RenamesRefreshBothParentsAndFollowTheSelection)
{
    MakeDirs(Tmp.File("vol1/2007/noel/soir"));
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2007/noel/soir")));
    TFolderNode* y2006 = TFolderTree::ChildNamed(Vol1(), "2006");
    y2006->setExpanded(true);
    TChangeCount changes(*Tree);

    // Renamed in place: the node stays, open, selected, with new paths.
    TFolderNode* noel = Tree->FindNodeByPath(Tmp.File("vol1/2007/noel"), true);
    fs::rename(Tmp.File("vol1/2007/noel"), Tmp.File("vol1/2007/Noël"));
    ASSERT_TRUE(WaitFor([&] { return Tree->SelectedPath() == Tmp.File("vol1/2007/Noël/soir"); }));
    EXPECT_EQ(Tree->FindNodeByPath(Tmp.File("vol1/2007/Noël"), true), noel);
    EXPECT_TRUE(noel->isExpanded());
    EXPECT_EQ(changes.count(), 1);

    // Moved to another loaded folder: gone from the old parent, shown in
    // the new one.
    fs::rename(Tmp.File("vol1/2007/Noël"), Tmp.File("vol1/2006/Noël"));
    ASSERT_TRUE(WaitFor([&] { return y2006->childCount() == 2; }));
    EXPECT_EQ(ChildTexts(y2006), (std::vector<std::string>{"ete", "Noël"}));
    EXPECT_EQ(TFolderTree::ChildNamed(Vol1(), "2007")->childCount(), 0);
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2007"));
}

TEST_F(FolderTreeTest, RootRefreshKeepsTheSpecialNodes)
{
    Activate({foRecycleBin, foNetworkNeighborhood});
    MakeDirs(Ns->Desktop + "/Nouveau");
    ASSERT_TRUE(WaitFor([&] { return TFolderTree::ChildNamed(Tree->Root(), "Nouveau") != nullptr; }));
    EXPECT_TRUE(Tree->SpecialNode(nkRecycleBin));
    EXPECT_TRUE(Tree->SpecialNode(nkNetwork));
    EXPECT_TRUE(Tree->MyComputerNode());

    Tree->ClearChildren(Tree->Root());
    EXPECT_EQ(ChildTexts(Tree->Root()),
              (std::vector<std::string>{"Poste de travail", "Voisinage réseau", "Corbeille"}));
    Tree->PopulateNode(Tree->Root());
    EXPECT_EQ(ChildTexts(Tree->Root()), (std::vector<std::string>{"Poste de travail", "Voisinage réseau",
                                                                  "Corbeille", "A", "b", "Nouveau", "Photos"}));

    Tree->SetFolderOptions({foNetworkNeighborhood});
    EXPECT_FALSE(Tree->SpecialNode(nkRecycleBin));
    Tree->SetFolderOptions({});
    EXPECT_FALSE(Tree->SpecialNode(nkNetwork));
}

TEST_F(FolderTreeTest, MediaChangesUpdateTheVolumes)
{
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2007")));
    TFolderNode* vol2 = TFolderTree::ChildNamed(Tree->MyComputerNode(), "Clé USB");
    vol2->setExpanded(true);
    MakeDirs(Tmp.File("vol3"));

    // The stick holds other media now, a third volume came, nothing else.
    Ns->Vols[1].DisplayName = "PHOTOS 2008";
    Ns->Vols.push_back({Tmp.File("vol3") + "/", "Carte SD", true, false});
    Tree->ProcessChanges({{TShellEvent::seMediaChange, "", ""}});
    EXPECT_EQ(ChildTexts(Tree->MyComputerNode()),
              (std::vector<std::string>{"Disque 1", "PHOTOS 2008", "Carte SD"}));
    EXPECT_EQ(vol2->text(0).toStdString(), "PHOTOS 2008");
    EXPECT_FALSE(vol2->isExpanded());
    EXPECT_TRUE(TFolderTree::HasChildren(vol2));
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2007"));

    // The volume holding the selection goes away.
    TChangeCount changes(*Tree);
    Ns->Vols.erase(Ns->Vols.begin());
    Tree->RefreshDrives();
    EXPECT_EQ(ChildTexts(Tree->MyComputerNode()), (std::vector<std::string>{"PHOTOS 2008", "Carte SD"}));
    EXPECT_EQ(Tree->SelectedPath(), "");
    EXPECT_EQ(Tree->currentItem(), Tree->MyComputerNode());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(FolderTreeTest, NestedMountPointsThatComeTogetherAreEmptiedSafely)
{
    MakeDirs(Tmp.File("vol1/2006/ete/plage"));
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2006/ete/plage")));
    TFolderNode* y2006 = Tree->FindNodeByPath(Tmp.File("vol1/2006"), true);
    ASSERT_TRUE(y2006 && Tree->FindNodeByPath(Tmp.File("vol1/2006/ete"), true)->Data.Populated);

    // Two volumes mounted at once, one inside the other, on folders the
    // tree had read: both folders show other content now.
    Ns->Vols.push_back({Tmp.File("vol1/2006") + "/", "Carte", true, false});
    Ns->Vols.push_back({Tmp.File("vol1/2006/ete") + "/", "Cle", true, false});
    Tree->RefreshDrives();
    EXPECT_EQ(y2006->childCount(), 0);
    EXPECT_FALSE(y2006->Data.Populated);
    EXPECT_TRUE(TFolderTree::HasChildren(y2006));
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1/2006"));
    EXPECT_EQ(ChildTexts(Tree->MyComputerNode()), (std::vector<std::string>{"Disque 1", "Clé USB", "Carte", "Cle"}));
}

TEST_F(FolderTreeTest, DoubleClickOnAVanishedFolderEmptiesItsVolume)
{
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2006/ete")));
    // Gone behind the tree's back, before any notification is handled.
    fs::remove(Tmp.File("vol1/2006/ete"));
    const QRect r = Tree->visualItemRect(Tree->currentItem());
    QMouseEvent press(QEvent::MouseButtonDblClick, QPointF(r.center()), Tree->viewport()->mapToGlobal(QPointF(r.center())),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Tree->viewport(), &press);
    EXPECT_EQ(Vol1()->childCount(), 0);
    EXPECT_FALSE(Vol1()->isExpanded());
    EXPECT_TRUE(TFolderTree::HasChildren(Vol1()));
    EXPECT_EQ(Tree->SelectedPath(), Tmp.File("vol1") + "/");
    Vol1()->setExpanded(true);
    EXPECT_EQ(ChildTexts(Vol1()), (std::vector<std::string>{"2006", "2007"}));
}

TEST_F(FolderTreeTest, DisplayModeRecasesEveryNode)
{
    Activate();
    Vol1()->setExpanded(true);
    Tree->SetDisplayMode(dmUppercase);
    EXPECT_EQ(Tree->Root()->text(0).toStdString(), "BUREAU");
    EXPECT_EQ(Vol1()->text(0).toStdString(), "DISQUE 1");
    Tree->SetDisplayMode(dmLowercase);
    EXPECT_EQ(Tree->MyComputerNode()->text(0).toStdString(), "poste de travail");
    Tree->SetDisplayMode(dmAsis);
    EXPECT_EQ(TFolderTree::ChildNamed(Tree->Root(), "Photos")->text(0).toStdString(), "Photos");
}

TEST_F(FolderTreeTest, DeactivationDropsNodesAndNotifications)
{
    Activate();
    ASSERT_TRUE(Tree->SelectPath(Tmp.File("vol1/2006")));
    EXPECT_GT(Tree->Notifier()->WatchCount(), 0u);
    Tree->SetActive(false);
    EXPECT_EQ(Tree->topLevelItemCount(), 0);
    EXPECT_EQ(Tree->Notifier(), nullptr);
    EXPECT_EQ(Tree->SelectedPath(), "");
    Tree->SetActive(true);
    EXPECT_EQ(Tree->topLevelItemCount(), 1);
    // Watches follow the loaded folders only.
    EXPECT_TRUE(Tree->Notifier()->IsWatched(Ns->Desktop));
    EXPECT_FALSE(Tree->Notifier()->IsWatched(Tmp.File("vol1/2006")));
}

TEST_F(FolderTreeTest, UnreadableFolderKeepsItsButtonAndRefusesExpansion)
{
    Activate();
    Vol1()->setExpanded(true);
    TFolderNode* y2007 = TFolderTree::ChildNamed(Vol1(), "2007");
    // The folder vanished before it was opened: nothing to read.
    fs::remove(Tmp.File("vol1/2007"));
    TFolderTree::Node(y2007)->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    y2007->setExpanded(true);
    EXPECT_FALSE(y2007->isExpanded());
    EXPECT_TRUE(TFolderTree::HasChildren(y2007));
}

TEST_F(FolderTreeTest, AMissingDesktopFolderStillShowsTheComputer)
{
    // A home folder that does not exist (a fresh account, a service user):
    // the tree still leads to the volumes.
    Ns->Desktop = Tmp.File("absent");
    Activate({foRecycleBin});
    TFolderNode* root = Tree->Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(ChildTexts(root), (std::vector<std::string>{"Poste de travail", "Corbeille"}));
    EXPECT_TRUE(root->isExpanded());
    ASSERT_TRUE(Tree->MyComputerNode());
    EXPECT_EQ(ChildTexts(Tree->MyComputerNode()), (std::vector<std::string>{"Disque 1", "Clé USB"}));
}
