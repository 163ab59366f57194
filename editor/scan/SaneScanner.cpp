#include "SaneScanner.h"

#include "MessageBoxes.h"

const char* const NoScannerText = "Aucun scanneur n'a \u00E9t\u00E9 trouv\u00E9.";

TSaneScanner::TSaneScanner(IMessageBoxes& boxes, IScanDialogs& dialogs) : FBoxes(boxes), FDialogs(dialogs)
{
}

void TSaneScanner::ShowError(const std::string& text)
{
    FBoxes.MessageDlg(text, mtError, Btn(mbOK));
}

std::vector<TScannerDevice> TSaneScanner::FindDevices(TSaneSession& session)
{
    std::vector<TScannerDevice> devices = session.Devices();
    if (devices.empty())
        FBoxes.MessageDlg(NoScannerText, mtInformation, Btn(mbOK));
    return devices;
}

void TSaneScanner::SelectScanner()
{
    try {
        TSaneSession session;
        const std::vector<TScannerDevice> devices = FindDevices(session);
        if (devices.empty())
            return;
        int current = -1;
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i].Name == FChosen)
                current = static_cast<int>(i);
        const int chosen = FDialogs.ChooseDevice(devices, current);
        if (chosen >= 0 && static_cast<std::size_t>(chosen) < devices.size())
            FChosen = devices[static_cast<std::size_t>(chosen)].Name;
    } catch (const Exception& e) {
        ShowError(e.Message);
    }
}

std::unique_ptr<TBitmap> TSaneScanner::ScanToBitmap()
{
    std::string name;
    try {
        TSaneSession session;
        const std::vector<TScannerDevice> devices = FindDevices(session);
        if (devices.empty())
            return nullptr;
        const TScannerDevice* info = &devices.front();
        for (const TScannerDevice& device : devices)
            if (device.Name == FChosen)
                info = &device;
        FChosen = name = info->Name;
        TSaneDevice device(info->Name);
        // A colour page unless the user picks another mode in the settings.
        device.AskForColour();
        if (!FDialogs.EditOptions(device, *info))
            return nullptr;
        struct TProgressGuard {
            IScanDialogs& Dialogs;
            ~TProgressGuard() { Dialogs.EndProgress(); }
        };
        const TScanProgress progress = FDialogs.BeginProgress(*info);
        TProgressGuard guard{FDialogs};
        return device.Scan(progress);
    } catch (const ESaneError& e) {
        ShowError(e.Message);
    } catch (const Exception& e) {
        // A page beyond the pixel budget or the memory: the device is named too.
        ShowError("Le scanneur \u00AB " + name + " \u00BB : " + e.Message);
    } catch (const std::bad_alloc&) {
        ShowError("M\u00E9moire insuffisante pour la page num\u00E9ris\u00E9e.");
    }
    return nullptr;
}
