#pragma once
// TForm1: kavrel's window. Four steps side by side: the folder (FL), the
// photos (Liste), the conversion settings, and the "KAVREL !" button with
// its progress bar and the preview of the photo being converted.

#include "Kavrel.h"
#include "ui_Form1.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class TPicture;
class TShellNamespace;

class TForm1 : public QWidget, public Ui::Form1 {
public:
    // The folder tree shows ns (the system's namespace when null).
    explicit TForm1(QWidget* parent = nullptr, std::shared_ptr<TShellNamespace> ns = nullptr);
    ~TForm1() override;

    void FormCreate();
    void FLChange();
    void ListeClick();
    void RaucuneClick();
    void MLEnter();
    void MHEnter();
    void RmaxiClick();
    void TBChange();
    void UDClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();

    // Shows a picture file as the preview, fitted into the preview box
    // around its centre; false (and the preview hidden) when the file
    // cannot be read.
    bool ShowPreview(const std::string& path);

    // The size rule the radios choose.
    TSizeMode SizeMode() const;
    // A conversion is running.
    bool Running() const { return FRunning; }
    const TConversionResult& LastResult() const { return FLast; }
    // Called after each file of a conversion (tests look at the form then).
    std::function<void()> OnFileDone;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowPreviewPicture(const TPicture& picture);
    void CheckRadio(QRadioButton* radio);
    void SetControlsEnabled(bool enabled);
    void ShowMessage(const std::string& text);

    // The centre of the preview box.
    int cx = 0;
    int cy = 0;
    // Off only while TBChange moves the up-down.
    bool FQualityGuard = true;
    bool FRunning = false;
    bool FCloseRequested = false;
    TConversionResult FLast;
};

// The main form of the running program (null before it is made).
extern TForm1* Form1;
