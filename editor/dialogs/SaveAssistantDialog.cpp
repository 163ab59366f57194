#include "SaveAssistantDialog.h"

#include "Application.h"
#include "FileDialogs.h"
#include "ui_Fsauve.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStandardPaths>

bool TQtSaveAsDialog::Execute(const std::string& filter, const std::string& defaultExt, const std::string& folder,
                              const std::string& proposed, std::string& fileName)
{
    QFileDialog dialog(FParent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QString start = QString::fromStdString(folder);
    // A new picture goes to the user's pictures folder; where there is none,
    // to the home folder, never among the program's own files.
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    dialog.setDirectory(start);
    dialog.setNameFilters(QtNameFilters(filter));
    dialog.setDefaultSuffix(QString::fromStdString(defaultExt));
    dialog.selectFile(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().first().toStdString();
    return !fileName.empty();
}

TFsauve::TFsauve(ITimerClock& clock, IMessageBoxes& boxes, ISaveAsDialog* saveDialog, bool threaded,
                 QWidget* parent)
    : TImageDialog(parent), FUi(std::make_unique<Ui::Fsauve>()), FQtSaveDialog(this),
      FLogic(clock, boxes, saveDialog ? *saveDialog : FQtSaveDialog, threaded)
{
    FUi->setupUi(this);
    FUi->PC->setCurrentIndex(stBMP);
    FLogic.Settings.Tab = stBMP;
    FLogic.Settings.JpegPosition = FUi->cal->value();
    FLogic.Settings.PngLevel = FUi->CalPNG->value();
    FLogic.Settings.Colors16 = FUi->Rcoul16->isChecked();
    FLogic.OnChanged = [this] { ShowLabels(); };
    if (!TFsauveLogic::GifAvailable()) {
        FUi->GifNote->setText(QStringLiteral("Le format GIF n'est pas disponible dans cette version."));
        FUi->GifNote->setVisible(true);
        FUi->Rcoul16->setEnabled(false);
        FUi->Rcoul256->setEnabled(false);
    }

    connect(FUi->PC, &QTabWidget::currentChanged, this, [this](int index) {
        Guarded([this, index] { PCChange(index); })();
    });
    connect(FUi->cal, &QSlider::valueChanged, this, Guarded([this] { calChange(); }));
    connect(FUi->CalPNG, &QSlider::valueChanged, this, Guarded([this] { calChange(); }));
    connect(FUi->Rcoul16, &QAbstractButton::clicked, this, Guarded([this] { Rcoul16Click(); }));
    connect(FUi->Rcoul256, &QAbstractButton::clicked, this, Guarded([this] { Rcoul16Click(); }));
    connect(FUi->enregistrer, &QAbstractButton::clicked, this, Guarded([this] { enregistrerClick(); }));
}

TFsauve::~TFsauve() = default;

void TFsauve::FormActivate(TDocument& document)
{
    FLogic.FormActivate(document);
    ShowLabels();
}

void TFsauve::PCChange(int index)
{
    FLogic.SetTab(index);
}

void TFsauve::calChange()
{
    FUi->Label10->setText(QString::number(FUi->cal->value()));
    FUi->Label4->setText(QString::number(FUi->CalPNG->value()));
    FLogic.calChange(FUi->cal->value(), FUi->CalPNG->value());
    ShowLabels();
}

void TFsauve::Rcoul16Click()
{
    FLogic.Rcoul16Click(FUi->Rcoul16->isChecked());
}

void TFsauve::enregistrerClick()
{
    if (FLogic.enregistrerClick())
        CloseApplied();
}

void TFsauve::ShowLabels()
{
    const std::array<QLabel*, SaveTabCount> sizes{FUi->Label19, FUi->LtailleGIF, FUi->LTailleJPG, FUi->LtaillePNG};
    const std::array<QLabel*, SaveTabCount> times{FUi->Label21, FUi->Label17, FUi->Ltemps, FUi->Label13};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        sizes[i]->setText(QString::fromStdString(FLogic.SizeLabels[i]));
        times[i]->setText(QString::fromStdString(FLogic.TimeLabels[i]));
    }
}
