#pragma once
// Change notifications of the shell namespace: the kernel's file
// notifications (inotify) on the folders a view has loaded, and the changes
// of the mount table. Events come in batches: a burst of changes is
// delivered once, after it has been quiet for a moment.

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

enum class TShellEvent {
    seMkDir,        // Path: the new folder
    seRmDir,        // Path: the removed folder
    seRenameFolder, // Path: the old path, NewPath: the new one
    seMediaChange,  // the mount table changed
    seOverflow      // events were lost: everything watched may have changed
};

struct TShellChange {
    TShellEvent Event = TShellEvent::seMkDir;
    std::string Path;
    std::string NewPath;
    bool operator==(const TShellChange&) const = default;
};

class TShellNotifier : public QObject {
public:
    // Raises Exception when the kernel refuses the notifications.
    explicit TShellNotifier(QObject* parent = nullptr);
    ~TShellNotifier() override;

    // Watches the folder's own entries for sub-folders created, removed and
    // renamed. Watches are counted: each Watch wants one Unwatch.
    bool Watch(const std::string& folder);
    void Unwatch(const std::string& folder);
    void UnwatchAll();
    bool IsWatched(const std::string& folder) const;
    std::size_t WatchCount() const { return FPaths.size(); }

    // Follows the mount table file (by default /proc/self/mounts).
    void WatchMounts(const std::string& mountsFile = "/proc/self/mounts");
    // Reads the mount table again and reports a change when it differs.
    void CheckMounts();

    // The quiet time that ends a burst, and the longest a burst is held.
    int QuietMs = 120;
    int MaxDelayMs = 1000;

    // Receives each batch, in the order the kernel reported the changes.
    std::function<void(const std::vector<TShellChange>&)> OnChanges;

    // Delivers what is pending now (tests; the timer does it otherwise).
    void Flush();
    // Reads the kernel's pending events now.
    void ReadEvents();

private:
    void Post(TShellChange change);
    void Schedule();

    struct TWatch {
        int Descriptor = -1;
        int Count = 0;
    };
    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    std::map<std::string, TWatch> FPaths;
    // One descriptor may stand for several paths (links to one folder).
    std::map<int, std::set<std::string>> FDescriptors;

    int FMountsFd = -1;
    std::string FMountsFile;
    std::string FMountsText;
    QSocketNotifier* FMountsNotifier = nullptr;

    QTimer* FTimer = nullptr;
    qint64 FBurstStart = 0;
    std::vector<TShellChange> FPending;
    // Folders moved out of a watched folder, waiting for their arrival by
    // the kernel's cookie: index into FPending.
    std::map<std::uint32_t, std::size_t> FMoves;
};
