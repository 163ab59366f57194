#include "Unit1.h"

#include "Application.h"
#include "Bitmap.h"
#include "BitmapView.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Picture.h"
#include "Shell.h"
#include "Unit2.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPixmap>

#include <exception>

TForm1* Form1 = nullptr;

namespace {

const QColor Blue(0, 0, 255);
const QColor Black(0, 0, 0);

void SetTextColor(QWidget* w, const QColor& color)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    w->setPalette(p);
}

} // namespace

TForm1::TForm1(QWidget* parent, std::shared_ptr<TShellNamespace> ns) : QWidget(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(558, 432);
    Liste->SetMask("*.jpg");
    Liste->SetMultiSelect(true);
    // The up-down shows its arrows only: the number is Edit1's.
    if (auto* text = UD->findChild<QLineEdit*>())
        text->hide();
    UD->setGeometry(UD->x(), UD->y(), 17, UD->height());
    IM->hide();
    Label6->setText(QStringLiteral(" "));

    if (ns)
        FL->SetNamespace(std::move(ns));
    FL->SetFolderOptions({});
    FL->SetActive(true);

    connect(FL, &TFolderTree::Change, this, Guarded([this] { FLChange(); }));
    connect(Liste, &QListWidget::currentRowChanged, this, Guarded([this] { ListeClick(); }));
    connect(Raucune, &QRadioButton::clicked, this, Guarded([this] { RaucuneClick(); }));
    connect(Rlargeur, &QRadioButton::clicked, this, Guarded([this] { MLEnter(); }));
    connect(Rhauteur, &QRadioButton::clicked, this, Guarded([this] { MHEnter(); }));
    connect(Rmaxi, &QRadioButton::clicked, this, Guarded([this] { RmaxiClick(); }));
    connect(TB, &QSlider::valueChanged, this, Guarded([this] { TBChange(); }));
    connect(UD, &QSpinBox::valueChanged, this, Guarded([this] { UDClick(); }));
    connect(SpeedButton1, &QToolButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));
    connect(SpeedButton2, &QToolButton::clicked, this, Guarded([this] { SpeedButton2Click(); }));
    connect(SpeedButton3, &QToolButton::clicked, this, Guarded([this] { SpeedButton3Click(); }));
    connect(SpeedButton4, &QToolButton::clicked, this, Guarded([this] { SpeedButton4Click(); }));
    connect(SpeedButton5, &QToolButton::clicked, this, Guarded([this] { SpeedButton5Click(); }));

    CheckRadio(Raucune);
    FormCreate();
}

TForm1::~TForm1()
{
    if (::Form1 == this)
        ::Form1 = nullptr;
}

void TForm1::FormCreate()
{
    cx = IM->x() + IM->width() / 2;
    cy = IM->y() + IM->height() / 2;
    Liste->ApplyFilePath(FL->SelectedPath());
    ML->setEnabled(false);
}

void TForm1::FLChange()
{
    const std::string path = FL->SelectedPath();
    Liste->ApplyFilePath(path);
    // Without a folder (Poste de travail) the list keeps its folder, and the
    // status line speaks of that one.
    const std::string folder = path.empty() ? Liste->Directory() : path;
    if (Liste->Count() > 0)
        Label6->setText(QString::fromStdString(" Les nouvelles photos seront stockées dans " + OutputFolder(folder)));
    else
        Label6->setText(QStringLiteral(" Pas de photo dans ce dossier..."));
}

void TForm1::ShowPreviewPicture(const TPicture& picture)
{
    TGraphic* graphic = picture.Graphic();
    if (!graphic || graphic->Empty() || graphic->Width() <= 0 || graphic->Height() <= 0)
        throw EInvalidGraphic("Image vide");
    const TSize size = PreviewSize(graphic->Width(), graphic->Height(), 153);
    TBitmap small(size.Width, size.Height, pf24bit);
    small.Canvas().StretchDraw(Rect(0, 0, size.Width, size.Height), *graphic);
    IM->setPixmap(QPixmap::fromImage(WrapBitmap(small).copy()));
    IM->setGeometry(cx - size.Width / 2, cy - size.Height / 2, size.Width, size.Height);
    IM->show();
}

bool TForm1::ShowPreview(const std::string& path)
{
    IM->hide();
    try {
        const TThumbnailBudgetScope budget;
        TPicture picture;
        picture.LoadFromFile(path);
        ShowPreviewPicture(picture);
        return true;
    } catch (...) {
        IM->hide();
        return false;
    }
}

void TForm1::ListeClick()
{
    const int i = Liste->ItemIndex();
    if (i < 0)
        return;
    ShowPreview(Liste->FilePath(i));
}

