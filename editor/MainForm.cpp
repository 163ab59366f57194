#include "MainForm.h"

#include "Application.h"
#include "ChildWin.h"
#include "Hints.h"
#include "Icons.h"
#include "Picture.h"
#include "ui_MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

TMainForm* MainForm = nullptr;

namespace {

// Keeps a tool button whose command has no hint without a tool tip (Qt
// would show the command's text instead).
class TNoToolTip : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return event->type() == QEvent::ToolTip || QObject::eventFilter(watched, event);
    }
};

} // namespace

TMainForm::TMainForm(const TMainFormServices& services, QWidget* parent)
    : QMainWindow(parent), FUi(std::make_unique<Ui::MainForm>())
{
    FUi->setupUi(this);
    setWindowIcon(ProgramIcon());
    if (!MainForm)
        MainForm = this;

    TEditorServices editor;
    editor.Boxes = &Application->MessageBoxes();
    editor.Clipboard = services.Clipboard ? services.Clipboard : &FQtClipboard;
    editor.Shell = services.Shell ? services.Shell : &FQtDesktop;
    editor.Scanner = services.Scanner ? services.Scanner : &FNoScanner;
    editor.Windows = services.Windows ? services.Windows : &FNoWindows;
    FFrame = std::make_unique<TEditorFrame>(*this, editor);

    // Every command's hint: the short part is the tool tip, the long part
    // goes to status panel 0.
    for (QAction* action : findChildren<QAction*>()) {
        if (action->objectName().isEmpty())
            continue;
        FActions[action->objectName().toStdString()] = action;
        const THintParts hint = SplitHint(action->property("hint").toString().toStdString());
        action->setToolTip(QString::fromStdString(hint.Short));
        action->setStatusTip(QString::fromStdString(hint.Long));
        const QIcon icon = CommandIcon(action->objectName());
        if (!icon.isNull())
            action->setIcon(icon);
    }
    for (QMenu* menu : FUi->MainMenu1->findChildren<QMenu*>()) {
        const THintParts hint = SplitHint(menu->property("hint").toString().toStdString());
        menu->menuAction()->setStatusTip(QString::fromStdString(hint.Long));
    }
    // The tool buttons carry their command's name too, and the hand cursor.
    auto* noToolTip = new TNoToolTip(this);
    for (QAction* action : FUi->ToolBar2->actions()) {
        if (action->isSeparator())
            continue;
        if (QWidget* button = FUi->ToolBar2->widgetForAction(action)) {
            button->setObjectName(action->objectName());
            button->setCursor(Qt::PointingHandCursor);
            if (action->property("hint").toString().isEmpty())
                button->installEventFilter(noToolTip);
        }
    }

    // The status bar: panel 0 takes the hints, panels 1 to 3 are 86 wide.
    for (int i = 0; i < TCommandStates::PanelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Panel%1").arg(i));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        if (i == 0) {
            FUi->StatusBar->addWidget(label, 1);
        } else {
            label->setFixedWidth(86);
            label->setAlignment(Qt::AlignCenter);
            FUi->StatusBar->addPermanentWidget(label);
        }
        FPanels[static_cast<std::size_t>(i)] = label;
    }

    FUi->ClientArea->setActivationOrder(QMdiArea::StackingOrder);
    connect(FUi->ClientArea, &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow* window) { SubWindowActivated(window); });
    connect(FUi->Window1, &QMenu::aboutToShow, this, Guarded([this] { FillWindowMenu(); }));

    FFrame->States.OnCommandChanged = [this](const std::string& name) { ShowCommandState(name); };
    FFrame->States.OnPanelChanged = [this](int index) {
        FPanels[static_cast<std::size_t>(index)]->setText(QString::fromStdString(FFrame->States.Panel(index)));
    };
    BindCommands();

    FFrame->FormCreate();
    for (const auto& entry : FActions)
        ShowCommandState(entry.first);
    for (int i = 0; i < TCommandStates::PanelCount; ++i)
        FPanels[static_cast<std::size_t>(i)]->setText(QString::fromStdString(FFrame->States.Panel(i)));
}

TMainForm::~TMainForm()
{
    // The windows go while the frame's logic still exists.
    FFrame->States.OnCommandChanged = nullptr;
    FFrame->States.OnPanelChanged = nullptr;
    for (QMdiSubWindow* sub : FUi->ClientArea->subWindowList())
        delete sub;
    if (MainForm == this)
        MainForm = nullptr;
}

QMdiArea* TMainForm::ClientArea() const
{
    return FUi->ClientArea;
}

QAction* TMainForm::Action(const std::string& name) const
{
    const auto it = FActions.find(name);
    return it == FActions.end() ? nullptr : it->second;
}

void TMainForm::ShowCommandState(const std::string& name)
{
    QAction* action = Action(name);
    if (!action || !FFrame->States.Known(name))
        return;
    const TCommandStates& states = FFrame->States;
    action->setEnabled(states.Enabled(name));
    if (action->isCheckable())
        action->setChecked(states.Checked(name));
}

