#pragma once
// The image dialogs as the frame reaches them: contrast, grey levels,
// halftone, custom filters, resize and the save assistant are shown here; every other window
// goes to the implementation given as the one after this (none: not part of
// the program).

#include "ImageDialogs.h"
#include "SaveAssistantDialog.h"
#include "Services.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <string>

class IMessageBoxes;
class ITimerClock;
class QWidget;
class TDocument;

class TEditorDialogs : public IEditorWindows {
public:
    // later: the windows this one does not show (null: none).
    explicit TEditorDialogs(IEditorWindows* later = nullptr);
    ~TEditorDialogs() override;
    TEditorDialogs(const TEditorDialogs&) = delete;
    TEditorDialogs& operator=(const TEditorDialogs&) = delete;

    // Makes the six dialogs, once, at start-up, over the frame's window.
    // activeDocument answers the document they work on (null: none);
    // startDir is the program's start folder ending in "/"; boxes and clock
    // null: the application's message boxes and the program's clock.
    void Create(QWidget* frame, std::function<TDocument*()> activeDocument, const std::string& startDir,
                IMessageBoxes* boxes = nullptr, ITimerClock* clock = nullptr);

    bool Has(TEditorWindow window) const override;
    void ShowModal(TEditorWindow window) override;
    bool HasBrowser() const override;
    void OpenBrowser() override;
    void CloseBrowser() override;
    void BrowserFileSaved(const std::string& path) override;
    void BrowserFileAdded(const std::string& path) override;
    // Whether the thumbnail browser is open (its toggle down), for the save
    // assistant's tiles; unset: never.
    void SetBrowserShown(std::function<bool()> shown);

    TFcontraste* Fcontraste() const { return FContrast; }
    TFgris* Fgris() const { return FGrey; }
    TFtrame* Ftrame() const { return FHalftone; }
    TFfiltres* Ffiltres() const { return FFilters; }
    TFkavrel* Fkavrel() const { return FResize; }
    TFsauve* Fsauve() const { return FSave; }

private:
    class TApplicationBoxes;

    IEditorWindows& Later() const;

    IEditorWindows* FLater;
    TNoEditorWindows FNone;
    std::unique_ptr<TApplicationBoxes> FApplicationBoxes;
    std::function<TDocument*()> FActiveDocument;
    // The dialogs belong to the frame's window and go with it.
    QPointer<TFcontraste> FContrast;
    QPointer<TFgris> FGrey;
    QPointer<TFtrame> FHalftone;
    QPointer<TFfiltres> FFilters;
    QPointer<TFkavrel> FResize;
    QPointer<TFsauve> FSave;
    std::function<bool()> FBrowserShown;
};