void TForm1::CheckRadio(QRadioButton* radio)
{
    radio->setChecked(true);
    for (QRadioButton* r : {Raucune, Rlargeur, Rhauteur, Rmaxi})
        SetTextColor(r, r == radio ? Blue : Black);
}

void TForm1::RaucuneClick()
{
    CheckRadio(Raucune);
    ML->setEnabled(false);
}

void TForm1::MLEnter()
{
    CheckRadio(Rlargeur);
    ML->setEnabled(true);
}

void TForm1::MHEnter()
{
    CheckRadio(Rhauteur);
    ML->setEnabled(true);
}

void TForm1::RmaxiClick()
{
    CheckRadio(Rmaxi);
    ML->setEnabled(true);
}

void TForm1::TBChange()
{
    FQualityGuard = false;
    UD->setValue(TB->value());
    Edit1->setText(QString::number(UD->value()));
    FQualityGuard = true;
}

void TForm1::UDClick()
{
    if (!FQualityGuard)
        return;
    TB->setValue(UD->value());
    Edit1->setText(QString::number(UD->value()));
}

void TForm1::SpeedButton3Click()
{
    for (int i = 0; i < Liste->Count(); ++i)
        Liste->SetSelected(i, true);
}

void TForm1::SpeedButton4Click()
{
    for (int i = 0; i < Liste->Count(); ++i)
        Liste->SetSelected(i, false);
}

void TForm1::SpeedButton5Click()
{
    for (int i = 0; i < Liste->Count(); ++i)
        Liste->SetSelected(i, !Liste->Selected(i));
}

void TForm1::SpeedButton2Click()
{
    if (Fap)
        Fap->exec();
}

TSizeMode TForm1::SizeMode() const
{
    if (Rlargeur->isChecked())
        return smWidth;
    if (Rhauteur->isChecked())
        return smHeight;
    if (Rmaxi->isChecked())
        return smMaximum;
    return smOriginal;
}

void TForm1::ShowMessage(const std::string& text)
{
    if (Application)
        Application->MessageDlg(text, mtCustom, Btn(mbOK));
}

void TForm1::SetControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{FL, Liste, SpeedButton1, SpeedButton2, SpeedButton3,
                                                      SpeedButton4, SpeedButton5, Raucune, Rlargeur, Rhauteur,
                                                      Rmaxi, Filtre, TB, UD})
        w->setEnabled(enabled);
    ML->setEnabled(enabled && !Raucune->isChecked());
}

void TForm1::SpeedButton1Click()
{
    // One run at a time: the button is disabled during a run, but a click
    // already queued must not start a second one inside the first.
    if (FRunning)
        return;
    TConversion job;
    for (int i = 0; i < Liste->Count(); ++i)
        if (Liste->Selected(i))
            job.Files.push_back(Liste->Items(i));
    if (job.Files.empty()) {
        ShowMessage(NoSelectionText);
        return;
    }
    std::string message;
    const std::optional<TSizeRule> size = ReadSizeRule(SizeMode(), ML->text().toStdString(), message);
    if (!size) {
        ShowMessage(message);
        return;
    }
    // Everything the run needs is taken now: the folder, the files, the
    // settings. Nothing the user does during the run changes them.
    job.Folder = Liste->Directory();
    job.Size = *size;
    job.Sharpen = Filtre->isChecked();
    job.Quality = UD->value();

    FRunning = true;
    FCloseRequested = false;
    SetControlsEnabled(false);
    setCursor(Qt::WaitCursor);
    PB->setMaximum(static_cast<int>(job.Files.size()));
    PB->setValue(0);

    TConversionHooks hooks;
    hooks.Loaded = [this](const std::string&, const TPicture& picture) {
        IM->hide();
        ShowPreviewPicture(picture);
        IM->repaint();
        TApplication::ProcessMessages();
    };
    hooks.Progress = [this](int done, int) {
        PB->setValue(done);
        if (OnFileDone)
            OnFileDone();
    };
    hooks.Cancel = [this] { return FCloseRequested; };

    std::exception_ptr error;
    try {
        FLast = ConvertFiles(job, hooks);
    } catch (...) {
        error = std::current_exception();
    }
    FRunning = false;
    SetControlsEnabled(true);
    unsetCursor();
    if (error)
        std::rethrow_exception(error);
    if (FCloseRequested) {
        close();
        return;
    }
    const std::string report = RunReportText(FLast);
    if (!report.empty() && Application)
        Application->MessageDlg(report, mtWarning, Btn(mbOK));
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The window cannot go while the run uses it: the run stops after the
    // file in hand and closes it then.
    if (FRunning) {
        FCloseRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
