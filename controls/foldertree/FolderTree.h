#pragma once
// TFolderTree: a tree of the shell namespace. The desktop folder is the root
// ("Bureau"); below it "Poste de travail" with the mounted volumes, the
// folders on the desktop and, on option, the network mounts ("Voisinage
// réseau") and the trash ("Corbeille"). Children are read when a node is
// first expanded; the tree follows the folders it has loaded on disk and the
// mount table, and keeps what the user expanded and selected.
//
// The forms ask it only for the selected folder (GetSelectedPath), from
// their Change handler.

#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class TShellNamespace;
class TShellNotifier;
struct TShellChange;
struct TVolume;
class QFileIconProvider;

enum class TFolderOption { foNetworkNeighborhood, foRecycleBin, foVirtualFirst };
using enum TFolderOption;

// A set of folder options.
class SFolderOption {
public:
    SFolderOption() = default;
    SFolderOption(std::initializer_list<TFolderOption> options)
    {
        for (TFolderOption o : options)
            Include(o);
    }
    bool Contains(TFolderOption o) const { return (FBits & Bit(o)) != 0; }
    SFolderOption& Include(TFolderOption o)
    {
        FBits |= Bit(o);
        return *this;
    }
    SFolderOption& Exclude(TFolderOption o)
    {
        FBits &= ~Bit(o);
        return *this;
    }
    bool operator==(const SFolderOption&) const = default;

private:
    static unsigned Bit(TFolderOption o) { return 1u << static_cast<unsigned>(o); }
    unsigned FBits = 0;
};

enum class TDisplayMode { dmAsis, dmUppercase, dmLowercase };
using enum TDisplayMode;

enum class TFolderNodeKind : std::uint8_t {
    nkFolder = 0,
    nkNetwork = 1,
    nkRecycleBin = 2,
    nkMyComputer = 3,
    nkDesktop = 4,
    nkNetworkChild = 5
};
using enum TFolderNodeKind;

// What each node knows of its item.
struct TFolderNodeData {
    // The folder's path: the desktop folder for the root, a volume's mount
    // point (ending in "/") for a drive or a network mount, empty for
    // "Poste de travail", the network node and the trash.
    std::string Path;
    // The item's own name, the source of the node text under DisplayMode;
    // the special nodes keep their shown text here.
    std::string Name;
    bool HasParent = false;
    TFolderNodeKind Kind = nkFolder;
    // Not a file-system folder (the special nodes).
    bool Virtual = false;
    // The children were read from the disk (and the folder is watched).
    bool Populated = false;
    // Watched while it was never read and shows no button, so that it gains
    // its button with its first sub-folder.
    bool LeafWatched = false;
    bool Link = false;
};

class TFolderNode : public QTreeWidgetItem {
public:
    TFolderNodeData Data;
};

class TFolderTree : public QTreeWidget {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)

public:
    explicit TFolderTree(QWidget* parent = nullptr);
    ~TFolderTree() override;

    // True builds the tree and follows the changes on disk; False stops
    // following them and deletes every node.
    bool Active() const { return FActive; }
    void SetActive(bool value);
    SFolderOption FolderOptions() const { return FFolderOptions; }
    void SetFolderOptions(SFolderOption value);
    TDisplayMode DisplayMode() const { return FDisplayMode; }
    void SetDisplayMode(TDisplayMode value);

    // The selected folder's path: "" without a selection and for the
    // special nodes (Poste de travail, network, trash, network mounts); a
    // volume's path ends in "/", a folder's does not.
    void GetSelectedPath(std::string& path) const;
    std::string SelectedPath() const;
    static std::string GetNodePath(const QTreeWidgetItem* node);

    // Asked when the desktop session ends: canEnd starts true; when it stays
    // true the tree stops following changes, else the session end is
    // cancelled.
    std::function<void(TFolderTree& sender, bool& canEnd)> OnEndSessionQuery;

    // The namespace the tree shows; set before activation (tests use
    // temporary folders). The system's by default.
    void SetNamespace(std::shared_ptr<TShellNamespace> ns);
    TShellNamespace& Namespace() const { return *FNamespace; }

    // The node of a folder. Lookups start at the root for paths in the
    // desktop folder, else at the volume (or network mount) that holds the
    // path. Unless exact, nodes along the path are read when needed and the
    // deepest node found is the answer; with exact, a missing folder gives
    // null. Paths compare case-sensitively; the selection never changes.
    TFolderNode* FindNodeByPath(const std::string& path, bool exact);
    // Shows and selects the node of a folder; true when that very folder
    // was found.
    bool SelectPath(const std::string& path);

    TFolderNode* Root() const;
    TFolderNode* MyComputerNode() const;
    TFolderNode* SpecialNode(TFolderNodeKind kind) const;
    static TFolderNode* Node(QTreeWidgetItem* item) { return static_cast<TFolderNode*>(item); }
    static TFolderNodeData* NodeData(QTreeWidgetItem* item) { return item ? &Node(item)->Data : nullptr; }
    // The child of a node whose own name is name (case-sensitive), or null.
    static TFolderNode* ChildNamed(QTreeWidgetItem* node, const std::string& name);
    // True when the node has children or shows its expansion button.
    static bool HasChildren(const QTreeWidgetItem* node);

    // The order of siblings: the special nodes first (Poste de travail,
    // network, trash), then by text, character codes compared with the
    // letters a to z as capitals, then by text as it is.
    // Answers <0, 0 or >0.
    static int CompareNodes(const TFolderNode& a, const TFolderNode& b);

    // Reads the children of a node from the disk; true when it has any.
    bool PopulateNode(TFolderNode* node);
    // Deletes a node's children, except the network node and Poste de
    // travail, and shows its expansion button.
    void ClearChildren(TFolderNode* node);
    // Brings a loaded node's children in line with the disk: removed folders
    // go, new ones come in sorted position, the others keep their own
    // children, expansion and selection. A node never read only gets its
    // expansion button updated.
    void RefreshNode(TFolderNode* node);
    // Reads the volumes again: volumes that went are removed, new ones
    // added, and a volume whose name changed is retitled, collapsed and
    // emptied.
    void RefreshDrives();
    // Collapses and empties the volume node that holds path (forced), or
    // only retitles it when its name changed.
    void RefreshDrive(const std::string& path, bool forced);
    // What the change notifications do with one batch of changes.
    void ProcessChanges(const std::vector<TShellChange>& changes);

    // The change notifications while active (null when inactive).
    TShellNotifier* Notifier() const { return FNotifier.get(); }

