#include "Shell.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

const char* const DesktopText = "Bureau";
const char* const MyComputerText = "Poste de travail";
const char* const NetworkText = "Voisinage réseau";
const char* const RecycleBinText = "Corbeille";
const char* const RootVolumeText = "Système de fichiers";
const char* const HomeVolumeText = "Dossier personnel";

namespace {

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The mount table escapes blanks, tabs, new lines and backslashes as \ooo.
std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const std::string digits = s.substr(i + 1, 3);
            if (digits.size() == 3 && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The labels of /dev/disk/by-label, by the device they point to. udev
// escapes unusual characters of a label as \xHH.
std::map<std::string, std::string> DeviceLabels()
{
    std::map<std::string, std::string> labels;
    const QDir dir(QStringLiteral("/dev/disk/by-label"));
    const QFileInfoList entries = dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const std::string target = entry.canonicalFilePath().toStdString();
        const std::string raw = entry.fileName().toStdString();
        std::string label;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
                label += static_cast<char>(std::stoi(raw.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                label += raw[i];
            }
        }
        if (!target.empty())
            labels[target] = label;
    }
    return labels;
}

std::string WithSlash(const std::string& path)
{
    return !path.empty() && path.back() == '/' ? path : path + "/";
}

} // namespace

bool IsPseudoFileSystem(const std::string& fsType)
{
    static const std::set<std::string> pseudo = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2", "securityfs",
        "pstore", "efivarfs", "bpf", "debugfs", "tracefs", "configfs", "fusectl", "hugetlbfs", "mqueue",
        "autofs", "binfmt_misc", "rpc_pipefs", "nsfs", "selinuxfs", "overlay", "squashfs", "nfsd",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse", "fuse.lxcfs", "none", "rootfs"};
    return pseudo.count(fsType) != 0;
}

bool IsNetworkFileSystem(const std::string& fsType)
{
    static const std::set<std::string> network = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs", "9p",
        "fuse.sshfs", "sshfs", "fuse.rclone", "davfs", "fuse.davfs2", "fuse.glusterfs", "fuse.cephfs"};
    return network.count(fsType) != 0;
}

