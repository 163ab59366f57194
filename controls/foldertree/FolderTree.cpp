#include "FolderTree.h"

#include "Application.h"
#include "Shell.h"
#include "ShellNotifier.h"

#include <QFileIconProvider>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QHeaderView>
#include <QScrollBar>
#include <QCursor>
#include <QSessionManager>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <set>

namespace {

// Screen updates held back for the life of the object.
class TUpdateLock {
public:
    explicit TUpdateLock(QWidget* w) : FWidget(w), FWas(w->updatesEnabled()) { FWidget->setUpdatesEnabled(false); }
    ~TUpdateLock() { FWidget->setUpdatesEnabled(FWas); }
    TUpdateLock(const TUpdateLock&) = delete;
    TUpdateLock& operator=(const TUpdateLock&) = delete;

private:
    QWidget* FWidget;
    bool FWas;
};

int SpecialRank(TFolderNodeKind kind)
{
    switch (kind) {
    case nkMyComputer: return 0;
    case nkNetwork: return 1;
    case nkRecycleBin: return 2;
    default: return 3;
    }
}

bool IsAncestor(const QTreeWidgetItem* ancestor, const QTreeWidgetItem* item)
{
    for (const QTreeWidgetItem* p = item; p; p = p->parent())
        if (p == ancestor)
            return true;
    return false;
}

// The nodes of a subtree, the subtree's own node first.
void Collect(QTreeWidgetItem* node, std::vector<QTreeWidgetItem*>& out)
{
    out.push_back(node);
    for (int i = 0; i < node->childCount(); ++i)
        Collect(node->child(i), out);
}

// Compares two texts character code by character code, the letters a to z
// taken as capitals.
int CompareTextCodes(const std::string& a, const std::string& b)
{
    const auto upper = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= 'z' ? u - ('a' - 'A') : static_cast<unsigned>(u);
    };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned ca = upper(a[i]);
        const unsigned cb = upper(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool HasFolderPath(TFolderNodeKind kind)
{
    return kind == nkFolder || kind == nkDesktop || kind == nkNetworkChild;
}

} // namespace

// Keeps the selection over a change of the nodes: the selected node stays
// selected; when it was deleted, its nearest surviving ancestor is. Change is
// signalled once at the end, only when the selected path changed.
class TFolderTree::TSelectionGuard {
public:
    explicit TSelectionGuard(TFolderTree& tree) : FTree(tree)
    {
        if (FTree.FChangeLock++ == 0) {
            FSaved = FTree.currentItem();
            FSavedPath = GetNodePath(FSaved);
            FTree.FSelectionDeleted = false;
            FTree.FSelectionFallback = nullptr;
            FOuter = true;
        }
    }
    ~TSelectionGuard()
    {
        if (!FOuter) {
            --FTree.FChangeLock;
            return;
        }
        QTreeWidgetItem* target = FTree.FSelectionDeleted ? FTree.FSelectionFallback : FSaved;
        if (FTree.currentItem() != target)
            FTree.setCurrentItem(target);
        if (target)
            target->setSelected(true);
        FTree.FSelectionDeleted = false;
        FTree.FSelectionFallback = nullptr;
        --FTree.FChangeLock;
        if (target != FSaved || GetNodePath(target) != FSavedPath)
            emit FTree.Change(target);
    }
    TSelectionGuard(const TSelectionGuard&) = delete;
    TSelectionGuard& operator=(const TSelectionGuard&) = delete;

private:
    TFolderTree& FTree;
    QTreeWidgetItem* FSaved = nullptr;
    std::string FSavedPath;
    bool FOuter = false;
};

// Keeps the rows the user sees where they are while changes from the disk
// are applied: rows come and go above or among them without moving the one
// under the pointer, or else the top one, on the screen.
class TFolderTree::TViewAnchor {
public:
    explicit TViewAnchor(TFolderTree& tree) : FTree(tree)
    {
        if (FTree.FAnchorLock++ > 0)
            return;
        FOuter = true;
        FTree.FAnchorRows.clear();
        QWidget* port = FTree.viewport();
        const QPoint pointer = port->mapFromGlobal(QCursor::pos());
        if (port->rect().contains(pointer))
            Add(FTree.itemAt(pointer));
        for (QTreeWidgetItem* item = FTree.itemAt(QPoint(0, 0)); item; item = FTree.itemBelow(item)) {
            const QRect r = FTree.visualItemRect(item);
            if (r.top() >= port->height())
                break;
            Add(item);
        }
    }
    ~TViewAnchor()
    {
        if (--FTree.FAnchorLock > 0 || !FOuter)
            return;
        std::vector<TAnchorRow> rows;
        rows.swap(FTree.FAnchorRows);
        for (const TAnchorRow& row : rows) {
            const QRect r = FTree.visualItemRect(row.Item);
            if (!r.isValid())
                continue; // now inside a collapsed node
            QScrollBar* bar = FTree.verticalScrollBar();
            bar->setValue(bar->value() + r.top() - row.Top);
            return;
        }
    }
    TViewAnchor(const TViewAnchor&) = delete;
    TViewAnchor& operator=(const TViewAnchor&) = delete;

private:
    void Add(QTreeWidgetItem* item)
    {
        if (item)
            FTree.FAnchorRows.push_back({item, FTree.visualItemRect(item).top()});
    }
    TFolderTree& FTree;
    bool FOuter = false;
};

TFolderTree::TFolderTree(QWidget* parent)
    : QTreeWidget(parent), FNamespace(std::make_shared<TShellNamespace>()),
      FIcons(std::make_unique<QFileIconProvider>())
{
    setColumnCount(1);
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIndentation(19);
    setUniformRowHeights(true);
    // Names deep down stay reachable: the column is as wide as its widest
    // shown row and scrolls sideways; rows scroll by pixels so that changes
    // from the disk can leave the rows on screen exactly where they are.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { OnExpanded(item); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentChanged(current); });
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
            bool canEnd = true;
            if (OnEndSessionQuery)
                OnEndSessionQuery(*this, canEnd);
            if (canEnd)
                UnregisterChangeNotify();
            else
                manager.cancel();
        });
    }
}

