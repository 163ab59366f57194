#pragma once
// Corvinel's scanner over SANE: the frame's scan commands (the choice of the
// device, one page acquired as a new bitmap) with their dialogs behind
// IScanDialogs, so that tests answer them without windows.

#include "Sane.h"
#include "Services.h"

#include <memory>
#include <string>
#include <vector>

class IMessageBoxes;

// The windows of a scan.
class IScanDialogs {
public:
    virtual ~IScanDialogs() = default;
    // The device list; answers the index chosen, -1 when cancelled. current
    // is the one chosen last time (-1: none).
    virtual int ChooseDevice(const std::vector<TScannerDevice>& devices, int current) = 0;
    // The device's own settings before the scan; false when cancelled.
    virtual bool EditOptions(TSaneDevice& device, const TScannerDevice& info) = 0;
    // The progress while the page is read, with its Cancel button; the
    // callback lives until EndProgress.
    virtual TScanProgress BeginProgress(const TScannerDevice& info) = 0;
    virtual void EndProgress() = 0;
};

// The message shown when no device is found.
extern const char* const NoScannerText;

class TSaneScanner : public IScanner {
public:
    TSaneScanner(IMessageBoxes& boxes, IScanDialogs& dialogs);

    // Lists the devices and remembers the one chosen for later scans.
    void SelectScanner() override;
    // Opens the chosen device (the first found when none was chosen or it
    // is gone), asks it for colour, shows its settings, reads one page. Null when cancelled or
    // after an error, which is told in a message box.
    std::unique_ptr<TBitmap> ScanToBitmap() override;

    const std::string& Chosen() const { return FChosen; }

private:
    // The devices found; tells the user and answers none when there is none.
    std::vector<TScannerDevice> FindDevices(TSaneSession& session);
    void ShowError(const std::string& text);

    IMessageBoxes& FBoxes;
    IScanDialogs& FDialogs;
    std::string FChosen;
};
