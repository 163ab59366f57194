#pragma once
// The pieces of Corvinel that the frame calls but that live in windows and
// units of their own: the scanner, the image dialogs, the save assistant,
// printing, the About box and the thumbnail browser. The frame reaches them
// only through these interfaces; where one is not part of the program, its
// null object says so and the frame tells the user.

#include "Bitmap.h"

#include <memory>
#include <string>

class IScanner {
public:
    virtual ~IScanner() = default;
    // The scanner's own choice of the data source.
    virtual void SelectScanner() = 0;
    // One page from the scanner as a new bitmap, or null when nothing was
    // acquired (cancelled, no scanner).
    virtual std::unique_ptr<TBitmap> ScanToBitmap() = 0;
};

// No scanner: nothing to choose, nothing acquired.
class TNoScanner : public IScanner {
public:
    void SelectScanner() override {}
    std::unique_ptr<TBitmap> ScanToBitmap() override { return nullptr; }
};

// The modal windows the frame shows.
enum class TEditorWindow {
    AboutBox,      // "A propos"
    Contrast,      // automatic contrast
    Grey,          // grey levels
    Halftone,      // black-and-white halftone
    Filters,       // custom 5x5 filters
    Resize,        // resize dialog
    SaveAssistant, // the save assistant; a completed save sets CloseConfirmed
    Print,         // single-image printing
    ContactSheet,  // contact-sheet printing
};

class IEditorWindows {
public:
    virtual ~IEditorWindows() = default;
    virtual bool Has(TEditorWindow window) const = 0;
    // Shows the window modally over the frame; the image windows work on
    // the active document.
    virtual void ShowModal(TEditorWindow window) = 0;

    // The thumbnail browser, an MDI child of the frame.
    virtual bool HasBrowser() const = 0;
    virtual void OpenBrowser() = 0;
    virtual void CloseBrowser() = 0;
    // A file shown in the browser was written again under this path.
    virtual void BrowserFileSaved(const std::string& path) = 0;
    // A file was written under a new path in the browsed folder.
    virtual void BrowserFileAdded(const std::string&) {}
};

// A program without any of those windows.
class TNoEditorWindows : public IEditorWindows {
public:
    bool Has(TEditorWindow) const override { return false; }
    void ShowModal(TEditorWindow) override {}
    bool HasBrowser() const override { return false; }
    void OpenBrowser() override {}
    void CloseBrowser() override {}
    void BrowserFileSaved(const std::string&) override {}
};