TFolderTree::~TFolderTree()
{
    // Nobody listens any more while the tree goes.
    blockSignals(true);
    Deactivate();
}

void TFolderTree::SetNamespace(std::shared_ptr<TShellNamespace> ns)
{
    FNamespace = ns ? std::move(ns) : std::make_shared<TShellNamespace>();
}

void TFolderTree::SetActive(bool value)
{
    if (value)
        Activate();
    else
        Deactivate();
}

void TFolderTree::Activate()
{
    if (FActive)
        return;
    FActive = true;
    InitTree();
    UpdateSpecialNode(nkRecycleBin, FFolderOptions.Contains(foRecycleBin));
    UpdateSpecialNode(nkNetwork, FFolderOptions.Contains(foNetworkNeighborhood));
    if (topLevelItemCount() > 0)
        ApplyDisplayMode(topLevelItem(0));
    RegisterChangeNotify();
}

void TFolderTree::Deactivate()
{
    UnregisterChangeNotify();
    if (topLevelItemCount() > 0)
        clear();
    FActive = false;
}

void TFolderTree::RegisterChangeNotify()
{
    FNotifier = std::make_unique<TShellNotifier>();
    FNotifier->OnChanges = [this](const std::vector<TShellChange>& changes) {
        // Errors while following the disk are ignored: the tree stays as it is.
        try {
            ProcessChanges(changes);
        } catch (...) {
        }
    };
    FNotifier->WatchMounts();
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        const TFolderNodeData& d = Node(*it)->Data;
        if (d.Populated && HasFolderPath(d.Kind))
            FNotifier->Watch(d.Path);
        Node(*it)->Data.LeafWatched = false;
        UpdateLeafWatch(*it);
    }
}

void TFolderTree::UnregisterChangeNotify()
{
    FNotifier.reset();
}

void TFolderTree::SetFolderOptions(SFolderOption value)
{
    FFolderOptions = value;
    if (!FActive)
        return;
    UpdateSpecialNode(nkRecycleBin, value.Contains(foRecycleBin));
    UpdateSpecialNode(nkNetwork, value.Contains(foNetworkNeighborhood));
}

void TFolderTree::SetDisplayMode(TDisplayMode value)
{
    FDisplayMode = value;
    if (FActive && topLevelItemCount() > 0)
        ApplyDisplayMode(topLevelItem(0));
}

QString TFolderTree::CasedText(const std::string& name) const
{
    const QString text = QString::fromStdString(name);
    switch (FDisplayMode) {
    case dmUppercase: return text.toUpper();
    case dmLowercase: return text.toLower();
    default: return text;
    }
}

void TFolderTree::ApplyText(TFolderNode* node)
{
    node->setText(0, CasedText(node->Data.Name));
}

