#include "EditorTest.h"

#include "QtTestApp.h"
#include "Formats.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace edtest {

void InitOnce()
{
    testqt::InitOnce();
}

TApplication& App()
{
    return testqt::App("Corvinel");
}

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TScriptedFileDialogs& Dialogs()
{
    return testqt::Dialogs();
}

void ResetScripts()
{
    testqt::ResetScripts();
}

TBitmap Pattern(int width, int height)
{
    TBitmap b(width, height, pf24bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 7 + y * 3);
            row[3 * x + 1] = static_cast<std::uint8_t>(x * 13 + y * 29 + 50);
            row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) * 11 + 100);
        }
    }
    return b;
}

void SaveBmp(const TBitmap& bitmap, const std::string& path)
{
    bitmap.SaveToFile(path);
}

TMemoryChild::TMemoryChild(TMemoryWindows& owner, std::unique_ptr<TDocument> document)
    : FOwner(owner), FDocument(std::move(document))
{
}

void TMemoryChild::Focus()
{
    FOwner.Activate(*this);
}

bool TMemoryChild::Close()
{
    ++CloseCalls;
    if (FDocument) {
        if (!FOwner.Frame->DocumentCloseQuery(*FDocument))
            return false;
        FOwner.Frame->DocumentClosed(*FDocument);
    }
    FOwner.Remove(*this);
    return true;
}

std::vector<IChildWindow*> TMemoryWindows::Children()
{
    std::vector<IChildWindow*> children;
    for (auto& child : Open)
        children.push_back(child.get());
    return children;
}

IChildWindow* TMemoryWindows::ActiveChild()
{
    return Open.empty() ? nullptr : Open.front().get();
}

IChildWindow* TMemoryWindows::CreateDocumentWindow(std::unique_ptr<TDocument> document)
{
    Open.insert(Open.begin(), std::make_unique<TMemoryChild>(*this, std::move(document)));
    return Open.front().get();
}

TFitArea TMemoryWindows::FitArea(IChildWindow&)
{
    return TFitArea{ClientWidth, ClientHeight, 0, 0};
}

TMemoryChild& TMemoryWindows::AddOtherWindow()
{
    Open.insert(Open.begin(), std::make_unique<TMemoryChild>(*this, nullptr));
    return *Open.front();
}

void TMemoryWindows::Activate(TMemoryChild& child)
{
    const auto it = std::find_if(Open.begin(), Open.end(), [&](const auto& c) { return c.get() == &child; });
    if (it == Open.end())
        return;
    std::rotate(Open.begin(), it, it + 1);
    if (TDocument* document = child.Document())
        document->FormActivate();
}

void TMemoryWindows::Remove(TMemoryChild& child)
{
    const auto it = std::find_if(Open.begin(), Open.end(), [&](const auto& c) { return c.get() == &child; });
    if (it == Open.end())
        return;
    Closed.push_back(std::move(*it));
    Open.erase(it);
}

TTestFrame::TTestFrame()
{
    InitOnce();
    TEditorServices services;
    services.Boxes = &Boxes;
    services.Clipboard = &Clipboard;
    services.Shell = &Shell;
    services.Scanner = &Scanner;
    services.Windows = &Later;
    Frame = std::make_unique<TEditorFrame>(Windows, services);
    Windows.Frame = Frame.get();
    Frame->FormCreate();
}

} // namespace edtest
