#pragma once
// The image dialogs of Corvinel: automatic contrast (TFcontraste), grey
// levels (TFgris), black-and-white halftone (TFtrame), custom filters
// (TFfiltres) and resize (TFkavrel). Each is made once at start-up and keeps
// its controls from one showing to the next; Execute shows it modally over
// the document it works on. Their logic is in ToneDialogs.h, FilterDialog.h
// and ResizeDialog.h; these classes hold the controls of the Designer forms
// and pass them on.

#include "FilterDialog.h"
#include "ResizeDialog.h"
#include "ToneDialogs.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class Fcontraste;
class Fgris;
class Ftrame;
class Ffiltres;
class Fkavrel;
}
class IMessageBoxes;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class TDocument;

// What the five dialogs share: one showing runs the start of work once,
// the modal loop, and the end of work however the dialog was closed.
class TImageDialog : public QDialog {
public:
    explicit TImageDialog(QWidget* parent = nullptr);

    // Shows the dialog modally over the document.
    void Execute(TDocument& document);
    // The start and end of a showing, as the modal loop runs them.
    virtual void FormActivate(TDocument& document) = 0;
    virtual void FormClose() = 0;

protected:
    // "APPLIQUER" done: the dialog closes keeping the result.
    void CloseApplied() { accept(); }
};

// The three dialogs of one routine and a choice of variants.
class TToneDialog : public TImageDialog {
public:
    void FormActivate(TDocument& document) override;
    void FormClose() override;
    virtual TToneDialogLogic& Logic() = 0;

protected:
    explicit TToneDialog(QWidget* parent) : TImageDialog(parent) {}
    // Binds the radio buttons (their "Tag" property is the variant) and the
    // "APPLIQUER" button.
    void Bind(const std::vector<QAbstractButton*>& variants, QAbstractButton* apply);
    void AppliquerClick();
};

class TFcontraste : public TToneDialog {
public:
    explicit TFcontraste(ITimerClock& clock, QWidget* parent = nullptr);
    ~TFcontraste() override;
    TFcontrasteLogic& Logic() override { return FLogic; }
    Ui::Fcontraste& Form() { return *FUi; }

private:
    std::unique_ptr<Ui::Fcontraste> FUi;
    TFcontrasteLogic FLogic;
};

class TFgris : public TToneDialog {
public:
    explicit TFgris(QWidget* parent = nullptr);
    ~TFgris() override;
    TFgrisLogic& Logic() override { return FLogic; }
    Ui::Fgris& Form() { return *FUi; }

private:
    std::unique_ptr<Ui::Fgris> FUi;
    TFgrisLogic FLogic;
};

class TFtrame : public TToneDialog {
public:
    explicit TFtrame(QWidget* parent = nullptr);
    ~TFtrame() override;
    TFtrameLogic& Logic() override { return FLogic; }
    Ui::Ftrame& Form() { return *FUi; }

private:
    std::unique_ptr<Ui::Ftrame> FUi;
    TFtrameLogic FLogic;
};

// The save dialog of a new filter file, over a parent window.
class TQtFilterSaveDialog : public IFilterSaveDialog {
public:
    explicit TQtFilterSaveDialog(QWidget* parent) : FParent(parent) {}
    bool Execute(const std::string& folder, const std::string& proposed, std::string& fileName) override;

private:
    QWidget* FParent;
};

class TFfiltres : public TImageDialog {
public:
    // startDir: the program's start folder, ending in "/". saveDialog null:
    // the real save dialog.
    TFfiltres(IMessageBoxes& boxes, const std::string& startDir, IFilterSaveDialog* saveDialog = nullptr,
              QWidget* parent = nullptr);
    ~TFfiltres() override;
    TFfiltresLogic& Logic() { return FLogic; }
    Ui::Ffiltres& Form() { return *FUi; }
    // The edit field of grid cell (column, row).
    QLineEdit* Cell(int column, int row) const;

    void FormActivate(TDocument& document) override { FLogic.FormActivate(document); }
    void FormClose() override { FLogic.FormClose(); }

    // The buttons' handlers.
    void SpeedButton2Click(); // TESTER
    void SpeedButton4Click(); // EFFACER
    void SpeedButton3Click(); // SAUVER
    void SpeedButton1Click(); // APPLIQUER

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowList();
    void ShowGrid();
    void ReadGrid();

    std::unique_ptr<Ui::Ffiltres> FUi;
    // Text was typed into the combo since the list was last used: the
    // combo's own matching of that text (on Enter, on leaving the field)
    // loads no filter.
    bool FComboTyped = false;
    TQtFilterSaveDialog FQtSaveDialog;
    TFfiltresLogic FLogic;
};

class TFkavrel : public TImageDialog {
public:
    explicit TFkavrel(IMessageBoxes& boxes, QWidget* parent = nullptr);
    ~TFkavrel() override;
    TFkavrelLogic& Logic() { return FLogic; }
    Ui::Fkavrel& Form() { return *FUi; }

    void FormActivate(TDocument& document) override { FLogic.FormActivate(document); }
    void FormClose() override { FLogic.FormClose(); }

    void SpeedButton2Click(); // APPLIQUER

private:
    // The fields show the logic's values.
    void ShowSizes();

    std::unique_ptr<Ui::Fkavrel> FUi;
    TFkavrelLogic FLogic;
};
