#pragma once
// What the thumbnail browser shows, for the windows that work on a whole
// folder (the contact sheets): the folder and the picture files of its
// tiles, in the tiles' order. The browser is found among the frame's MDI children by this
// type; this header needs no library of the browser's.

#include <QMdiArea>
#include <QMdiSubWindow>

#include <string>
#include <vector>

class IBrowserFileList {
public:
    virtual ~IBrowserFileList() = default;
    // The folder listed, without a final "/" (except for "/" itself).
    virtual std::string BrowseDirectory() const = 0;
    // The names of the files the tiles show, without their folder: the
    // listed files, then those written into the folder since.
    virtual std::vector<std::string> BrowseFiles() const = 0;
    // The same files as full paths, in the same order.
    virtual std::vector<std::string> BrowseFilePaths() const = 0;
};

// The browser among the windows of an MDI area, or null when none is open.
inline IBrowserFileList* FindBrowserFileList(const QMdiArea* area)
{
    if (!area)
        return nullptr;
    for (QMdiSubWindow* sub : area->subWindowList())
        if (auto* list = dynamic_cast<IBrowserFileList*>(sub->widget()))
            return list;
    return nullptr;
}
