#include "FileListBox.h"

#include <QDir>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

namespace {

bool WildMatch(const QString& name, int n, const QString& pattern, int p)
{
    while (p < pattern.size()) {
        const QChar c = pattern[p];
        if (c == u'*') {
            while (p < pattern.size() && pattern[p] == u'*')
                ++p;
            if (p == pattern.size())
                return true;
            for (int k = n; k <= name.size(); ++k)
                if (WildMatch(name, k, pattern, p))
                    return true;
            return false;
        }
        if (n >= name.size())
            return false;
        if (c != u'?' && c != name[n])
            return false;
        ++n;
        ++p;
    }
    return n == name.size();
}

bool IsFile(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

} // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent), FDirectory(QDir::currentPath().toStdString())
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    ReadFolder({});
}

bool TFileListBox::MatchesMask(const std::string& name, const std::string& mask)
{
    const QString n = QString::fromStdString(name).toCaseFolded();
    const QStringList patterns = QString::fromStdString(mask).split(u';', Qt::SkipEmptyParts);
    for (const QString& raw : patterns) {
        const QString pattern = raw.trimmed().toCaseFolded();
        if (pattern == u"*.*" || pattern == u"*")
            return true;
        if (WildMatch(n, 0, pattern, 0))
            return true;
    }
    return false;
}

void TFileListBox::SetMask(const std::string& mask)
{
    if (mask == FMask)
        return;
    FMask = mask;
    ReadFolder({});
}

void TFileListBox::SetDirectory(const std::string& directory)
{
    std::string dir = directory;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    FDirectory = dir;
    ReadFolder({});
}

void TFileListBox::ApplyFilePath(const std::string& path)
{
    if (path.empty())
        return;
    if (IsFolder(path)) {
        SetDirectory(path);
        return;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string dirPart = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
    const std::string filePart = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!dirPart.empty())
        SetDirectory(dirPart);
    if (filePart.find_first_of("*?") != std::string::npos) {
        SetMask(filePart);
        return;
    }
    for (int i = 0; i < count(); ++i)
        if (Items(i) == filePart) {
            SetItemIndex(i);
            break;
        }
}

void TFileListBox::Update()
{
    std::vector<std::string> keep;
    for (int i = 0; i < count(); ++i)
        if (Selected(i))
            keep.push_back(Items(i));
    ReadFolder(keep);
}

void TFileListBox::ReadFolder(const std::vector<std::string>& keepSelected)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(FDirectory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.empty() || name[0] == '.')
                continue;
            if (entry->d_type != DT_REG && !IsFile(Join(FDirectory, name)))
                continue;
            if (MatchesMask(name, FMask))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const QString qa = QString::fromStdString(a);
        const QString qb = QString::fromStdString(b);
        const int c = QString::compare(qa, qb, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    const std::set<std::string> keep(keepSelected.begin(), keepSelected.end());
    clear();
    QStringList list;
    list.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names)
        list.append(QString::fromStdString(name));
    addItems(list);
    for (int i = 0; i < count(); ++i)
        if (keep.count(names[static_cast<std::size_t>(i)]))
            item(i)->setSelected(true);
    if (OnChange)
        OnChange(*this);
}

bool TFileListBox::MultiSelect() const
{
    return selectionMode() == QAbstractItemView::ExtendedSelection;
}

void TFileListBox::SetMultiSelect(bool value)
{
    setSelectionMode(value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

std::string TFileListBox::Items(int i) const
{
    const QListWidgetItem* it = item(i);
    return it ? it->text().toStdString() : std::string();
}

std::string TFileListBox::FilePath(int i) const
{
    return Join(FDirectory, Items(i));
}

bool TFileListBox::Selected(int i) const
{
    const QListWidgetItem* it = item(i);
    return it && it->isSelected();
}

void TFileListBox::SetSelected(int i, bool value)
{
    if (QListWidgetItem* it = item(i))
        it->setSelected(value);
}

int TFileListBox::SelCount() const
{
    int n = 0;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected())
            ++n;
    return n;
}

std::string TFileListBox::FileName() const
{
    const int i = currentRow();
    return i >= 0 ? FilePath(i) : std::string();
}
