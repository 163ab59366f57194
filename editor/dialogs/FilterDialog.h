#pragma once
// The logic of the custom filter dialog: a 5 x 5 kernel typed in a grid or
// loaded from a filter file of the list, tried on the document ("TESTER"),
// the untouched picture shown again ("EFFACER"), kept ("APPLIQUER"), and
// stored as a filter file ("SAUVER"). The form TFfiltres holds the controls
// and mirrors this state.

#include "FilterFiles.h"
#include "PreviewSession.h"
#include "photo.h"

#include <deque>
#include <string>
#include <vector>

class IMessageBoxes;
class TDocument;

// The save dialog that names a new filter file.
class IFilterSaveDialog {
public:
    virtual ~IFilterSaveDialog() = default;
    // Starts in folder, proposing the file name; answers false when the
    // user cancels. A name without extension gets ".fpw".
    virtual bool Execute(const std::string& folder, const std::string& proposed, std::string& fileName) = 0;
};

// For tests: answers names set in advance; an empty name, or none left,
// cancels. Records where each call started and what it proposed.
class TScriptedFilterSaveDialog : public IFilterSaveDialog {
public:
    bool Execute(const std::string& folder, const std::string& proposed, std::string& fileName) override;

    std::deque<std::string> Answers;
    std::vector<std::string> Folders;
    std::vector<std::string> Proposed;
};

class TFfiltresLogic {
public:
    TFfiltresLogic(IMessageBoxes& boxes, IFilterSaveDialog& saveDialog);

    // The folder the program started from, ending in "/".
    std::string StartDir;
    // The current weights, all 0 at first.
    TKernel5x5 FilterKernel;
    // The listed filters, in the order of the list.
    std::vector<TFilterEntry> FilterTable;
    // The grid's texts.
    TGridCells Cells;
    // The combo: its text, and the listed filter it shows (-1 once the text
    // was typed).
    std::string Text;
    int ItemIndex = -1;
    TPreviewSession Session;

    // StartDir + "filtres".
    std::string FilterFolder() const { return StartDir + "filtres"; }

    // Creation: the filter folder is made when missing, the grid filled
    // from the kernel, the list read (see LoadFilterList).
    void FormCreate(const std::string& startDir);
    // The start of a showing: snapshot and copy, no preview.
    void FormActivate(TDocument& document);
    // The end of a showing: restored unless applied.
    void FormClose() { Session.End(); }

    // The list read again; the combo is emptied. A filter file that can not
    // be read stops it with EFOpenError naming the file; the filters listed
    // before it stay.
    void LoadFilterList();
    // A filter picked from the list: it is loaded and shown in the grid.
    void ChooseFilter(int index);
    // The combo's text typed: no listed filter is shown any more.
    void TextEdited(const std::string& text);
    // The kernel from the file of the filter at ItemIndex (by its place in
    // the list, so that two files of one name stay apart).
    void LoadFilter();
    void KernelToGrid() { Cells = KernelToCells(FilterKernel); }
    void GridToKernel() { FilterKernel = CellsToKernel(Cells); }

    // "TESTER": the grid's kernel on a fresh copy, shown in the document.
    void TestFilter();
    // "APPLIQUER": tests, then keeps the result; the form closes after it.
    void Apply();
    // "EFFACER": the untouched picture again; the grid stays as it is.
    void Effacer();
    // "SAUVER": writes the filter at ItemIndex over its file, or asks for a
    // new file (and before replacing another existing file); the list is
    // read again after a save. Answers whether a file was written.
    bool SaveFilter();

private:
    IMessageBoxes& FBoxes;
    IFilterSaveDialog& FSaveDialog;
};