signals:
    // The selected node changed (also when the selected folder was removed
    // or renamed and the selection moved with it).
    void Change(QTreeWidgetItem* node);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    class TSelectionGuard;
    friend class TSelectionGuard;
    class TViewAnchor;
    friend class TViewAnchor;

    void Activate();
    void Deactivate();
    void InitTree();
    void RegisterChangeNotify();
    void UnregisterChangeNotify();
    void UpdateSpecialNode(TFolderNodeKind kind, bool wanted);

    TFolderNode* NewNode(const std::string& path, const std::string& name, TFolderNodeKind kind, bool isVirtual);
    // Creates the node of a sub-folder under parent, in sorted position
    // unless unsorted.
    TFolderNode* AddFolderNode(TFolderNode* parent, const std::string& path, const std::string& name,
                               bool hasSubfolders, bool link, bool sorted);
    TFolderNode* AddVolumeNode(TFolderNode* parent, const TVolume& volume, int index);
    void InsertSorted(TFolderNode* parent, TFolderNode* node);
    void DeleteNode(QTreeWidgetItem* node);
    void SetHasChildren(QTreeWidgetItem* node, bool value);
    void ApplyText(TFolderNode* node);
    QString CasedText(const std::string& name) const;
    void ApplyDisplayMode(QTreeWidgetItem* node);
    void Forget(QTreeWidgetItem* node);
    void MarkPopulated(TFolderNode* node);
    void UpdateLeafWatch(QTreeWidgetItem* node);
    void RenameNode(TFolderNode* node, const std::string& newPath);
    // One folder created or removed on disk: its node alone comes or goes
    // under each node of its parent; a parent never read only gains or
    // loses its button.
    void FolderCreated(const std::string& path);
    void FolderRemoved(const std::string& path);
    static TFolderNode* ChildWithPath(QTreeWidgetItem* node, const std::string& path);
    void RefreshVolumeList(TFolderNode* parent, const std::vector<TVolume>& volumes);
    std::vector<TFolderNode*> NodesWithPath(const std::string& path) const;
    TFolderNode* VolumeNodeFor(const std::string& path) const;
    void OnExpanded(QTreeWidgetItem* item);
    void OnCurrentChanged(QTreeWidgetItem* current);

    QIcon FolderIcon(bool link) const;
    mutable QIcon FFolderIcon;
    mutable QIcon FLinkFolderIcon;

    bool FActive = false;
    SFolderOption FFolderOptions;
    TDisplayMode FDisplayMode = dmAsis;
    std::shared_ptr<TShellNamespace> FNamespace;
    std::unique_ptr<TShellNotifier> FNotifier;
    std::unique_ptr<QFileIconProvider> FIcons;
    std::string FDesktopPath;
    int FChangeLock = 0;
    // Set while a guarded change deletes the selected node: where the
    // selection goes.
    QTreeWidgetItem* FSelectionFallback = nullptr;
    bool FSelectionDeleted = false;
    // While changes from the disk are applied: the rows on screen (the one
    // under the pointer first) with their places, so that the view puts the
    // first one that survives back where it was. Deleted rows are dropped.
    struct TAnchorRow {
        QTreeWidgetItem* Item;
        int Top;
    };
    std::vector<TAnchorRow> FAnchorRows;
    int FAnchorLock = 0;
};
