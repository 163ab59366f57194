#pragma once
// Helpers of the folder tree tests: the application object, a namespace over
// temporary folders, and waiting for the tree to follow the disk.

#include "FolderTree.h"
#include "Shell.h"

#include <functional>
#include <string>
#include <vector>

class TApplication;

namespace treetest {

TApplication& App();

// Handles events until pred holds or timeoutMs passed; answers pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 4000);
// Handles events for a while.
void Pump(int ms);

class TTempNamespace : public TShellNamespace {
public:
    std::string Desktop;
    std::vector<TVolume> Vols;
    std::vector<TVolume> NetVols;
    std::string DesktopPath() const override { return Desktop; }
    std::vector<TVolume> Volumes() const override { return Vols; }
    std::vector<TVolume> NetworkVolumes() const override { return NetVols; }
};

void MakeDirs(const std::string& path);
// The texts of a node's children, in order.
std::vector<std::string> ChildTexts(const QTreeWidgetItem* node);

} // namespace treetest
