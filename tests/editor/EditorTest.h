#pragma once
// Helpers of the editor's tests: a frame's logic over windows held in
// memory (nothing shown), test pictures, and the one application object of
// the window tests.

#include "Application.h"
#include "Bitmap.h"
#include "Clipboard.h"
#include "EditorFrame.h"
#include "MessageBoxes.h"
#include "Desktop.h"
#include "TestUtil.h"

#include <memory>
#include <string>
#include <vector>

namespace edtest {

// Picture formats and pixel tables, once per program.
void InitOnce();

// The application object of the window tests, its boxes and dialogs scripted.
TApplication& App();
TScriptedMessageBoxes& Boxes();
TScriptedFileDialogs& Dialogs();
void ResetScripts();

// A 24-bit picture whose pixels all differ from their neighbours.
TBitmap Pattern(int width, int height);
// A deep copy.
using testutil::Copy;
// Whether two bitmaps have one size and the same 24-bit pixels.
using testutil::SamePixels;
void SaveBmp(const TBitmap& bitmap, const std::string& path);

class TMemoryWindows;

// A document window held in memory.
class TMemoryChild : public IChildWindow {
public:
    TMemoryChild(TMemoryWindows& owner, std::unique_ptr<TDocument> document);
    TDocument* Document() override { return FDocument.get(); }
    void Focus() override;
    bool Close() override;

    int CloseCalls = 0;

private:
    TMemoryWindows& FOwner;
    std::unique_ptr<TDocument> FDocument;
};

// The frame's MDI area held in memory; the front of the list is active.
class TMemoryWindows : public IFrameWindows {
public:
    std::vector<IChildWindow*> Children() override;
    IChildWindow* ActiveChild() override;
    IChildWindow* CreateDocumentWindow(std::unique_ptr<TDocument> document) override;
    TFitArea FitArea(IChildWindow& window) override;

    // A window that is no document window (as the browser), put in front.
    TMemoryChild& AddOtherWindow();
    void Activate(TMemoryChild& child);
    void Remove(TMemoryChild& child);

    TEditorFrame* Frame = nullptr;
    int ClientWidth = 1000;
    int ClientHeight = 800;
    std::vector<std::unique_ptr<TMemoryChild>> Open;
    std::vector<std::unique_ptr<TMemoryChild>> Closed;
};

// A frame's logic with everything in memory.
struct TTestFrame {
    TTestFrame();

    TMemoryWindows Windows;
    TScriptedMessageBoxes Boxes;
    TMemoryClipboard Clipboard;
    TRecordingDesktop Shell;
    TNoScanner Scanner;
    TNoEditorWindows Later;
    std::unique_ptr<TEditorFrame> Frame;
};

} // namespace edtest
