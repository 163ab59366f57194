#pragma once
// TFimp: the single-picture printing dialog: a borderless panel with the
// sheet's preview, the size mode, the slot mover, the side margin, the
// printed size and the print and close buttons. Its layout comes from
// forms/Fimp.ui; its logic is TPagePrint.

#include "Impression.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class Fimp;
}
class TDocument;

class TFimp : public QDialog {
public:
    // activeDocument answers the document the dialog prints (null: none).
    TFimp(TPrinter& printer, IPrintDialog& dialog, std::function<TDocument*()> activeDocument,
          QWidget* parent = nullptr);
    ~TFimp() override;

    TPagePrint& Logic() { return FLogic; }
    Ui::Fimp& Form() { return *FUi; }

    // Shows the widgets as the logic has them.
    void Sync();

    // The handlers, as the widgets call them.
    void PleinClick();
    void deplacerClick();
    void HmargeChange(int position);
    void LanceImpClick();
    void annulerClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<Ui::Fimp> FUi;
    TPagePrint FLogic;
    std::function<TDocument*()> FActiveDocument;
};
