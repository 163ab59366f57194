#pragma once
// TFsauve, the save assistant's window ("Assistant sauvegarde"): the tabs
// BMP, GIF, JPG and PNG of the Designer form, passed on to TFsauveLogic.
// The tab shown last stays active for the next showing.

#include "ImageDialogs.h"
#include "SaveAssistant.h"

#include <memory>

namespace Ui {
class Fsauve;
}

// The save dialog of the desktop, over a parent window.
class TQtSaveAsDialog : public ISaveAsDialog {
public:
    explicit TQtSaveAsDialog(QWidget* parent) : FParent(parent) {}
    bool Execute(const std::string& filter, const std::string& defaultExt, const std::string& folder,
                 const std::string& proposed, std::string& fileName) override;

private:
    QWidget* FParent;
};

class TFsauve : public TImageDialog {
public:
    // saveDialog null: the desktop's save dialog. threaded: previews are
    // encoded off the user-interface thread.
    TFsauve(ITimerClock& clock, IMessageBoxes& boxes, ISaveAsDialog* saveDialog = nullptr, bool threaded = true,
            QWidget* parent = nullptr);
    ~TFsauve() override;
    TFsauveLogic& Logic() { return FLogic; }
    Ui::Fsauve& Form() { return *FUi; }

    void FormActivate(TDocument& document) override;
    void FormClose() override { FLogic.FormClose(); }

    void PCChange(int index);
    void calChange();
    void Rcoul16Click();
    void enregistrerClick();

private:
    // The labels show the logic's texts.
    void ShowLabels();

    std::unique_ptr<Ui::Fsauve> FUi;
    TQtSaveAsDialog FQtSaveDialog;
    TFsauveLogic FLogic;
};
