#include "FimpV.h"

#include "Application.h"
#include "BitmapView.h"
#include "ui_FimpV.h"

#include <QCloseEvent>
#include <QScreen>
#include <QSignalBlocker>

TFimpV::TFimpV(TPrinter& printer, IPrintDialog& dialog, std::function<IContactSheetSource*()> findBrowser,
               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      FUi(std::make_unique<Ui::FimpV>()), FLogic(printer, dialog, std::move(findBrowser))
{
    FUi->setupUi(this);
    setFixedSize(size());
    // The page in progress shows where the print button was.
    FUi->labelP->setGeometry(FUi->Imprimer->geometry());
    FUi->labelP->hide();
    FLogic.FormCreate();
    FLogic.OnProgress = [this] {
        Sync();
        TApplication::ProcessMessages();
    };
    FLogic.OnClose = [this] { accept(); };
    connect(FUi->taillesV, &QComboBox::currentIndexChanged, this,
            [this](int index) { Guarded([this, index] { taillesVChange(index); })(); });
    connect(FUi->Imprimer, &QPushButton::clicked, this, Guarded([this] { ImprimerClick(); }));
    Sync();
}

TFimpV::~TFimpV() = default;

void TFimpV::Sync()
{
    {
        const QSignalBlocker block(FUi->taillesV);
        FUi->taillesV->setCurrentIndex(FLogic.ItemIndex);
    }
    FUi->taillesV->setEnabled(!FLogic.Busy());
    FUi->Label6->setText(QString::fromStdString(FLogic.Label6));
    FUi->Label2->setText(QString::fromStdString(FLogic.Label2));
    FUi->Label3->setText(QString::fromStdString(FLogic.Label3));
    FUi->Label4->setText(QString::fromStdString(FLogic.Label4));
    FUi->labelP->setText(QString::fromStdString(FLogic.LabelP));
    FUi->labelP->setVisible(FLogic.LabelPVisible);
    FUi->Imprimer->setVisible(FLogic.ImprimerVisible);
    FUi->Imod->setPixmap(QPixmap::fromImage(WrapBitmap(FLogic.Imod).copy()));
}

void TFimpV::taillesVChange(int index)
{
    FLogic.taillesVChange(index);
    Sync();
}

void TFimpV::ImprimerClick()
{
    struct TSyncAfter {
        TFimpV& Form;
        ~TSyncAfter() { Form.Sync(); }
    } sync{*this};
    FLogic.ImprimerClick();
}

void TFimpV::reject()
{
    if (!FLogic.Busy())
        QDialog::reject();
}

void TFimpV::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    Guarded([this] {
        FLogic.FormPaint();
        FLogic.FormActivate();
    })();
    Sync();
}

void TFimpV::closeEvent(QCloseEvent* event)
{
    if (FLogic.Busy())
        event->ignore();
    else
        QDialog::closeEvent(event);
}
