#pragma once
// TMainForm: Corvinel's frame window: the MDI area that holds the document
// windows, the tool bar, the four menus and the four-panel status bar. Its
// layout comes from forms/MainForm.ui; its logic is TEditorFrame, whose
// command states it mirrors into its actions and status panels.

#include "Clipboard.h"
#include "EditorFrame.h"
#include "Services.h"
#include "Desktop.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Ui {
class MainForm;
}
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class TMDIChild;

// What the frame works with. The services not given are the real ones: the
// system clipboard, the desktop, no scanner and none of the later windows.
struct TMainFormServices {
    IClipboard* Clipboard = nullptr;
    IDesktop* Shell = nullptr;
    IScanner* Scanner = nullptr;
    IEditorWindows* Windows = nullptr;
};

class TMainForm : public QMainWindow, public IFrameWindows {
public:
    explicit TMainForm(const TMainFormServices& services = TMainFormServices(), QWidget* parent = nullptr);
    ~TMainForm() override;

    TEditorFrame& Frame() { return *FFrame; }
    QMdiArea* ClientArea() const;
    // An action (tool button or menu item) by its component name.
    QAction* Action(const std::string& name) const;
    QLabel* StatusPanel(int index) const { return FPanels[static_cast<std::size_t>(index)]; }
    // The document windows, the active one first.
    std::vector<TMDIChild*> DocumentWindows();
    TMDIChild* ActiveDocumentWindow();

    void OpenImage(const std::string& name) { FFrame->OpenImage(name); }

    // Puts a new sub-window of this size (its frame included) at the next
    // place of the frame's cascade (TWindowCascade); keeps, when given,
    // answers whether it keeps its size and zoom at a place.
    void PlaceNewWindow(QMdiSubWindow* window, const QSize& size,
                        const std::function<bool(int left, int top)>& keeps = nullptr);

    // The window commands.
    void WindowCascadeItemClick();
    void WindowTileItemClick();
    void WindowTileItem2Click();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // IFrameWindows
    std::vector<IChildWindow*> Children() override;
    IChildWindow* ActiveChild() override;
    IChildWindow* CreateDocumentWindow(std::unique_ptr<TDocument> document) override;
    TFitArea FitArea(IChildWindow& window) override;
    void PlaceWindow(IChildWindow& window, int clientWidth, int clientHeight,
                     const std::function<bool(int left, int top)>& keeps) override;

private:

    void BindCommands();
    void Bind(const std::string& name, void (TEditorFrame::*handler)());
    void ShowCommandState(const std::string& name);
    void Tile(bool horizontal);
    void FillWindowMenu();
    void FileOpen1Execute();
    void SubWindowActivated(QMdiSubWindow* window);

    std::unique_ptr<Ui::MainForm> FUi;
    TQtClipboard FQtClipboard;
    TQtDesktop FQtDesktop;
    TNoScanner FNoScanner;
    TNoEditorWindows FNoWindows;
    std::unique_ptr<TEditorFrame> FFrame;
    std::map<std::string, QAction*> FActions;
    std::array<QLabel*, TCommandStates::PanelCount> FPanels{};
    std::vector<QAction*> FWindowListActions;
    TWindowCascade FCascade;
};

// The frame of the running program.
extern TMainForm* MainForm;
