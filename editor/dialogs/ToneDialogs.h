#pragma once
// The logic of the three preview dialogs that change the whole picture with
// one routine: automatic contrast along a tone curve, grey levels and
// black-and-white halftone. Each showing previews at once with the variant
// left from the last showing; a variant click previews again; the contrast
// strength previews 500 ms after the slider's last movement. The forms
// (TFcontraste, TFgris, TFtrame) hold the controls and call these.

#include "PauseTimer.h"
#include "PreviewSession.h"

class TBitmap;
class TDocument;

class TToneDialogLogic {
public:
    virtual ~TToneDialogLogic() = default;

    // The chosen variant: the tag of the last clicked radio button.
    int Choice = 1;
    TPreviewSession Session;

    // The start of a showing: snapshot, copy, first preview. A second call
    // during the same showing does nothing.
    void FormActivate(TDocument& document);
    // A radio button: its tag becomes the variant, previewed at once.
    void ChoiceClick(int tag);
    // "APPLIQUER": the last preview stays; the form closes after it.
    void Apply() { Session.Apply(); }
    // The end of a showing, however the form closed.
    virtual void FormClose() { Session.End(); }

    // The preview of the current settings.
    void Preview();

protected:
    // The dialog's routine on a fresh copy of the picture.
    virtual void Compute(TBitmap& bitmap) = 0;
};

class TFcontrasteLogic : public TToneDialogLogic {
public:
    explicit TFcontrasteLogic(ITimerClock& clock);

    // The slider's position, 0 to 100; the strength is a hundredth of it.
    int Position = 1;
    TPauseTimer PauseC;

    // The strength for a slider position, in single precision.
    static float Strength(int position);

    // A movement of the slider: the wait starts again.
    void TTvalChange(int position);
    // The wait is over: one preview.
    void PauseCTimer();
    // A wait still running is dropped: no preview after the close.
    void FormClose() override;

protected:
    void Compute(TBitmap& bitmap) override;
};

class TFgrisLogic : public TToneDialogLogic {
protected:
    void Compute(TBitmap& bitmap) override;
};

class TFtrameLogic : public TToneDialogLogic {
protected:
    // 1 the ordered 3 x 3 matrix, 2 Floyd-Steinberg, else the copy as it is.
    void Compute(TBitmap& bitmap) override;
};
