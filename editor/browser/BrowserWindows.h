#pragma once
// The thumbnail browser as the frame reaches it: opened and closed by the
// browser toggle, told of the files the save paths write. The other windows
// of IEditorWindows are those of the next implementation.

#include "Services.h"

#include <functional>
#include <memory>
#include <string>

class QMdiArea;
class TMainForm;
class TShellNamespace;

class TBrowserWindows : public IEditorWindows {
public:
    // The browser goes into the frame held by the unit global MainForm
    // unless SetFrame names another.
    explicit TBrowserWindows(IEditorWindows& next);

    void SetFrame(TMainForm* frame) { FFrame = frame; }
    // The namespace of the browser's folder tree (the system's when null).
    void SetNamespace(std::shared_ptr<TShellNamespace> ns) { FNamespace = std::move(ns); }

    bool Has(TEditorWindow window) const override { return FNext.Has(window); }
    void ShowModal(TEditorWindow window) override { FNext.ShowModal(window); }

    bool HasBrowser() const override { return true; }
    // A new browser in the frame, or the open one to the front.
    void OpenBrowser() override;
    void CloseBrowser() override;
    // The file was written again under its path: Miseajourvignette.
    void BrowserFileSaved(const std::string& path) override;
    // A file was written under a new path: Ajoutevignette.
    void BrowserFileAdded(const std::string& path) override;

private:
    TMainForm* Frame() const;

    IEditorWindows& FNext;
    TMainForm* FFrame = nullptr;
    std::shared_ptr<TShellNamespace> FNamespace;
};
