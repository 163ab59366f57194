#pragma once
// TAboutBox: Corvinel's About box, the program's icon, name and version and
// the link "Ecrire à l'auteur" that opens the contact address, kept
// scrambled, in the desktop's mail program.

#include "Desktop.h"
#include "Services.h"
#include "ui_AboutBox.h"

#include <QDialog>
#include <QPointer>

#include <memory>
#include <string>

class IMessageBoxes;

// The key and the scrambled contact address.
extern const char* const ContactKey;
const QByteArray& ScrambledContact();

class TAboutBox : public QDialog, public Ui::AboutBox {
public:
    TAboutBox(IDesktop& desktop, IMessageBoxes& boxes, QWidget* parent = nullptr);

    // The link's click: the address unscrambled and opened; a failure is told.
    void Label3Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    IDesktop& FDesktop;
    IMessageBoxes& FBoxes;
};

// The About box as the frame reaches it, made once over the frame's window;
// every other window goes to the implementation given as the one after this.
class TAboutWindows : public IEditorWindows {
public:
    explicit TAboutWindows(IEditorWindows& later) : FLater(later) {}
    // desktop and boxes null: the desktop's own and the application's boxes.
    void Create(QWidget* frame, IDesktop* desktop = nullptr, IMessageBoxes* boxes = nullptr);
    TAboutBox* AboutBox() const { return FBox; }

    bool Has(TEditorWindow window) const override;
    void ShowModal(TEditorWindow window) override;
    bool HasBrowser() const override { return FLater.HasBrowser(); }
    void OpenBrowser() override { FLater.OpenBrowser(); }
    void CloseBrowser() override { FLater.CloseBrowser(); }
    void BrowserFileSaved(const std::string& path) override { FLater.BrowserFileSaved(path); }

private:
    IEditorWindows& FLater;
    QPointer<TAboutBox> FBox;
    std::unique_ptr<IDesktop> FOwnDesktop;
};