void TFolderTree::ApplyDisplayMode(QTreeWidgetItem* node)
{
    ApplyText(Node(node));
    for (int i = 0; i < node->childCount(); ++i)
        ApplyDisplayMode(node->child(i));
}

std::string TFolderTree::GetNodePath(const QTreeWidgetItem* node)
{
    if (!node)
        return std::string();
    const TFolderNodeData& d = static_cast<const TFolderNode*>(node)->Data;
    if (d.Kind == nkFolder || d.Kind == nkDesktop)
        return d.Path;
    return std::string();
}

void TFolderTree::GetSelectedPath(std::string& path) const
{
    path = GetNodePath(currentItem());
}

std::string TFolderTree::SelectedPath() const
{
    return GetNodePath(currentItem());
}

TFolderNode* TFolderTree::Root() const
{
    return topLevelItemCount() > 0 ? Node(topLevelItem(0)) : nullptr;
}

TFolderNode* TFolderTree::SpecialNode(TFolderNodeKind kind) const
{
    TFolderNode* root = Root();
    if (!root)
        return nullptr;
    for (int i = 0; i < root->childCount(); ++i)
        if (Node(root->child(i))->Data.Kind == kind)
            return Node(root->child(i));
    return nullptr;
}

TFolderNode* TFolderTree::MyComputerNode() const
{
    return SpecialNode(nkMyComputer);
}

TFolderNode* TFolderTree::ChildNamed(QTreeWidgetItem* node, const std::string& name)
{
    if (!node)
        return nullptr;
    for (int i = 0; i < node->childCount(); ++i)
        if (Node(node->child(i))->Data.Name == name)
            return Node(node->child(i));
    return nullptr;
}

bool TFolderTree::HasChildren(const QTreeWidgetItem* node)
{
    return node && (node->childCount() > 0 || node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator);
}