void TMainForm::Bind(const std::string& name, void (TEditorFrame::*handler)())
{
    QAction* action = Action(name);
    if (!action)
        return;
    connect(action, &QAction::triggered, this, Guarded([this, handler] { (FFrame.get()->*handler)(); }));
}

void TMainForm::BindCommands()
{
    using F = TEditorFrame;
    connect(Action("bouvrir"), &QAction::triggered, this, Guarded([this] { FileOpen1Execute(); }));
    connect(Action("FileOpenItem"), &QAction::triggered, this, Guarded([this] { FileOpen1Execute(); }));
    connect(Action("Bparcourir"), &QAction::triggered, this, [this](bool down) {
        Guarded([this, down] { FFrame->BparcourirClick(down); })();
        ShowCommandState("Bparcourir");
    });
    connect(Action("Parcourir1"), &QAction::triggered, this, [this] {
        Guarded([this] { FFrame->Parcourir1Click(); })();
        ShowCommandState("Parcourir1");
    });
    Bind("benr", &F::benrClick);
    Bind("FileSaveItem", &F::benrClick);
    Bind("Benrsous", &F::BenrsousClick);
    Bind("FileSaveAsItem", &F::BenrsousClick);
    Bind("bsourcescan", &F::bsourcescanClick);
    Bind("Choixduscanneur1", &F::bsourcescanClick);
    Bind("bscan", &F::bscanClick);
    Bind("Numriser1", &F::bscanClick);
    Bind("bimprimer", &F::bimprimerClick);
    Bind("Imprimer1", &F::bimprimerClick);
    Bind("bimpv", &F::bimpvClick);
    Bind("Imprimerlesvignettes1", &F::bimpvClick);
    Bind("bannuler", &F::bannulerClick);
    Bind("Annulerladernireaction1", &F::bannulerClick);
    Bind("bcopier", &F::bcopierClick);
    Bind("Copierdanslepressepapier1", &F::bcopierClick);
    Bind("bcoller", &F::bcollerClick);
    Bind("Collerdepuislepressepapier1", &F::bcollerClick);
    Bind("bduplique", &F::bdupliqueClick);
    Bind("Dupliquer1", &F::bdupliqueClick);
    Bind("bcontraste", &F::bcontrasteClick);
    Bind("baccentuer", &F::baccentuerClick);
    Bind("baccentuerdav", &F::baccentuerdavClick);
    Bind("badoucir", &F::badoucirClick);
    Bind("badoucirdav", &F::badoucirdavClick);
    Bind("bfiltrep", &F::bfiltrepClick);
    Bind("bgris", &F::bgrisClick);
    Bind("btrame", &F::btrameClick);
    Bind("brotateG", &F::brotateGClick);
    Bind("brotateD", &F::brotateDClick);
    Bind("brecadrer", &F::brecadrerClick);
    Bind("Bkavrel", &F::BkavrelClick);
    Bind("bkavrelc", &F::bkavrelcClick);
    Bind("blplus", &F::blplusClick);
    Bind("blmoins", &F::blmoinsClick);
    Bind("baide", &F::baideClick);
    Bind("AideCorvinel1", &F::baideClick);
    Bind("ToolButton10", &F::HelpAbout1Execute);
    Bind("HelpAboutItem", &F::HelpAbout1Execute);
    Bind("FileCloseItem", &F::FileCloseItemClick);
    connect(Action("FileExitItem"), &QAction::triggered, this, Guarded([this] { close(); }));
    connect(Action("WindowCascadeItem"), &QAction::triggered, this, Guarded([this] { WindowCascadeItemClick(); }));
    connect(Action("WindowTileItem"), &QAction::triggered, this, Guarded([this] { WindowTileItemClick(); }));
    connect(Action("WindowTileItem2"), &QAction::triggered, this, Guarded([this] { WindowTileItem2Click(); }));
}

void TMainForm::FileOpen1Execute()
{
    std::string fileName;
    if (Application->FileDialogs().OpenFileName(GraphicFilter(), fileName))
        FFrame->OpenImage(fileName);
}

std::vector<IChildWindow*> TMainForm::Children()
{
    std::vector<IChildWindow*> children;
    const QList<QMdiSubWindow*> stacking = FUi->ClientArea->subWindowList(QMdiArea::StackingOrder);
    // The frame's list runs from the front (the active window) backwards.
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it)
        if (auto* child = dynamic_cast<IChildWindow*>((*it)->widget()))
            children.push_back(child);
    // The active window first even when it is not the top one.
    if (IChildWindow* active = ActiveChild()) {
        const auto at = std::find(children.begin(), children.end(), active);
        if (at != children.end())
            std::rotate(children.begin(), at, at + 1);
    }
    return children;
}

IChildWindow* TMainForm::ActiveChild()
{
    QMdiSubWindow* sub = FUi->ClientArea->currentSubWindow();
    return sub ? dynamic_cast<IChildWindow*>(sub->widget()) : nullptr;
}