std::vector<TVolume> SelectVolumes(const std::vector<TMountEntry>& mounts, const std::string& homePath,
                                   bool network, bool (*isFolder)(const std::string&))
{
    if (!isFolder)
        isFolder = [](const std::string& path) { return IsDirectory(path); };
    const std::string home = StripSlash(homePath);
    std::vector<TVolume> volumes;
    std::set<std::string> seen;
    auto add = [&](const std::string& mountPoint, std::string name, bool net) {
        TVolume v;
        v.Path = WithSlash(mountPoint);
        if (!seen.insert(v.Path).second)
            return;
        const std::string dir = StripSlash(v.Path);
        v.Removable = StartsWith(dir, "/media/") || StartsWith(dir, "/run/media/") || StartsWith(dir, "/mnt/");
        v.Network = net;
        v.DisplayName = std::move(name);
        volumes.push_back(std::move(v));
    };
    auto nameOf = [](const TMountEntry& m) {
        if (!m.Label.empty())
            return m.Label;
        const std::string base = BaseName(StripSlash(m.MountPoint));
        return base.empty() ? m.MountPoint : base;
    };

    if (network) {
        for (const TMountEntry& m : mounts)
            if (IsNetworkFileSystem(m.FsType) && isFolder(m.MountPoint)) {
                std::string name = nameOf(m);
                if (!m.Device.empty() && m.Device != name)
                    name += " (" + m.Device + ")";
                add(m.MountPoint, name, true);
            }
        return volumes;
    }

    add("/", RootVolumeText, false);
    if (!home.empty() && home != "/" && isFolder(home))
        add(home, HomeVolumeText, false);
    static const char* const systemFolders[] = {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/lib"};
    for (const TMountEntry& m : mounts) {
        const std::string dir = StripSlash(m.MountPoint);
        if (dir.empty() || dir == "/" || IsPseudoFileSystem(m.FsType) || IsNetworkFileSystem(m.FsType))
            continue;
        const bool system = std::any_of(std::begin(systemFolders), std::end(systemFolders), [&](const char* s) {
            return PathIsWithin(dir, s);
        });
        if (system && !PathIsWithin(dir, "/run/media"))
            continue;
        if (!isFolder(dir))
            continue;
        add(dir, nameOf(m), false);
    }
    return volumes;
}

std::vector<TMountEntry> ReadMountTable()
{
    std::vector<TMountEntry> mounts;
    std::ifstream in("/proc/self/mounts");
    if (!in)
        return mounts;
    const std::map<std::string, std::string> labels = DeviceLabels();
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TMountEntry m;
        if (!(fields >> m.Device >> m.MountPoint >> m.FsType))
            continue;
        m.Device = Unescape(m.Device);
        m.MountPoint = Unescape(m.MountPoint);
        if (StartsWith(m.Device, "/")) {
            const std::string real = QFileInfo(QString::fromStdString(m.Device)).canonicalFilePath().toStdString();
            const auto it = labels.find(real.empty() ? m.Device : real);
            if (it != labels.end())
                m.Label = it->second;
        }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::string JoinPath(const std::string& base, const std::string& name)
{
    if (base.empty())
        return name;
    return base.back() == '/' ? base + name : base + "/" + name;
}

std::string StripSlash(const std::string& path)
{
    std::string s = path;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string ParentPath(const std::string& path)
{
    const std::string s = StripSlash(path);
    const std::size_t slash = s.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : s.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const std::string s = StripSlash(path);
    const std::size_t slash = s.find_last_of('/');
    if (s == "/")
        return std::string();
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

bool PathIsWithin(const std::string& path, const std::string& folder)
{
    const std::string p = StripSlash(path);
    const std::string f = StripSlash(folder);
    if (f.empty() || p.empty())
        return false;
    if (p == f || f == "/")
        return p.front() == '/' || p == f;
    return p.size() > f.size() && StartsWith(p, f) && p[f.size()] == '/';
}

std::string TShellNamespace::HomePath() const
{
    const QString home = QDir::homePath();
    return StripSlash(home.toStdString());
}

std::string TShellNamespace::DesktopPath() const
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const std::string path = StripSlash(desktop.toStdString());
    if (!path.empty() && IsDirectory(path))
        return path;
    return HomePath();
}

std::string TShellNamespace::TrashPath() const
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string base = dataHome && *dataHome ? std::string(dataHome) : JoinPath(HomePath(), ".local/share");
    return JoinPath(base, "Trash");
}

std::vector<TVolume> TShellNamespace::Volumes() const
{
    return SelectVolumes(ReadMountTable(), HomePath(), false);
}

std::vector<TVolume> TShellNamespace::NetworkVolumes() const
{
    return SelectVolumes(ReadMountTable(), HomePath(), true);
}

namespace {

// True for an entry of a folder listing that is a folder, following links.
bool EntryIsFolder(const std::string& dir, const dirent& entry, bool& link)
{
    link = false;
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    const std::string path = JoinPath(dir, entry.d_name);
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        return true;
    if (!S_ISLNK(st.st_mode))
        return false;
    link = true;
    return IsDirectory(path);
}

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace

bool TShellNamespace::ListFolders(const std::string& path, std::vector<TFolderItem>& items) const
{
    items.clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name))
            continue;
        bool link = false;
        if (!EntryIsFolder(path, *entry, link))
            continue;
        TFolderItem item;
        item.Name = entry->d_name;
        item.Path = JoinPath(path, item.Name);
        item.Link = link;
        items.push_back(std::move(item));
    }
    ::closedir(dir);
    for (TFolderItem& item : items)
        item.HasSubfolders = HasSubfolders(item.Path);
    return true;
}

bool TShellNamespace::HasSubfolders(const std::string& path) const
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name))
            continue;
        bool link = false;
        if (EntryIsFolder(path, *entry, link)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool TShellNamespace::ReadFolder(const std::string& path, TFolderItem& item) const
{
    const std::string folder = StripSlash(path);
    if (!IsDirectory(folder))
        return false;
    struct stat st{};
    item.Name = BaseName(folder);
    item.Path = folder;
    item.Link = ::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    item.HasSubfolders = HasSubfolders(folder);
    return true;
}

bool TShellNamespace::FolderExists(const std::string& path) const
{
    return IsDirectory(path);
}
