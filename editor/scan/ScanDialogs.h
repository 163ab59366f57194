#pragma once
// The windows of a scan: the device list, the device's own settings built
// from its option descriptors, and the progress of the reading with its
// Cancel button.

#include "SaneScanner.h"

#include <QDialog>
#include <QPointer>
#include <QProgressDialog>

class QListWidget;
class QWidget;
class IMessageBoxes;

// "Choix du scanneur": one line per device, vendor, model and name.
class TDeviceDialog : public QDialog {
public:
    TDeviceDialog(const std::vector<TScannerDevice>& devices, int current, QWidget* parent = nullptr);
    QListWidget* Liste = nullptr;
    // The row chosen, -1 for none.
    int Chosen() const;
};

// The settings of one device: a control per active option that can be set
// (a list for listed values, a number field for ranges, a box for on/off),
// grouped as the device groups them. A change goes to the device at once,
// and the controls are built again from what the device answers.
class TScanOptionsDialog : public QDialog {
public:
    TScanOptionsDialog(TSaneDevice& device, const TScannerDevice& info, IMessageBoxes& boxes,
                       QWidget* parent = nullptr);

    // The control of an option, by the option's name (its object name).
    QWidget* Control(const std::string& name) const;
    // Builds the controls again from the device.
    void Rebuild();

private:
    void Apply(const TScanOption& option, const std::string& value);
    QWidget* MakeControl(const TScanOption& option);

    TSaneDevice& FDevice;
    IMessageBoxes& FBoxes;
    QPointer<QWidget> FControls;
};

// The real windows, modal over parent.
class TQtScanDialogs : public IScanDialogs {
public:
    explicit TQtScanDialogs(IMessageBoxes& boxes, QWidget* parent = nullptr);
    ~TQtScanDialogs() override;
    void SetParent(QWidget* parent) { FParent = parent; }

    int ChooseDevice(const std::vector<TScannerDevice>& devices, int current) override;
    bool EditOptions(TSaneDevice& device, const TScannerDevice& info) override;
    TScanProgress BeginProgress(const TScannerDevice& info) override;
    void EndProgress() override;

    QProgressDialog* Progress() const { return FProgress; }

private:
    IMessageBoxes& FBoxes;
    QPointer<QWidget> FParent;
    QPointer<QProgressDialog> FProgress;
};