std::vector<TMDIChild*> TMainForm::DocumentWindows()
{
    std::vector<TMDIChild*> windows;
    for (IChildWindow* child : Children())
        if (auto* window = dynamic_cast<TMDIChild*>(child))
            windows.push_back(window);
    return windows;
}

TMDIChild* TMainForm::ActiveDocumentWindow()
{
    return dynamic_cast<TMDIChild*>(ActiveChild());
}

IChildWindow* TMainForm::CreateDocumentWindow(std::unique_ptr<TDocument> document)
{
    auto* child = new TMDIChild(*FFrame, std::move(document));
    QMdiSubWindow* sub = FUi->ClientArea->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(DocumentWindowIcon());
    sub->resize(120, 100);
    // A window moved before it shows is not placed by the area: the frame
    // places it once its picture is fitted (PlaceWindow).
    sub->move(0, 0);
    sub->show();
    FUi->ClientArea->setActiveSubWindow(sub);
    return child;
}

void TMainForm::PlaceWindow(IChildWindow& window, int clientWidth, int clientHeight,
                            const std::function<bool(int left, int top)>& keeps)
{
    auto* child = dynamic_cast<TMDIChild*>(&window);
    QMdiSubWindow* sub = child ? child->SubWindow() : nullptr;
    if (!sub)
        return;
    const QSize frame = sub->size() - child->size();
    PlaceNewWindow(sub, frame + QSize(clientWidth, clientHeight), keeps);
}

void TMainForm::PlaceNewWindow(QMdiSubWindow* window, const QSize& size,
                               const std::function<bool(int left, int top)>& keeps)
{
    QMdiArea* area = FUi->ClientArea;
    const QList<QMdiSubWindow*> windows = area->subWindowList();
    const bool alone = std::none_of(windows.begin(), windows.end(), [window](QMdiSubWindow* other) {
        return other != window && other->isVisible();
    });
    if (alone)
        FCascade.Restart();
    // One step is the height of a title bar, so that each title stays in view.
    const QSize room = area->viewport()->size();
    const TPoint at = FCascade.Next(size.width(), size.height(), room.width(), room.height(),
                                    window->contentsMargins().top(), keeps);
    window->move(at.X, at.Y);
}

TFitArea TMainForm::FitArea(IChildWindow& window)
{
    TFitArea area;
    const QSize client = FUi->ClientArea->viewport()->size();
    area.ClientWidth = client.width();
    area.ClientHeight = client.height();
    if (auto* child = dynamic_cast<TMDIChild*>(&window))
        if (QMdiSubWindow* sub = child->SubWindow()) {
            area.Left = sub->x();
            area.Top = sub->y();
        }
    return area;
}

void TMainForm::SubWindowActivated(QMdiSubWindow* window)
{
    if (!window)
        return;
    if (auto* child = dynamic_cast<TMDIChild*>(window->widget()))
        Application->Protect([child] { child->Document()->FormActivate(); });
}

void TMainForm::WindowCascadeItemClick()
{
    FUi->ClientArea->cascadeSubWindows();
}

void TMainForm::WindowTileItemClick()
{
    Tile(true);
}

void TMainForm::WindowTileItem2Click()
{
    Tile(false);
}

void TMainForm::Tile(bool horizontal)
{
    std::vector<QMdiSubWindow*> windows;
    for (QMdiSubWindow* sub : FUi->ClientArea->subWindowList(QMdiArea::CreationOrder))
        if (sub->isVisible() && !sub->isMinimized())
            windows.push_back(sub);
    const QSize client = FUi->ClientArea->viewport()->size();
    const std::vector<TRect> rects =
        TileRects(static_cast<int>(windows.size()), client.width(), client.height(), horizontal);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        const TRect& r = rects[i];
        windows[i]->setGeometry(r.Left, r.Top, r.Width(), r.Height());
    }
}

void TMainForm::FillWindowMenu()
{
    for (QAction* action : FWindowListActions) {
        FUi->Window1->removeAction(action);
        delete action;
    }
    FWindowListActions.clear();
    const QList<QMdiSubWindow*> windows = FUi->ClientArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    FWindowListActions.push_back(FUi->Window1->addSeparator());
    int number = 1;
    for (QMdiSubWindow* sub : windows) {
        QAction* action = FUi->Window1->addAction(QStringLiteral("&%1 %2").arg(number++).arg(sub->windowTitle()));
        action->setCheckable(true);
        action->setChecked(sub == FUi->ClientArea->currentSubWindow());
        connect(action, &QAction::triggered, this, [this, sub] { FUi->ClientArea->setActiveSubWindow(sub); });
        FWindowListActions.push_back(action);
    }
}

bool TMainForm::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        // Status panel 0 holds the long part of the hint under the pointer.
        const auto* tip = static_cast<QStatusTipEvent*>(event);
        FFrame->States.SetPanel(0, tip->tip().toStdString());
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    try {
        mayClose = FFrame->FormClose();
    } catch (...) {
        mayClose = false;
        Application->HandleException();
    }
    if (mayClose)
        event->accept();
    else
        event->ignore();
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FPanels[0]->setMaximumWidth(std::max(0, StatusPanel0Width(width())));
}
