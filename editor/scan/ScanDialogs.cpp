#include "ScanDialogs.h"

#include "MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString Text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString UnitSuffix(SANE_Unit unit)
{
    switch (unit) {
    case SANE_UNIT_PIXEL:
        return " px";
    case SANE_UNIT_BIT:
        return " bits";
    case SANE_UNIT_MM:
        return " mm";
    case SANE_UNIT_DPI:
        return " dpi";
    case SANE_UNIT_PERCENT:
        return " %";
    case SANE_UNIT_MICROSECOND:
        return QString::fromUtf8(" \u00B5s");
    default:
        return QString();
    }
}

// A number as the device's option takes it back from text.
QString NumberText(double value, bool fixed)
{
    return fixed ? QString::number(value, 'f', 4) : QString::number(std::llround(value));
}

QDialogButtonBox* Buttons(QDialog* dialog, const QString& okText)
{
    auto* box = new QDialogButtonBox(dialog);
    box->addButton(okText, QDialogButtonBox::AcceptRole)->setDefault(true);
    box->addButton("Annuler", QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace

// ---------------------------------------------------------------------------

TDeviceDialog::TDeviceDialog(const std::vector<TScannerDevice>& devices, int current, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("DeviceDialog");
    setWindowTitle("Choix du scanneur");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromUtf8("Scanneurs trouv\u00E9s :"), this));
    Liste = new QListWidget(this);
    Liste->setObjectName("Liste");
    for (const TScannerDevice& device : devices)
        Liste->addItem(Text(device.DisplayName()));
    Liste->setCurrentRow(current >= 0 && current < Liste->count() ? current : 0);
    Liste->setMinimumWidth(360);
    layout->addWidget(Liste);
    layout->addWidget(Buttons(this, "OK"));
    connect(Liste, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int TDeviceDialog::Chosen() const
{
    return Liste->currentRow();
}

// ---------------------------------------------------------------------------

TScanOptionsDialog::TScanOptionsDialog(TSaneDevice& device, const TScannerDevice& info, IMessageBoxes& boxes,
                                       QWidget* parent)
    : QDialog(parent), FDevice(device), FBoxes(boxes)
{
    setObjectName("ScanOptionsDialog");
    setWindowTitle(Text("R\u00E9glages du scanneur " + info.DisplayName()));
    auto* layout = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("Options");
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumSize(600, 400);
    layout->addWidget(scroll);
    layout->addWidget(Buttons(this, QString::fromUtf8("Num\u00E9riser")));
    Rebuild();
}

QWidget* TScanOptionsDialog::Control(const std::string& name) const
{
    return FControls ? FControls->findChild<QWidget*>(Text(name)) : nullptr;
}

void TScanOptionsDialog::Apply(const TScanOption& option, const std::string& value)
{
    try {
        FDevice.Set(option.Name, value);
    } catch (const Exception& e) {
        FBoxes.MessageDlg(e.Message, mtError, Btn(mbOK));
    }
    // The device may have changed this and other options: show what it holds.
    Rebuild();
}

QWidget* TScanOptionsDialog::MakeControl(const TScanOption& o)
{
    const bool live = o.Active() && o.Settable();
    QWidget* control = nullptr;
    const QString title = Text(o.Title.empty() ? o.Name : o.Title);
    if (o.Type == SANE_TYPE_BUTTON) {
        auto* button = new QPushButton(title);
        connect(button, &QPushButton::clicked, this, [this, o] { Apply(o, ""); });
        control = button;
    } else if (o.Type == SANE_TYPE_BOOL && o.IsScalar()) {
        auto* box = new QCheckBox(title);
        if (o.Active())
            box->setChecked(FDevice.GetNumber(o) != 0);
        connect(box, &QCheckBox::toggled, this, [this, o](bool on) { Apply(o, on ? "true" : "false"); });
        control = box;
    } else if (o.Type == SANE_TYPE_STRING && o.Constraint == TScanOption::TConstraint::StringList) {
        auto* combo = new QComboBox;
        for (const std::string& s : o.Strings)
            combo->addItem(Text(s));
        if (o.Active())
            combo->setCurrentIndex(combo->findText(Text(FDevice.GetString(o))));
        connect(combo, &QComboBox::activated, this,
                [this, o, combo](int) { Apply(o, combo->currentText().toStdString()); });
        control = combo;
    } else if (o.IsScalar() && o.Constraint == TScanOption::TConstraint::WordList) {
        auto* combo = new QComboBox;
        const bool fixed = o.Type == SANE_TYPE_FIXED;
        for (double w : o.Words)
            combo->addItem(QString::number(w) + UnitSuffix(o.Unit), NumberText(w, fixed));
        if (o.Active())
            combo->setCurrentIndex(combo->findData(NumberText(FDevice.GetNumber(o), fixed)));
        connect(combo, &QComboBox::activated, this,
                [this, o, combo](int) { Apply(o, combo->currentData().toString().toStdString()); });
        control = combo;
    } else if (o.IsScalar() && (o.Type == SANE_TYPE_INT || o.Type == SANE_TYPE_FIXED)) {
        auto* spin = new QDoubleSpinBox;
        const bool fixed = o.Type == SANE_TYPE_FIXED;
        spin->setDecimals(fixed ? 2 : 0);
        if (o.Constraint == TScanOption::TConstraint::Range) {
            spin->setRange(o.Min, o.Max);
            spin->setSingleStep(o.Quant > 0 ? o.Quant : 1);
        } else {
            spin->setRange(fixed ? -32768 : -2147483648.0, fixed ? 32767 : 2147483647.0);
        }
        spin->setSuffix(UnitSuffix(o.Unit));
        const double start = o.Active() ? FDevice.GetNumber(o) : 0;
        spin->setValue(start);
        connect(spin, &QDoubleSpinBox::editingFinished, this, [this, o, spin, start, fixed] {
            if (spin->isVisible() && spin->value() != start)
                Apply(o, NumberText(spin->value(), fixed).toStdString());
        });
        control = spin;
    } else if (o.Type == SANE_TYPE_STRING) {
        auto* edit = new QLineEdit;
        const QString start = o.Active() ? Text(FDevice.GetString(o)) : QString();
        edit->setText(start);
        connect(edit, &QLineEdit::editingFinished, this, [this, o, edit, start] {
            if (edit->isVisible() && edit->text() != start)
                Apply(o, edit->text().toStdString());
        });
        control = edit;
    } else {
        return nullptr; // arrays of values: left as the device has them
    }
    // Long list entries do not widen the dialog past its room.
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(16);
    }
    control->setObjectName(Text(o.Name));
    control->setToolTip(Text(o.Description));
    control->setEnabled(live);
    return control;
}

void TScanOptionsDialog::Rebuild()
{
    auto* scroll = findChild<QScrollArea*>("Options");
    // The old controls go once their signals are done.
    if (QWidget* old = scroll->takeWidget()) {
        old->hide();
        old->deleteLater();
    }
    auto* controls = new QWidget;
    auto* form = new QFormLayout(controls);
    try {
        for (const TScanOption& o : FDevice.Options()) {
            if (o.IsGroup()) {
                auto* heading = new QLabel(Text(o.Title));
                QFont bold = heading->font();
                bold.setBold(true);
                heading->setFont(bold);
                form->addRow(heading);
                continue;
            }
            // Advanced options and those the device sets itself stay as they are.
            if (o.Name.empty() || (o.Capabilities & SANE_CAP_ADVANCED) || !o.Settable())
                continue;
            QWidget* control = MakeControl(o);
            if (!control)
                continue;
            if (o.Type == SANE_TYPE_BOOL || o.Type == SANE_TYPE_BUTTON)
                form->addRow(control);
            else
                form->addRow(Text((o.Title.empty() ? o.Name : o.Title) + " :"), control);
        }
    } catch (const Exception& e) {
        FBoxes.MessageDlg(e.Message, mtError, Btn(mbOK));
    }
    scroll->setWidget(controls);
    FControls = controls;
}

// ---------------------------------------------------------------------------

TQtScanDialogs::TQtScanDialogs(IMessageBoxes& boxes, QWidget* parent) : FBoxes(boxes), FParent(parent)
{
}

TQtScanDialogs::~TQtScanDialogs()
{
    EndProgress();
}

int TQtScanDialogs::ChooseDevice(const std::vector<TScannerDevice>& devices, int current)
{
    TDeviceDialog dialog(devices, current, FParent);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
}

bool TQtScanDialogs::EditOptions(TSaneDevice& device, const TScannerDevice& info)
{
    TScanOptionsDialog dialog(device, info, FBoxes, FParent);
    return dialog.exec() == QDialog::Accepted;
}

TScanProgress TQtScanDialogs::BeginProgress(const TScannerDevice& info)
{
    EndProgress();
    FProgress = new QProgressDialog(QString::fromUtf8("Num\u00E9risation en cours..."), "Annuler", 0, 1000, FParent);
    FProgress->setObjectName("ScanProgress");
    FProgress->setWindowTitle(Text("Num\u00E9risation - " + info.DisplayName()));
    FProgress->setWindowModality(Qt::ApplicationModal);
    FProgress->setMinimumDuration(0);
    FProgress->setAutoClose(false);
    FProgress->setAutoReset(false);
    FProgress->setValue(0);
    FProgress->show();
    QPointer<QProgressDialog> progress = FProgress;
    return [progress](double fraction) {
        if (!progress)
            return false;
        if (fraction < 0) {
            // Height unknown: the bar only shows that work goes on.
            progress->setRange(0, 0);
        } else {
            progress->setRange(0, 1000);
            progress->setValue(static_cast<int>(std::lround(fraction * 1000)));
        }
        QCoreApplication::processEvents();
        return progress && !progress->wasCanceled();
    };
}

void TQtScanDialogs::EndProgress()
{
    delete FProgress.data();
}
