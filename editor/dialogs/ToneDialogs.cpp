#include "ToneDialogs.h"

#include "Numeric.h"
#include "photo.h"

void TToneDialogLogic::FormActivate(TDocument& document)
{
    if (Session.Begin(document))
        Preview();
}

void TToneDialogLogic::ChoiceClick(int tag)
{
    Choice = tag;
    Preview();
}

void TToneDialogLogic::Preview()
{
    Session.Preview([this](TBitmap& bitmap) { Compute(bitmap); });
}

TFcontrasteLogic::TFcontrasteLogic(ITimerClock& clock) : PauseC(clock, TPauseMode::RestartOnChange, 500)
{
    PauseC.OnTimer = [this] { PauseCTimer(); };
}

float TFcontrasteLogic::Strength(int position)
{
    return StoreSingle(static_cast<Extended>(position) / 100);
}

void TFcontrasteLogic::TTvalChange(int position)
{
    Position = position;
    PauseC.Changed();
}

void TFcontrasteLogic::PauseCTimer()
{
    PauseC.SetEnabled(false);
    Preview();
}

void TFcontrasteLogic::FormClose()
{
    PauseC.Stop();
    TToneDialogLogic::FormClose();
}

void TFcontrasteLogic::Compute(TBitmap& bitmap)
{
    // Grey mode 1: the weighted grey chooses the gain.
    AutoContrast(bitmap, Choice, 1, Strength(Position));
}

void TFgrisLogic::Compute(TBitmap& bitmap)
{
    ConvertToGrey(bitmap, Choice);
}

void TFtrameLogic::Compute(TBitmap& bitmap)
{
    if (Choice == 1)
        DitherOrdered3x3(bitmap);
    else if (Choice == 2)
        DitherFloydSteinberg(bitmap);
}
