#pragma once
// TFimpV: the contact-sheet dialog "Planches photos": the count of files,
// the page's preview, the cell size, the page and cell counts and the print
// button, over which the page in progress shows while a job runs. Its
// layout comes from forms/FimpV.ui; its logic is TContactSheets.

#include "ImpVignettes.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class FimpV;
}

class TFimpV : public QDialog {
public:
    // findBrowser answers the open thumbnail browser (null: none).
    TFimpV(TPrinter& printer, IPrintDialog& dialog, std::function<IContactSheetSource*()> findBrowser,
           QWidget* parent = nullptr);
    ~TFimpV() override;

    TContactSheets& Logic() { return FLogic; }
    Ui::FimpV& Form() { return *FUi; }

    // Shows the widgets as the logic has them.
    void Sync();

    void taillesVChange(int index);
    void ImprimerClick();

    // A running job is not left by closing the dialog.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::FimpV> FUi;
    TContactSheets FLogic;
};