int TFolderTree::CompareNodes(const TFolderNode& a, const TFolderNode& b)
{
    const int ra = SpecialRank(a.Data.Kind);
    const int rb = SpecialRank(b.Data.Kind);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    const std::string ta = a.text(0).toStdString();
    const std::string tb = b.text(0).toStdString();
    int c = CompareTextCodes(ta, tb);
    if (c == 0)
        c = ta.compare(tb);
    if (c == 0)
        c = a.Data.Path.compare(b.Data.Path);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

QIcon TFolderTree::FolderIcon(bool link) const
{
    if (FFolderIcon.isNull())
        FFolderIcon = FIcons->icon(QFileIconProvider::Folder);
    if (!link)
        return FFolderIcon;
    if (FLinkFolderIcon.isNull()) {
        // The folder with the small arrow that marks a link.
        QPixmap pm = FFolderIcon.pixmap(16, 16);
        if (pm.isNull()) {
            pm = QPixmap(16, 16);
            pm.fill(Qt::transparent);
        }
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(QRect(0, 9, 7, 7), Qt::white);
        p.setPen(QPen(Qt::black, 1));
        p.drawRect(QRect(0, 9, 6, 6));
        QPainterPath arrow;
        arrow.moveTo(1.5, 14.5);
        arrow.lineTo(5, 11);
        p.drawPath(arrow);
        p.drawLine(QPointF(3, 11), QPointF(5, 11));
        p.drawLine(QPointF(5, 11), QPointF(5, 13));
        FLinkFolderIcon = QIcon(pm);
    }
    return FLinkFolderIcon;
}

void TFolderTree::SetHasChildren(QTreeWidgetItem* node, bool value)
{
    node->setChildIndicatorPolicy(value ? QTreeWidgetItem::ShowIndicator
                                        : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    UpdateLeafWatch(node);
}

void TFolderTree::UpdateLeafWatch(QTreeWidgetItem* node)
{
    TFolderNodeData& d = Node(node)->Data;
    const bool wanted =
        FNotifier && HasFolderPath(d.Kind) && !d.Path.empty() && !d.Populated && !HasChildren(node);
    if (wanted == d.LeafWatched)
        return;
    if (FNotifier) {
        if (wanted)
            FNotifier->Watch(d.Path);
        else
            FNotifier->Unwatch(d.Path);
    }
    d.LeafWatched = wanted;
}

TFolderNode* TFolderTree::NewNode(const std::string& path, const std::string& name, TFolderNodeKind kind,
                                  bool isVirtual)
{
    auto* node = new TFolderNode;
    node->Data.Path = path;
    node->Data.Name = name;
    node->Data.Kind = kind;
    node->Data.Virtual = isVirtual;
    node->setText(0, CasedText(name));
    node->setToolTip(0, QString::fromStdString(path));
    return node;
}

void TFolderTree::InsertSorted(TFolderNode* parent, TFolderNode* node)
{
    node->Data.HasParent = true;
    if (FFolderOptions.Contains(foVirtualFirst) && node->Data.Virtual) {
        parent->insertChild(0, node);
        return;
    }
    int lo = 0;
    int hi = parent->childCount();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (CompareNodes(*Node(parent->child(mid)), *node) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    parent->insertChild(lo, node);
}

TFolderNode* TFolderTree::AddFolderNode(TFolderNode* parent, const std::string& path, const std::string& name,
                                        bool hasSubfolders, bool link, bool sorted)
{
    TFolderNode* node = NewNode(path, name, nkFolder, false);
    node->Data.Link = link;
    node->setIcon(0, FolderIcon(link));
    SetHasChildren(node, hasSubfolders);
    if (sorted) {
        InsertSorted(parent, node);
    } else {
        node->Data.HasParent = true;
        parent->addChild(node);
    }
    return node;
}

TFolderNode* TFolderTree::AddVolumeNode(TFolderNode* parent, const TVolume& volume, int index)
{
    const TFolderNodeKind kind = parent->Data.Kind == nkNetwork ? nkNetworkChild : nkFolder;
    TFolderNode* node = NewNode(volume.Path, volume.DisplayName, kind, false);
    node->setIcon(0, FIcons->icon(volume.Network ? QFileIconProvider::Network : QFileIconProvider::Drive));
    node->setToolTip(0, QString::fromStdString(volume.Path));
    SetHasChildren(node, true);
    node->Data.HasParent = true;
    if (index < 0 || index > parent->childCount())
        parent->addChild(node);
    else
        parent->insertChild(index, node);
    return node;
}

void TFolderTree::MarkPopulated(TFolderNode* node)
{
    if (node->Data.Populated)
        return;
    node->Data.Populated = true;
    if (FNotifier && HasFolderPath(node->Data.Kind))
        FNotifier->Watch(node->Data.Path);
    UpdateLeafWatch(node);
}

void TFolderTree::Forget(QTreeWidgetItem* node)
{
    std::vector<QTreeWidgetItem*> nodes;
    Collect(node, nodes);
    for (QTreeWidgetItem* item : nodes) {
        TFolderNodeData& d = Node(item)->Data;
        if (d.Populated && FNotifier && HasFolderPath(d.Kind))
            FNotifier->Unwatch(d.Path);
        if (d.LeafWatched && FNotifier)
            FNotifier->Unwatch(d.Path);
        d.Populated = false;
        d.LeafWatched = false;
    }
}

void TFolderTree::DeleteNode(QTreeWidgetItem* node)
{
    Forget(node);
    std::erase_if(FAnchorRows, [node](const TAnchorRow& row) { return IsAncestor(node, row.Item); });
    QTreeWidgetItem* current = currentItem();
    if (FSelectionDeleted) {
        if (FSelectionFallback && IsAncestor(node, FSelectionFallback))
            FSelectionFallback = node->parent();
    } else if (current && IsAncestor(node, current)) {
        FSelectionDeleted = true;
        FSelectionFallback = node->parent();
    }
    delete node;
}

void TFolderTree::InitTree()
{
    TUpdateLock lock(this);
    TSelectionGuard guard(*this);
    FDesktopPath = StripSlash(FNamespace->DesktopPath());

    TFolderNode* root = NewNode(FDesktopPath, DesktopText, nkDesktop, false);
    root->setIcon(0, FIcons->icon(QFileIconProvider::Desktop));
    addTopLevelItem(root);

    TFolderNode* computer = NewNode(std::string(), MyComputerText, nkMyComputer, true);
    computer->setIcon(0, FIcons->icon(QFileIconProvider::Computer));
    SetHasChildren(computer, true);
    computer->Data.HasParent = true;
    root->addChild(computer);

    PopulateNode(root);
    SetHasChildren(root, root->childCount() > 0);
    root->setExpanded(true);
    computer->setExpanded(true);
}

void TFolderTree::UpdateSpecialNode(TFolderNodeKind kind, bool wanted)
{
    TFolderNode* root = Root();
    if (!root)
        return;
    TSelectionGuard guard(*this);
    TFolderNode* existing = SpecialNode(kind);
    if (!wanted) {
        if (existing)
            DeleteNode(existing);
        return;
    }
    if (existing)
        return;
    const bool network = kind == nkNetwork;
    TFolderNode* node = NewNode(std::string(), network ? NetworkText : RecycleBinText, kind, true);
    node->setIcon(0, FIcons->icon(network ? QFileIconProvider::Network : QFileIconProvider::Trashcan));
    SetHasChildren(node, network);
    InsertSorted(root, node);
}

bool TFolderTree::PopulateNode(TFolderNode* node)
{
    if (!node)
        return false;
    if (node->Data.Populated) {
        RefreshNode(node);
        return node->childCount() > 0;
    }
    TWaitCursor wait;
    TUpdateLock lock(this);
    TSelectionGuard guard(*this);
    bool result = false;
    bool flag = true;
    switch (node->Data.Kind) {
    case nkRecycleBin:
        flag = false;
        break;
    case nkMyComputer:
    case nkNetwork: {
        const std::vector<TVolume> volumes =
            node->Data.Kind == nkNetwork ? FNamespace->NetworkVolumes() : FNamespace->Volumes();
        for (const TVolume& v : volumes)
            AddVolumeNode(node, v, -1);
        flag = result = !volumes.empty();
        MarkPopulated(node);
        break;
    }
    default: {
        std::vector<TFolderItem> items;
        if (!FNamespace->ListFolders(node->Data.Path, items))
            break; // unreadable: the node keeps its button and gains nothing
        flag = false;
        std::set<std::string> present;
        for (int i = 0; i < node->childCount(); ++i)
            present.insert(Node(node->child(i))->Data.Path);
        std::vector<TFolderNode*> fresh;
        for (const TFolderItem& item : items) {
            if (present.count(item.Path))
                continue;
            TFolderNode* child = NewNode(item.Path, item.Name, nkFolder, false);
            child->Data.Link = item.Link;
            child->Data.HasParent = true;
            child->setIcon(0, FolderIcon(item.Link));
            SetHasChildren(child, item.HasSubfolders);
            fresh.push_back(child);
        }
        flag = result = !fresh.empty() || node->childCount() > 0;
        if (node->childCount() == 0) {
            std::sort(fresh.begin(), fresh.end(),
                      [](const TFolderNode* a, const TFolderNode* b) { return CompareNodes(*a, *b) < 0; });
            QList<QTreeWidgetItem*> list;
            list.reserve(static_cast<qsizetype>(fresh.size()));
            for (TFolderNode* child : fresh)
                list.append(child);
            node->addChildren(list);
        } else {
            for (TFolderNode* child : fresh)
                InsertSorted(node, child);
        }
        MarkPopulated(node);
        break;
    }
    }
    SetHasChildren(node, flag);
    return result;
}

void TFolderTree::ClearChildren(TFolderNode* node)
{
    if (!node)
        return;
    TSelectionGuard guard(*this);
    for (int i = node->childCount() - 1; i >= 0; --i) {
        const TFolderNodeKind kind = Node(node->child(i))->Data.Kind;
        if (kind == nkNetwork || kind == nkMyComputer || kind == nkRecycleBin)
            continue;
        DeleteNode(node->child(i));
    }
    // The node reads its folder again when next expanded.
    if (node->Data.Populated && FNotifier && HasFolderPath(node->Data.Kind))
        FNotifier->Unwatch(node->Data.Path);
    node->Data.Populated = false;
    SetHasChildren(node, true);
}

void TFolderTree::RefreshNode(TFolderNode* node)
{
    if (!node)
        return;
    TUpdateLock lock(this);
    TSelectionGuard guard(*this);
    switch (node->Data.Kind) {
    case nkRecycleBin:
        return;
    case nkMyComputer:
        if (node->Data.Populated)
            RefreshVolumeList(node, FNamespace->Volumes());
        return;
    case nkNetwork:
        if (node->Data.Populated)
            RefreshVolumeList(node, FNamespace->NetworkVolumes());
        return;
    default:
        break;
    }
    if (!node->Data.Populated) {
        SetHasChildren(node, FNamespace->HasSubfolders(node->Data.Path));
        return;
    }
    std::vector<TFolderItem> items;
    if (!FNamespace->ListFolders(node->Data.Path, items))
        return;
    std::set<std::string> onDisk;
    for (const TFolderItem& item : items)
        onDisk.insert(item.Path);
    for (int i = node->childCount() - 1; i >= 0; --i) {
        TFolderNode* child = Node(node->child(i));
        if (child->Data.Kind == nkFolder && !onDisk.count(child->Data.Path))
            DeleteNode(child);
    }
    std::set<std::string> shown;
    for (int i = 0; i < node->childCount(); ++i)
        shown.insert(Node(node->child(i))->Data.Path);
    for (const TFolderItem& item : items) {
        if (shown.count(item.Path)) {
            // A folder not read yet may have gained or lost sub-folders.
            for (int i = 0; i < node->childCount(); ++i) {
                TFolderNode* child = Node(node->child(i));
                if (child->Data.Path == item.Path && !child->Data.Populated)
                    SetHasChildren(child, item.HasSubfolders);
            }
            continue;
        }
        AddFolderNode(node, item.Path, item.Name, item.HasSubfolders, item.Link, true);
    }
    SetHasChildren(node, node->childCount() > 0);
}

void TFolderTree::RefreshVolumeList(TFolderNode* parent, const std::vector<TVolume>& volumes)
{
    if (!parent || !parent->Data.Populated)
        return;
    TSelectionGuard guard(*this);
    std::set<std::string> changedMounts;
    for (int i = parent->childCount() - 1; i >= 0; --i) {
        TFolderNode* child = Node(parent->child(i));
        const bool kept = std::any_of(volumes.begin(), volumes.end(),
                                      [&](const TVolume& v) { return v.Path == child->Data.Path; });
        if (!kept) {
            changedMounts.insert(StripSlash(child->Data.Path));
            DeleteNode(child);
        }
    }
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const TVolume& v = volumes[i];
        TFolderNode* existing = nullptr;
        for (int k = 0; k < parent->childCount(); ++k)
            if (Node(parent->child(k))->Data.Path == v.Path)
                existing = Node(parent->child(k));
        if (!existing) {
            changedMounts.insert(StripSlash(v.Path));
            AddVolumeNode(parent, v, static_cast<int>(i));
            continue;
        }
        if (existing->Data.Name != v.DisplayName) {
            // Other media in the same place: what was read of it is stale.
            collapseItem(existing);
            ClearChildren(existing);
            existing->Data.Name = v.DisplayName;
            ApplyText(existing);
        }
    }
    // A folder that became, or stopped being, a mount point shows other
    // content now. Emptying a folder deletes the stale folders below it, so
    // only the outermost ones are kept.
    std::vector<TFolderNode*> stale;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        TFolderNode* node = Node(*it);
        if (node->Data.Kind == nkFolder && node->Data.Populated && changedMounts.count(StripSlash(node->Data.Path)) &&
            std::none_of(stale.begin(), stale.end(), [&](const TFolderNode* s) { return IsAncestor(s, node); }))
            stale.push_back(node);
    }
    for (TFolderNode* node : stale) {
        collapseItem(node);
        ClearChildren(node);
    }
}

void TFolderTree::RefreshDrives()
{
    TUpdateLock lock(this);
    TSelectionGuard guard(*this);
    if (TFolderNode* computer = MyComputerNode())
        RefreshVolumeList(computer, FNamespace->Volumes());
    if (TFolderNode* network = SpecialNode(nkNetwork))
        RefreshVolumeList(network, FNamespace->NetworkVolumes());
}

TFolderNode* TFolderTree::VolumeNodeFor(const std::string& path) const
{
    TFolderNode* best = nullptr;
    for (TFolderNodeKind kind : {nkMyComputer, nkNetwork}) {
        TFolderNode* parent = SpecialNode(kind);
        if (!parent)
            continue;
        for (int i = 0; i < parent->childCount(); ++i) {
            TFolderNode* v = Node(parent->child(i));
            if (PathIsWithin(path, v->Data.Path) &&
                (!best || StripSlash(v->Data.Path).size() > StripSlash(best->Data.Path).size()))
                best = v;
        }
    }
    return best;
}

void TFolderTree::RefreshDrive(const std::string& path, bool forced)
{
    try {
        TFolderNode* drive = VolumeNodeFor(path);
        if (!drive)
            return;
        const std::vector<TVolume> volumes =
            drive->Data.Kind == nkNetworkChild ? FNamespace->NetworkVolumes() : FNamespace->Volumes();
        std::string name = drive->Data.Name;
        for (const TVolume& v : volumes)
            if (v.Path == drive->Data.Path)
                name = v.DisplayName;
        if (name == drive->Data.Name && !forced)
            return;
        TUpdateLock lock(this);
        TSelectionGuard guard(*this);
        std::vector<QTreeWidgetItem*> nodes;
        Collect(drive, nodes);
        for (QTreeWidgetItem* n : nodes)
            n->setExpanded(false);
        ClearChildren(drive);
        drive->Data.Name = name;
        ApplyText(drive);
    } catch (...) {
    }
}

std::vector<TFolderNode*> TFolderTree::NodesWithPath(const std::string& path) const
{
    std::vector<TFolderNode*> nodes;
    const std::string wanted = StripSlash(path);
    for (QTreeWidgetItemIterator it(const_cast<TFolderTree*>(this)); *it; ++it) {
        TFolderNode* node = Node(*it);
        if (HasFolderPath(node->Data.Kind) && !node->Data.Path.empty() && StripSlash(node->Data.Path) == wanted)
            nodes.push_back(node);
    }
    return nodes;
}

void TFolderTree::RenameNode(TFolderNode* node, const std::string& newPath)
{
    const std::string oldPath = node->Data.Path;
    std::vector<QTreeWidgetItem*> nodes;
    Collect(node, nodes);
    std::vector<QTreeWidgetItem*> expanded;
    for (QTreeWidgetItem* item : nodes) {
        if (item->isExpanded())
            expanded.push_back(item);
        TFolderNodeData& d = Node(item)->Data;
        const bool watched = FNotifier && (d.Populated || d.LeafWatched);
        if (watched)
            FNotifier->Unwatch(d.Path);
        d.Path = newPath + d.Path.substr(oldPath.size());
        item->setToolTip(0, QString::fromStdString(d.Path));
        if (watched)
            FNotifier->Watch(d.Path);
    }
    node->Data.Name = BaseName(newPath);
    ApplyText(node);
    // Back into its sorted place, with what was open still open.
    if (QTreeWidgetItem* parent = node->parent()) {
        parent->takeChild(parent->indexOfChild(node));
        InsertSorted(Node(parent), node);
        for (QTreeWidgetItem* item : expanded)
            item->setExpanded(true);
    }
}

void TFolderTree::ProcessChanges(const std::vector<TShellChange>& changes)
{
    if (!FActive)
        return;
    TUpdateLock lock(this);
    TViewAnchor anchor(*this);
    TSelectionGuard guard(*this);
    std::vector<std::string> targets;
    auto target = [&](const std::string& folder) {
        if (!folder.empty() && std::find(targets.begin(), targets.end(), folder) == targets.end())
            targets.push_back(folder);
    };
    bool drives = false;
    for (const TShellChange& c : changes) {
        switch (c.Event) {
        case TShellEvent::seMkDir:
            FolderCreated(c.Path);
            break;
        case TShellEvent::seRmDir:
            FolderRemoved(c.Path);
            break;
        case TShellEvent::seRenameFolder: {
            // A folder renamed in place keeps its node, its open sub-folders
            // and the selection; either way both parents are read again.
            const std::string oldParent = ParentPath(c.Path);
            const std::string newParent = ParentPath(c.NewPath);
            if (oldParent == newParent) {
                for (TFolderNode* node : NodesWithPath(c.Path)) {
                    QTreeWidgetItem* parent = node->parent();
                    if (node->Data.Kind == nkFolder && parent &&
                        !ChildNamed(parent, BaseName(c.NewPath)))
                        RenameNode(node, JoinPath(StripSlash(ParentPath(node->Data.Path)), BaseName(c.NewPath)));
                }
            }
            target(oldParent);
            target(newParent);
            break;
        }
        case TShellEvent::seMediaChange:
            drives = true;
            break;
        case TShellEvent::seOverflow:
            drives = true;
            for (QTreeWidgetItemIterator it(this); *it; ++it) {
                const TFolderNodeData& d = Node(*it)->Data;
                if (d.Populated && HasFolderPath(d.Kind))
                    target(StripSlash(d.Path));
            }
            break;
        }
    }
    if (drives)
        RefreshDrives();
    for (const std::string& folder : targets)
        for (TFolderNode* node : NodesWithPath(folder))
            RefreshNode(node);
}

TFolderNode* TFolderTree::ChildWithPath(QTreeWidgetItem* node, const std::string& path)
{
    const std::string wanted = StripSlash(path);
    for (int i = 0; i < node->childCount(); ++i) {
        TFolderNode* child = Node(node->child(i));
        if (child->Data.Kind == nkFolder && StripSlash(child->Data.Path) == wanted)
            return child;
    }
    return nullptr;
}

void TFolderTree::FolderCreated(const std::string& path)
{
    const std::vector<TFolderNode*> parents = NodesWithPath(ParentPath(path));
    if (parents.empty())
        return;
    TFolderItem item;
    if (!FNamespace->ReadFolder(path, item))
        return; // gone again, or not a folder
    for (TFolderNode* parent : parents) {
        if (!parent->Data.Populated) {
            if (!parent->Data.Virtual)
                SetHasChildren(parent, true);
            continue;
        }
        if (TFolderNode* child = ChildWithPath(parent, path)) {
            if (!child->Data.Populated)
                SetHasChildren(child, item.HasSubfolders);
            continue;
        }
        AddFolderNode(parent, JoinPath(parent->Data.Path, item.Name), item.Name, item.HasSubfolders, item.Link, true);
        SetHasChildren(parent, true);
    }
}

void TFolderTree::FolderRemoved(const std::string& path)
{
    if (FNamespace->FolderExists(path))
        return; // made again since
    const std::string parentPath = ParentPath(path);
    for (TFolderNode* parent : NodesWithPath(parentPath)) {
        if (!parent->Data.Populated) {
            SetHasChildren(parent, FNamespace->HasSubfolders(parentPath));
            continue;
        }
        if (TFolderNode* child = ChildWithPath(parent, path))
            DeleteNode(child);
        SetHasChildren(parent, parent->childCount() > 0);
    }
}

TFolderNode* TFolderTree::FindNodeByPath(const std::string& path, bool exact)
{
    TFolderNode* root = Root();
    if (!root || path.empty() || path.front() != '/')
        return nullptr;
    const std::string wanted = StripSlash(path);
    TFolderNode* node = nullptr;
    if (PathIsWithin(wanted, root->Data.Path)) {
        node = root;
    } else {
        if (TFolderNode* computer = MyComputerNode(); computer && !computer->Data.Populated)
            PopulateNode(computer);
        node = VolumeNodeFor(wanted);
    }
    if (!node)
        return nullptr;
    std::string rest = wanted.substr(std::min(wanted.size(), StripSlash(node->Data.Path).size()));
    std::size_t pos = 0;
    while (pos < rest.size()) {
        const std::size_t next = rest.find('/', pos);
        const std::string component = rest.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        pos = next == std::string::npos ? rest.size() : next + 1;
        if (component.empty())
            continue;
        const std::string childPath = JoinPath(node->Data.Path, component);
        if (!exact && !node->Data.Populated)
            PopulateNode(node);
        TFolderNode* found = nullptr;
        for (int i = 0; i < node->childCount() && !found; ++i) {
            TFolderNode* child = Node(node->child(i));
            if (child->Data.Kind == nkFolder && child->Data.Path == childPath)
                found = child;
        }
        if (!found)
            return exact ? nullptr : node;
        node = found;
    }
    return node;
}

bool TFolderTree::SelectPath(const std::string& path)
{
    TFolderNode* node = FindNodeByPath(path, false);
    if (!node)
        return false;
    for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
        p->setExpanded(true);
    setCurrentItem(node);
    scrollToItem(node);
    return StripSlash(node->Data.Path) == StripSlash(path);
}

void TFolderTree::OnExpanded(QTreeWidgetItem* item)
{
    TFolderNode* node = Node(item);
    if (node->Data.Populated)
        return;
    bool allowed = false;
    try {
        allowed = PopulateNode(node);
    } catch (...) {
        allowed = false;
    }
    // A folder that cannot be read still opens onto the nodes it holds
    // (the desktop's Poste de travail when the home folder is missing).
    if (!allowed && item->childCount() == 0)
        collapseItem(item);
}

void TFolderTree::OnCurrentChanged(QTreeWidgetItem* current)
{
    if (FChangeLock == 0)
        emit Change(current);
}

void TFolderTree::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (TFolderNode* node = Node(currentItem())) {
        const TFolderNodeData& d = node->Data;
        const bool volume = (!d.Path.empty() && d.Path.back() == '/') || d.Kind != nkFolder;
        if (volume && d.Kind != nkRecycleBin) {
            // The button comes back, for a drive whose media were missing:
            // the next expansion reads it again.
            if (node->childCount() == 0)
                ClearChildren(node);
        } else if (d.Kind == nkFolder && !FNamespace->FolderExists(d.Path)) {
            RefreshDrive(d.Path, true);
            event->accept();
            return;
        }
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}
