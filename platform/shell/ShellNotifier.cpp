#include "ShellNotifier.h"

#include "Exceptions.h"
#include "Shell.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

constexpr std::uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

TShellNotifier::TShellNotifier(QObject* parent) : QObject(parent)
{
    FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd < 0)
        throw Exception("Could not register SHChangeNotify");
    FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] { Flush(); });
}

TShellNotifier::~TShellNotifier()
{
    // The socket notifiers go before their descriptors.
    delete FNotifier;
    delete FMountsNotifier;
    if (FFd >= 0)
        ::close(FFd);
    if (FMountsFd >= 0)
        ::close(FMountsFd);
}

bool TShellNotifier::Watch(const std::string& folder)
{
    const std::string path = StripSlash(folder);
    if (path.empty())
        return false;
    TWatch& w = FPaths[path];
    ++w.Count;
    if (w.Descriptor < 0) {
        w.Descriptor = ::inotify_add_watch(FFd, path.c_str(), WatchMask);
        if (w.Descriptor >= 0)
            FDescriptors[w.Descriptor].insert(path);
    }
    return w.Descriptor >= 0;
}

void TShellNotifier::Unwatch(const std::string& folder)
{
    const std::string path = StripSlash(folder);
    const auto it = FPaths.find(path);
    if (it == FPaths.end())
        return;
    if (--it->second.Count > 0)
        return;
    const int wd = it->second.Descriptor;
    FPaths.erase(it);
    if (wd < 0)
        return;
    const auto d = FDescriptors.find(wd);
    if (d == FDescriptors.end())
        return;
    d->second.erase(path);
    if (d->second.empty()) {
        FDescriptors.erase(d);
        ::inotify_rm_watch(FFd, wd);
    }
}

void TShellNotifier::UnwatchAll()
{
    for (const auto& [wd, paths] : FDescriptors)
        ::inotify_rm_watch(FFd, wd);
    FDescriptors.clear();
    FPaths.clear();
}

bool TShellNotifier::IsWatched(const std::string& folder) const
{
    const auto it = FPaths.find(StripSlash(folder));
    return it != FPaths.end() && it->second.Descriptor >= 0;
}

void TShellNotifier::WatchMounts(const std::string& mountsFile)
{
    delete FMountsNotifier;
    FMountsNotifier = nullptr;
    if (FMountsFd >= 0)
        ::close(FMountsFd);
    FMountsFile = mountsFile;
    FMountsFd = ::open(mountsFile.c_str(), O_RDONLY | O_CLOEXEC);
    FMountsText.clear();
    if (FMountsFd < 0)
        return;
    CheckMounts();
    // The kernel marks the mount table "exceptional" when it changes.
    FMountsNotifier = new QSocketNotifier(FMountsFd, QSocketNotifier::Exception, this);
    connect(FMountsNotifier, &QSocketNotifier::activated, this, [this] { CheckMounts(); });
}

void TShellNotifier::CheckMounts()
{
    if (FMountsFd < 0)
        return;
    std::string text;
    char buffer[8192];
    if (::lseek(FMountsFd, 0, SEEK_SET) < 0)
        return;
    for (;;) {
        const ssize_t n = ::read(FMountsFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const bool first = FMountsText.empty();
    if (text == FMountsText)
        return;
    FMountsText = std::move(text);
    if (!first)
        Post({TShellEvent::seMediaChange, std::string(), std::string()});
}

void TShellNotifier::ReadEvents()
{
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                Post({TShellEvent::seOverflow, std::string(), std::string()});
                continue;
            }
            const auto d = FDescriptors.find(ev->wd);
            if (ev->mask & IN_IGNORED) {
                // The folder is gone (removed or unmounted): its watch with it.
                if (d != FDescriptors.end()) {
                    for (const std::string& path : d->second) {
                        const auto p = FPaths.find(path);
                        if (p != FPaths.end())
                            p->second.Descriptor = -1;
                    }
                    FDescriptors.erase(d);
                }
                continue;
            }
            if (d == FDescriptors.end() || !(ev->mask & IN_ISDIR) || ev->len == 0)
                continue;
            const std::string name(ev->name);
            for (const std::string& folder : d->second) {
                const std::string path = JoinPath(folder, name);
                if (ev->mask & (IN_CREATE)) {
                    Post({TShellEvent::seMkDir, path, std::string()});
                } else if (ev->mask & IN_DELETE) {
                    Post({TShellEvent::seRmDir, path, std::string()});
                } else if (ev->mask & IN_MOVED_FROM) {
                    Post({TShellEvent::seRmDir, path, std::string()});
                    FMoves[ev->cookie] = FPending.size() - 1;
                } else if (ev->mask & IN_MOVED_TO) {
                    const auto m = FMoves.find(ev->cookie);
                    if (m != FMoves.end() && m->second < FPending.size()) {
                        TShellChange& from = FPending[m->second];
                        from.Event = TShellEvent::seRenameFolder;
                        from.NewPath = path;
                        FMoves.erase(m);
                        Schedule();
                    } else {
                        Post({TShellEvent::seMkDir, path, std::string()});
                    }
                }
            }
        }
    }
}

void TShellNotifier::Post(TShellChange change)
{
    if (FPending.empty())
        FBurstStart = Now();
    FPending.push_back(std::move(change));
    Schedule();
}

void TShellNotifier::Schedule()
{
    const qint64 held = Now() - FBurstStart;
    const qint64 wait = std::clamp<qint64>(std::min<qint64>(QuietMs, MaxDelayMs - held), 0, QuietMs);
    FTimer->start(static_cast<int>(wait));
}

void TShellNotifier::Flush()
{
    FTimer->stop();
    FMoves.clear();
    if (FPending.empty())
        return;
    std::vector<TShellChange> batch;
    batch.swap(FPending);
    if (OnChanges)
        OnChanges(batch);
}
