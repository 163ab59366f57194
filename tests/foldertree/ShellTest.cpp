// The shell namespace: which mounts are volumes, path helpers, folder
// listings and the kernel's change notifications.

#include "Shell.h"
#include "ShellNotifier.h"
#include "TestUtil.h"
#include "TreeTest.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace treetest;

namespace {

bool AnyFolder(const std::string&)
{
    return true;
}

bool NoSlashFiles(const std::string& path)
{
    return path != "/etc/hosts";
}

} // namespace

TEST(ShellVolumes, KeepsWhatAUserBrowsesInOrder)
{
    const std::vector<TMountEntry> mounts = {
        {"/", "ext4", "/dev/sda1", ""},
        {"/proc", "proc", "proc", ""},
        {"/sys/fs/cgroup", "cgroup2", "cgroup", ""},
        {"/dev/shm", "tmpfs", "tmpfs", ""},
        {"/tmp", "tmpfs", "tmpfs", ""},
        {"/run/user/1000", "tmpfs", "tmpfs", ""},
        {"/boot/efi", "vfat", "/dev/sda2", ""},
        {"/snap/core/1", "squashfs", "/dev/loop0", ""},
        {"/data", "ext4", "/dev/sdb1", "Donnees"},
        {"/media/jean/USB PHOTOS", "vfat", "/dev/sdc1", "USB PHOTOS"},
        {"/run/media/jean/CARTE", "exfat", "/dev/sdd1", ""},
        {"/mnt/nas", "nfs4", "nas:/photos", ""},
        {"/data", "ext4", "/dev/sdb1", "Donnees"},
        {"/etc/hosts", "ext4", "/dev/vda", ""},
    };
    const std::vector<TVolume> v = SelectVolumes(mounts, "/home/jean", false, NoSlashFiles);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v[0].Path, "/");
    EXPECT_EQ(v[0].DisplayName, "Système de fichiers");
    EXPECT_EQ(v[1].Path, "/home/jean/");
    EXPECT_EQ(v[1].DisplayName, "Dossier personnel");
    EXPECT_EQ(v[2].Path, "/data/");
    EXPECT_EQ(v[2].DisplayName, "Donnees");
    EXPECT_FALSE(v[2].Removable);
    EXPECT_EQ(v[3].Path, "/media/jean/USB PHOTOS/");
    EXPECT_TRUE(v[3].Removable);
    EXPECT_EQ(v[4].Path, "/run/media/jean/CARTE/");
    EXPECT_EQ(v[4].DisplayName, "CARTE");
    for (const TVolume& vol : v)
        EXPECT_EQ(vol.Path.back(), '/');

    const std::vector<TVolume> net = SelectVolumes(mounts, "/home/jean", true, AnyFolder);
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].Path, "/mnt/nas/");
    EXPECT_TRUE(net[0].Network);
}

TEST(ShellVolumes, HomeOnItsOwnMountIsListedOnce)
{
    const std::vector<TMountEntry> mounts = {{"/", "ext4", "/dev/sda1", ""}, {"/home", "ext4", "/dev/sda3", ""}};
    const std::vector<TVolume> v = SelectVolumes(mounts, "/home", false, AnyFolder);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[1].Path, "/home/");
    EXPECT_EQ(v[1].DisplayName, "Dossier personnel");
}

