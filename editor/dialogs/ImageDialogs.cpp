#include "ImageDialogs.h"

#include "Application.h"
#include "ui_Fcontraste.h"
#include "ui_Ffiltres.h"
#include "ui_Fgris.h"
#include "ui_Fkavrel.h"
#include "ui_Ftrame.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QValidator>

namespace {

// The grid takes digits, "+", "-" and "." only: a key or a pasted text
// holding anything else is refused whole.
class TGridValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return IsGridText(input.toStdString()) ? Acceptable : Invalid;
    }
};

// A name line as the list shows it: UTF-8 when it is, else Latin-1.
QString FromFileText(const std::string& text)
{
    const QByteArray bytes = QByteArray::fromStdString(text);
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.toUtf8() == bytes ? utf8 : QString::fromLatin1(bytes);
}

void ShowEditText(QComboBox* combo, const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    if (combo->currentText() == shown)
        return;
    const QSignalBlocker block(combo);
    combo->setEditText(shown);
}

} // namespace

// ---------------------------------------------------------------------------

TImageDialog::TImageDialog(QWidget* parent) : QDialog(parent)
{
    // A fixed dialog frame with the close button only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
}

void TImageDialog::Execute(TDocument& document)
{
    try {
        FormActivate(document);
    } catch (...) {
        // A start of work that failed half-way (its first preview, say)
        // puts the document back; the error goes on to the error box.
        FormClose();
        throw;
    }
    exec();
    FormClose();
}

void TToneDialog::FormActivate(TDocument& document)
{
    Logic().FormActivate(document);
}

void TToneDialog::FormClose()
{
    Logic().FormClose();
}

void TToneDialog::Bind(const std::vector<QAbstractButton*>& variants, QAbstractButton* apply)
{
    for (QAbstractButton* button : variants)
        connect(button, &QAbstractButton::clicked, this,
                Guarded([this, button] { Logic().ChoiceClick(button->property("Tag").toInt()); }));
    connect(apply, &QAbstractButton::clicked, this, Guarded([this] { AppliquerClick(); }));
}

void TToneDialog::AppliquerClick()
{
    Logic().Apply();
    CloseApplied();
}

TFcontraste::TFcontraste(ITimerClock& clock, QWidget* parent)
    : TToneDialog(parent), FUi(std::make_unique<Ui::Fcontraste>()), FLogic(clock)
{
    FUi->setupUi(this);
    FLogic.Choice = 1;
    FLogic.Position = FUi->TTval->value();
    Bind({FUi->Atone, FUi->Naturel, FUi->Soutenu}, FUi->Appliquercontraste);
    connect(FUi->TTval, &QSlider::valueChanged, this, Guarded([this] { FLogic.TTvalChange(FUi->TTval->value()); }));
}

TFcontraste::~TFcontraste() = default;

TFgris::TFgris(QWidget* parent) : TToneDialog(parent), FUi(std::make_unique<Ui::Fgris>())
{
    FUi->setupUi(this);
    FLogic.Choice = 1;
    Bind({FUi->NBmode1, FUi->NBmode2, FUi->NBmode3}, FUi->AppliquerNB);
}

TFgris::~TFgris() = default;

TFtrame::TFtrame(QWidget* parent) : TToneDialog(parent), FUi(std::make_unique<Ui::Ftrame>())
{
    FUi->setupUi(this);
    FLogic.Choice = 1;
    Bind({FUi->NBmode1, FUi->NBmode2}, FUi->AppliquerNB);
}

TFtrame::~TFtrame() = default;

// ---------------------------------------------------------------------------

bool TQtFilterSaveDialog::Execute(const std::string& folder, const std::string& proposed, std::string& fileName)
{
    QFileDialog dialog(FParent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(QString::fromStdString(folder));
    dialog.setNameFilter(QStringLiteral("*.fpw"));
    dialog.setDefaultSuffix(QStringLiteral("fpw"));
    // The filter dialog asks itself before replacing a file, once the
    // extension is settled.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().first().toStdString();
    return !fileName.empty();
}

TFfiltres::TFfiltres(IMessageBoxes& boxes, const std::string& startDir, IFilterSaveDialog* saveDialog,
                     QWidget* parent)
    : TImageDialog(parent), FUi(std::make_unique<Ui::Ffiltres>()), FQtSaveDialog(this),
      FLogic(boxes, saveDialog ? *saveDialog : FQtSaveDialog)
{
    FUi->setupUi(this);
    setWindowFlag(Qt::WindowStaysOnTopHint);

    // The grid: every cell an edit field, always open, bold.
    QTableWidget* grid = FUi->GR;
    QFont bold = grid->font();
    bold.setBold(true);
    bold.setPixelSize(13);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            auto* cell = new QLineEdit(grid);
            cell->setObjectName(QStringLiteral("GR%1%2").arg(c).arg(r));
            cell->setFrame(false);
            cell->setFont(bold);
            cell->setValidator(new TGridValidator(cell));
            grid->setCellWidget(r, c, cell);
            connect(cell, &QLineEdit::textEdited, this, Guarded([this, cell, r, c] {
                        FLogic.Cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                            cell->text().toStdString();
                    }));
        }
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            if (r < 4 || c < 4)
                setTabOrder(Cell(c, r), c < 4 ? Cell(c + 1, r) : Cell(0, r + 1));
    const int frame = 2 * grid->frameWidth();
    grid->setFixedSize(5 * 32 + frame, 5 * 18 + frame);

    // A filter is loaded when it is picked from the list, or reached with
    // the wheel or the arrow keys; typing in the combo loads nothing.
    connect(FUi->CB, &QComboBox::activated, this, Guarded([this] {
                if (FComboTyped)
                    return;
                FLogic.ChooseFilter(FUi->CB->currentIndex());
                ShowGrid();
            }));
    connect(FUi->CB->lineEdit(), &QLineEdit::textEdited, this, Guarded([this] {
                FComboTyped = true;
                FLogic.TextEdited(FUi->CB->currentText().toStdString());
            }));
    FUi->CB->installEventFilter(this);
    FUi->CB->lineEdit()->installEventFilter(this);
    connect(FUi->SpeedButton2, &QAbstractButton::clicked, this, Guarded([this] { SpeedButton2Click(); }));
    connect(FUi->SpeedButton4, &QAbstractButton::clicked, this, Guarded([this] { SpeedButton4Click(); }));
    connect(FUi->SpeedButton3, &QAbstractButton::clicked, this, Guarded([this] { SpeedButton3Click(); }));
    connect(FUi->SpeedButton1, &QAbstractButton::clicked, this, Guarded([this] { SpeedButton1Click(); }));

    // Creation: the list and the grid. A filter file that can not be read
    // is told; the list shows the filters read before it.
    Guarded([this, &startDir] { FLogic.FormCreate(startDir); })();
    ShowList();
    ShowGrid();
}

