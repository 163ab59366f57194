#include "Fimp.h"

#include "Application.h"
#include "BitmapView.h"
#include "Document.h"
#include "ui_Fimp.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>

TFimp::TFimp(TPrinter& printer, IPrintDialog& dialog, std::function<TDocument*()> activeDocument, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), FUi(std::make_unique<Ui::Fimp>()),
      FLogic(printer, dialog), FActiveDocument(std::move(activeDocument))
{
    FUi->setupUi(this);
    // The client area is the panel's size.
    setFixedSize(FUi->Pimp->size());
    for (QRadioButton* button : {FUi->Plein, FUi->demi, FUi->quart})
        connect(button, &QRadioButton::clicked, this, Guarded([this] { PleinClick(); }));
    connect(FUi->Deplacer, &QPushButton::clicked, this, Guarded([this] { deplacerClick(); }));
    connect(FUi->Hmarge, &QSlider::valueChanged, this,
            [this](int position) { Guarded([this, position] { HmargeChange(position); })(); });
    connect(FUi->LanceImp, &QPushButton::clicked, this, Guarded([this] { LanceImpClick(); }));
    connect(FUi->annuler, &QPushButton::clicked, this, Guarded([this] { annulerClick(); }));
    Sync();
}

TFimp::~TFimp() = default;

void TFimp::Sync()
{
    {
        const QSignalBlocker block(FUi->Hmarge);
        FUi->Hmarge->setMaximum(FLogic.MarginMaximum());
        FUi->Hmarge->setValue(FLogic.Margin);
    }
    FUi->Plein->setChecked(FLogic.Mode == FullPage);
    FUi->demi->setChecked(FLogic.Mode == HalfPage);
    FUi->quart->setChecked(FLogic.Mode == QuarterPage);
    FUi->LabelH->setText(QString::fromStdString(FLogic.LabelH));
    FUi->LabelV->setText(QString::fromStdString(FLogic.LabelV));
    FUi->dimensions->setText(QString::fromStdString(FLogic.Dimensions));
    FUi->page->setPixmap(QPixmap::fromImage(WrapBitmap(FLogic.Page).copy()));
}

void TFimp::PleinClick()
{
    // The quarter button wins over the half button, both over the full one.
    const int mode = FUi->quart->isChecked() ? QuarterPage : FUi->demi->isChecked() ? HalfPage : FullPage;
    // A click on the button already checked changes nothing: the picture
    // keeps its slot and its margin.
    if (mode == FLogic.Mode)
        return;
    FLogic.PleinClick(mode);
    Sync();
}

void TFimp::deplacerClick()
{
    FLogic.deplacerClick();
    Sync();
}

void TFimp::HmargeChange(int position)
{
    FLogic.HmargeChange(position);
    Sync();
}

void TFimp::LanceImpClick()
{
    struct TSyncAfter {
        TFimp& Form;
        ~TSyncAfter() { Form.Sync(); }
    } sync{*this};
    FLogic.LanceImpClick();
}

void TFimp::annulerClick()
{
    close();
}

void TFimp::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    Guarded([this] {
        if (TDocument* document = FActiveDocument ? FActiveDocument() : nullptr)
            FLogic.FormActivate(*document);
        else
            FLogic.FormShow();
    })();
    Sync();
}

void TFimp::hideEvent(QHideEvent* event)
{
    // The copy of the picture is not kept between showings.
    FLogic.ReleasePicture();
    QDialog::hideEvent(event);
}