TEST(ShellPaths, JoinSplitAndContain)
{
    EXPECT_EQ(JoinPath("/", "home"), "/home");
    EXPECT_EQ(JoinPath("/media/usb/", "photos"), "/media/usb/photos");
    EXPECT_EQ(JoinPath("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(ParentPath("/a/b"), "/a");
    EXPECT_EQ(ParentPath("/a"), "/");
    EXPECT_EQ(ParentPath("/media/usb/"), "/media");
    EXPECT_EQ(BaseName("/a/b/"), "b");
    EXPECT_EQ(StripSlash("/"), "/");
    EXPECT_TRUE(PathIsWithin("/a/b", "/a"));
    EXPECT_TRUE(PathIsWithin("/a", "/a/"));
    EXPECT_TRUE(PathIsWithin("/anything", "/"));
    EXPECT_FALSE(PathIsWithin("/ab", "/a"));
    EXPECT_FALSE(PathIsWithin("/A/b", "/a"));
}

TEST(ShellNamespaceTest, ListsFoldersWithHiddenOnesAndLinks)
{
    testutil::TempDir tmp;
    MakeDirs(tmp.File("top/sub"));
    MakeDirs(tmp.File("empty"));
    MakeDirs(tmp.File(".cache"));
    testutil::WriteFile(tmp.File("file.jpg"), {1, 2, 3});
    std::filesystem::create_directory_symlink(tmp.File("top"), tmp.File("link"));
    TShellNamespace ns;
    std::vector<TFolderItem> items;
    ASSERT_TRUE(ns.ListFolders(tmp.Path(), items));
    std::map<std::string, TFolderItem> byName;
    for (const TFolderItem& i : items)
        byName[i.Name] = i;
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_TRUE(byName["top"].HasSubfolders);
    EXPECT_FALSE(byName["empty"].HasSubfolders);
    EXPECT_TRUE(byName.count(".cache"));
    EXPECT_TRUE(byName["link"].Link);
    EXPECT_TRUE(byName["link"].HasSubfolders);
    EXPECT_EQ(byName["top"].Path, tmp.File("top"));
    EXPECT_FALSE(ns.ListFolders(tmp.File("missing"), items));
}

TEST(ShellNamespaceTest, DesktopFallsBackToHome)
{
    testutil::TempDir tmp;
    const testutil::EnvGuard homeVariable("HOME", tmp.Path().c_str());
    const testutil::EnvGuard configVariable("XDG_CONFIG_HOME", tmp.File("config").c_str());
    TShellNamespace ns;
    EXPECT_EQ(ns.DesktopPath(), tmp.Path());
    MakeDirs(tmp.File("Desktop"));
    EXPECT_EQ(ns.DesktopPath(), tmp.File("Desktop"));
    EXPECT_EQ(ns.TrashPath(), qEnvironmentVariableIsSet("XDG_DATA_HOME")
                                  ? JoinPath(qgetenv("XDG_DATA_HOME").toStdString(), "Trash")
                                  : tmp.File(".local/share/Trash"));
}

TEST(ShellNotifierTest, ReportsFolderChangesInOneBatchPerBurst)
{
    App();
    testutil::TempDir tmp;
    MakeDirs(tmp.File("a"));
    MakeDirs(tmp.File("b"));
    TShellNotifier notifier;
    // A quiet time long enough that a slow machine still makes one burst.
    notifier.QuietMs = 1000;
    notifier.MaxDelayMs = 5000;
    std::vector<std::vector<TShellChange>> batches;
    notifier.OnChanges = [&](const std::vector<TShellChange>& b) { batches.push_back(b); };
    ASSERT_TRUE(notifier.Watch(tmp.File("a")));
    ASSERT_TRUE(notifier.Watch(tmp.File("b")));
    ASSERT_TRUE(notifier.Watch(tmp.File("a") + "/")); // counted, same folder
    EXPECT_EQ(notifier.WatchCount(), 2u);

    for (int i = 0; i < 10; ++i)
        MakeDirs(tmp.File("a/n" + std::to_string(i)));
    testutil::WriteFile(tmp.File("a/file.txt"), {1}); // files are not reported
    ASSERT_TRUE(WaitFor([&] { return !batches.empty(); }, 8000));
    Pump(300);
    ASSERT_EQ(batches.size(), 1u);
    ASSERT_EQ(batches[0].size(), 10u);
    EXPECT_EQ(batches[0][0].Event, TShellEvent::seMkDir);
    EXPECT_EQ(batches[0][0].Path, tmp.File("a/n0"));

    // A rename inside a watched folder, a move between two watched
    // folders, a move out to a folder nobody watches, and a removal.
    batches.clear();
    std::filesystem::rename(tmp.File("a/n0"), tmp.File("a/m0"));
    std::filesystem::rename(tmp.File("a/n1"), tmp.File("b/n1"));
    std::filesystem::rename(tmp.File("a/n2"), tmp.File("n2"));
    std::filesystem::remove(tmp.File("a/n3"));
    ASSERT_TRUE(WaitFor([&] { return !batches.empty(); }, 8000));
    const std::vector<TShellChange> expected = {
        {TShellEvent::seRenameFolder, tmp.File("a/n0"), tmp.File("a/m0")},
        {TShellEvent::seRenameFolder, tmp.File("a/n1"), tmp.File("b/n1")},
        {TShellEvent::seRmDir, tmp.File("a/n2"), ""},
        {TShellEvent::seRmDir, tmp.File("a/n3"), ""},
    };
    EXPECT_EQ(batches[0], expected);

    // One Unwatch of the doubly watched folder keeps it watched.
    notifier.Unwatch(tmp.File("a"));
    EXPECT_TRUE(notifier.IsWatched(tmp.File("a")));
    notifier.Unwatch(tmp.File("a"));
    EXPECT_FALSE(notifier.IsWatched(tmp.File("a")));
    batches.clear();
    notifier.QuietMs = 50;
    MakeDirs(tmp.File("a/later"));
    Pump(300);
    EXPECT_TRUE(batches.empty());
}

TEST(ShellNotifierTest, MountTableChangesAreMediaChanges)
{
    App();
    testutil::TempDir tmp;
    testutil::WriteFile(tmp.File("mounts"), {'a', '\n'});
    TShellNotifier notifier;
    std::vector<TShellChange> seen;
    notifier.OnChanges = [&](const std::vector<TShellChange>& b) { seen.insert(seen.end(), b.begin(), b.end()); };
    notifier.WatchMounts(tmp.File("mounts"));
    notifier.CheckMounts(); // unchanged: nothing
    notifier.Flush();
    EXPECT_TRUE(seen.empty());
    testutil::WriteFile(tmp.File("mounts"), {'a', '\n', 'b', '\n'});
    notifier.CheckMounts();
    notifier.Flush();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Event, TShellEvent::seMediaChange);
}
