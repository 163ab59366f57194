#include "FilterDialog.h"

#include "Application.h"
#include "Document.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"

#include <filesystem>
#include <system_error>

bool TScriptedFilterSaveDialog::Execute(const std::string& folder, const std::string& proposed,
                                        std::string& fileName)
{
    Folders.push_back(folder);
    Proposed.push_back(proposed);
    return TakeScriptedAnswer(Answers, fileName);
}

TFfiltresLogic::TFfiltresLogic(IMessageBoxes& boxes, IFilterSaveDialog& saveDialog)
    : FBoxes(boxes), FSaveDialog(saveDialog)
{
    KernelToGrid();
}

void TFfiltresLogic::FormCreate(const std::string& startDir)
{
    StartDir = startDir;
    // A first run may find no filter folder: it is made, and when that is
    // not possible the list is simply empty.
    std::error_code error;
    std::filesystem::create_directories(FilterFolder(), error);
    KernelToGrid();
    LoadFilterList();
}

void TFfiltresLogic::FormActivate(TDocument& document)
{
    Session.Begin(document);
}

void TFfiltresLogic::LoadFilterList()
{
    Text.clear();
    ItemIndex = -1;
    FilterTable.clear();
    ListFilters(FilterFolder(), FilterTable);
}

void TFfiltresLogic::ChooseFilter(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FilterTable.size())
        return;
    ItemIndex = index;
    Text = FilterTable[static_cast<std::size_t>(index)].Name;
    LoadFilter();
    KernelToGrid();
}

void TFfiltresLogic::TextEdited(const std::string& text)
{
    Text = text;
    ItemIndex = -1;
}

void TFfiltresLogic::LoadFilter()
{
    if (ItemIndex < 0 || static_cast<std::size_t>(ItemIndex) >= FilterTable.size())
        return;
    FilterKernel = ReadFilterFile(FilterTable[static_cast<std::size_t>(ItemIndex)].Path).Kernel;
}

void TFfiltresLogic::TestFilter()
{
    if (!Session.Active())
        return;
    TWaitCursor wait;
    GridToKernel();
    const TKernel5x5 kernel = FilterKernel;
    Session.Preview([&kernel](TBitmap& bitmap) { Convolve5x5(bitmap, kernel); });
}

void TFfiltresLogic::Apply()
{
    TestFilter();
    Session.Apply();
}

void TFfiltresLogic::Effacer()
{
    Session.ShowUntouched();
}

bool TFfiltresLogic::SaveFilter()
{
    std::string path;
    if (ItemIndex < 0 || static_cast<std::size_t>(ItemIndex) >= FilterTable.size()) {
        std::string chosen;
        if (!FSaveDialog.Execute(FilterFolder(), "nom du filtre.fpw", chosen))
            return false;
        path = FilterFileName(chosen);
        std::error_code error;
        if (std::filesystem::exists(path, error) &&
            FBoxes.MessageDlg("Le fichier " + ExtractFileName(path) + " existe déjà. Voulez-vous le remplacer ?",
                              mtConfirmation, mbYes | mbNo) != mrYes)
            return false;
    } else {
        // The listed filter's own file.
        path = FilterTable[static_cast<std::size_t>(ItemIndex)].Path;
    }
    WriteFilterFile(path, Text, Cells);
    LoadFilterList();
    return true;
}
