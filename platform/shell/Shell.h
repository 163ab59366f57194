#pragma once
// The shell namespace over the Linux file system, as the folder tree shows
// it: the desktop folder at the root, "Poste de travail" with the mounted
// volumes a user browses, the network mounts and the trash.
//
// Paths are plain file-system paths with "/" separators. A volume's path
// ends in "/" ("/", "/media/jean/USB/"); a folder's path does not.

#include <string>
#include <vector>

// The texts a French desktop gives the special places.
extern const char* const DesktopText;     // "Bureau"
extern const char* const MyComputerText;  // "Poste de travail"
extern const char* const NetworkText;     // "Voisinage réseau"
extern const char* const RecycleBinText;  // "Corbeille"
extern const char* const RootVolumeText;  // "Système de fichiers"
extern const char* const HomeVolumeText;  // "Dossier personnel"

// One line of the mount table.
struct TMountEntry {
    std::string MountPoint;
    std::string FsType;
    std::string Device;
    std::string Label; // the volume's label, "" when it has none
};

// A volume as the namespace shows it.
struct TVolume {
    std::string Path;        // the mount point, ending in "/"
    std::string DisplayName;
    bool Removable = false;  // mounted below /media, /run/media or /mnt
    bool Network = false;
    bool operator==(const TVolume&) const = default;
};

// File systems of the kernel's own (proc, sysfs, cgroup, tmpfs...) that no
// user browses.
bool IsPseudoFileSystem(const std::string& fsType);
// File systems reached over the network (nfs, cifs, sshfs...).
bool IsNetworkFileSystem(const std::string& fsType);

// The volumes of a mount table that a user browses, in this order: the root
// file system, the home folder, then the other local mounts in table order.
// Pseudo file systems, mounts below the system's own folders (/proc, /sys,
// /dev, /run except /run/media, /boot, /snap, /var/lib), mounts that are not
// folders (isFolder answers) and repeated mount points are left out. With
// network true the answer is instead the network mounts, in table order.
std::vector<TVolume> SelectVolumes(const std::vector<TMountEntry>& mounts, const std::string& homePath,
                                   bool network, bool (*isFolder)(const std::string&) = nullptr);

// The current mount table (empty when it cannot be read).
std::vector<TMountEntry> ReadMountTable();

// One sub-folder of a folder.
struct TFolderItem {
    std::string Name;
    std::string Path;
    bool HasSubfolders = false;
    bool Link = false; // a symbolic link to a folder
};

// `base` + "/" + `name`, without doubling a final "/" of base.
std::string JoinPath(const std::string& base, const std::string& name);
// The path without its final "/", except for "/" itself.
std::string StripSlash(const std::string& path);
// The folder part of a path ("/a/b" gives "/a", "/a" gives "/").
std::string ParentPath(const std::string& path);
// The last component of a path ("/a/b" gives "b").
std::string BaseName(const std::string& path);
// True when path is folder itself or lies below it (component-wise,
// case-sensitive).
bool PathIsWithin(const std::string& path, const std::string& folder);

// The namespace the folder tree reads. The system's by default; tests put a
// namespace over temporary folders in its place.
class TShellNamespace {
public:
    virtual ~TShellNamespace() = default;

    // The XDG desktop folder, or the home folder where there is none.
    virtual std::string DesktopPath() const;
    virtual std::string HomePath() const;
    // The XDG trash ($XDG_DATA_HOME/Trash).
    virtual std::string TrashPath() const;
    // The volumes of "Poste de travail" and those of the network node.
    virtual std::vector<TVolume> Volumes() const;
    virtual std::vector<TVolume> NetworkVolumes() const;
    // The sub-folders of a folder, hidden ones included, in directory order.
    // False when the folder cannot be read.
    virtual bool ListFolders(const std::string& path, std::vector<TFolderItem>& items) const;
    // True when the folder has at least one sub-folder.
    virtual bool HasSubfolders(const std::string& path) const;
    // One folder as ListFolders describes it; false when path is no folder.
    virtual bool ReadFolder(const std::string& path, TFolderItem& item) const;
    virtual bool FolderExists(const std::string& path) const;
};