TFfiltres::~TFfiltres() = default;

bool TFfiltres::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FUi->CB || watched == FUi->CB->lineEdit()) {
        // The list itself is used: opened, wheeled, or stepped with the keys.
        bool listUsed = event->type() == QEvent::Wheel ||
                        (watched == FUi->CB && event->type() == QEvent::MouseButtonPress);
        if (event->type() == QEvent::KeyPress) {
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_F4:
                listUsed = true;
                break;
            default:
                break;
            }
        }
        if (listUsed)
            FComboTyped = false;
    }
    return TImageDialog::eventFilter(watched, event);
}

QLineEdit* TFfiltres::Cell(int column, int row) const
{
    return qobject_cast<QLineEdit*>(FUi->GR->cellWidget(row, column));
}

void TFfiltres::ShowList()
{
    const QSignalBlocker block(FUi->CB);
    FComboTyped = false;
    FUi->CB->clear();
    for (const TFilterEntry& entry : FLogic.FilterTable)
        FUi->CB->addItem(FromFileText(entry.Name));
    FUi->CB->setCurrentIndex(FLogic.ItemIndex);
    FUi->CB->setEditText(FLogic.ItemIndex >= 0 ? FUi->CB->itemText(FLogic.ItemIndex)
                                               : QString::fromStdString(FLogic.Text));
}

void TFfiltres::ShowGrid()
{
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            Cell(c, r)->setText(
                QString::fromStdString(FLogic.Cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]));
}

void TFfiltres::ReadGrid()
{
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            FLogic.Cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = Cell(c, r)->text().toStdString();
}

void TFfiltres::SpeedButton2Click()
{
    ReadGrid();
    FLogic.TestFilter();
}

void TFfiltres::SpeedButton4Click()
{
    FLogic.Effacer();
}

void TFfiltres::SpeedButton3Click()
{
    ReadGrid();
    // The name line is the combo's text as it stands; a listed filter
    // shown as picked keeps its own name bytes.
    if (FLogic.ItemIndex < 0)
        FLogic.Text = FUi->CB->currentText().toStdString();
    // The list is shown as read again, also when a file stopped the reading.
    try {
        FLogic.SaveFilter();
    } catch (...) {
        ShowList();
        throw;
    }
    ShowList();
}

void TFfiltres::SpeedButton1Click()
{
    ReadGrid();
    FLogic.Apply();
    CloseApplied();
}

// ---------------------------------------------------------------------------

TFkavrel::TFkavrel(IMessageBoxes& boxes, QWidget* parent)
    : TImageDialog(parent), FUi(std::make_unique<Ui::Fkavrel>()), FLogic(boxes)
{
    FUi->setupUi(this);
    FLogic.Prop = FUi->Prop->isChecked();
    for (QComboBox* combo : {FUi->choixL, FUi->ChoixH}) {
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(-1);
    }
    FUi->UDW->SetBuddy(FUi->choixL);
    FUi->UDH->SetBuddy(FUi->ChoixH);
    ShowSizes();

    FUi->UDW->OnStep = [this](int delta) {
        FLogic.UDWStep(delta);
        ShowSizes();
    };
    FUi->UDH->OnStep = [this](int delta) {
        FLogic.UDHStep(delta);
        ShowSizes();
    };
    connect(FUi->choixL, &QComboBox::editTextChanged, this, Guarded([this] {
                FLogic.choixLChange(FUi->choixL->currentText().toStdString());
                ShowSizes();
            }));
    connect(FUi->ChoixH, &QComboBox::editTextChanged, this, Guarded([this] {
                FLogic.ChoixHChange(FUi->ChoixH->currentText().toStdString());
                ShowSizes();
            }));
    connect(FUi->Prop, &QCheckBox::clicked, this, Guarded([this] {
                FLogic.PropClick(FUi->Prop->isChecked());
                ShowSizes();
            }));
    connect(FUi->SpeedButton2, &QAbstractButton::clicked, this, Guarded([this] { SpeedButton2Click(); }));
}

TFkavrel::~TFkavrel() = default;

void TFkavrel::ShowSizes()
{
    ShowEditText(FUi->choixL, FLogic.UDW.Text());
    ShowEditText(FUi->ChoixH, FLogic.UDH.Text());
}

void TFkavrel::SpeedButton2Click()
{
    if (FLogic.Apply())
        CloseApplied();
}
