#pragma once
// Helpers of the dialogs' tests: a document held in memory with a view that
// counts what it is asked, test pictures, and the one application object of
// the form tests.

#include "Application.h"
#include "Bitmap.h"
#include "CommandStates.h"
#include "Document.h"
#include "TestUtil.h"

#include <memory>
#include <string>

namespace dlgtest {

// Pixel tables, once per program.
void InitOnce();

// The application object of the form tests, its message boxes scripted.
TApplication& App();
TScriptedMessageBoxes& Boxes();

// A 24-bit picture whose pixels all differ from their neighbours.
TBitmap Pattern(int width, int height);
using testutil::Copy;
using testutil::SamePixels;

// Counts the view's calls.
class TCountingView : public IDocumentView {
public:
    void Redisplay(int, int) override { ++Redisplays; }
    void Repaint() override { ++Repaints; }
    void CaptionChanged() override {}
    int Redisplays = 0;
    int Repaints = 0;
};

// A document of a picture, opened as from a file.
struct TTestDocument {
    explicit TTestDocument(const TBitmap& picture, const std::string& fileName = "/photos/test.bmp");
    TCommandStates States;
    TCountingView View;
    std::unique_ptr<TDocument> Document;
    TDocument& operator*() { return *Document; }
    TDocument* operator->() { return Document.get(); }
};

// Draws a selection frame over part of the document, as a drag does.
void DrawSelection(TDocument& document, const TRect& selection);

} // namespace dlgtest
