#include "ResizeDialog.h"

#include "Application.h"
#include "Document.h"
#include "MessageBoxes.h"
#include "Numeric.h"
#include "photo.h"

#include <algorithm>
#include <cmath>
#include <limits>

bool ValInteger(const std::string& text, int& value)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == n)
        return false;
    long long v = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

TUpDownBuddy::TUpDownBuddy(int min, int max, int position) : FMin(min), FMax(std::max(min, max)), FPosition(min)
{
    SetPosition(position);
}

void TUpDownBuddy::SetPosition(long long value)
{
    FPosition = static_cast<int>(std::clamp<long long>(value, FMin, FMax));
    FText = std::to_string(FPosition);
}

void TUpDownBuddy::TextChanged(const std::string& text)
{
    int value = 0;
    if (ValInteger(text, value))
        SetPosition(value);
    else
        SetPosition(0);
}

bool TUpDownBuddy::Step(int delta)
{
    const int before = FPosition;
    SetPosition(static_cast<long long>(FPosition) + delta);
    return FPosition != before;
}

namespace {

bool ValidAspect(float aspect)
{
    return std::isfinite(aspect) && aspect > 0;
}

// A single-precision side taken into 0..MaxSize and rounded half to even.
int SideOf(float value)
{
    if (!(value > 0))
        return 0;
    if (!(value <= TFkavrelLogic::MaxSize))
        return TFkavrelLogic::MaxSize;
    return static_cast<int>(Round(value));
}

} // namespace

bool TFkavrelLogic::HeightOfWidth(int width, float aspect, int& height)
{
    if (!ValidAspect(aspect))
        return false;
    height = SideOf(StoreSingle(static_cast<Extended>(width) * static_cast<Extended>(aspect)));
    return true;
}

bool TFkavrelLogic::WidthOfHeight(int height, float aspect, int& width)
{
    if (!ValidAspect(aspect))
        return false;
    width = SideOf(StoreSingle(static_cast<Extended>(height) / static_cast<Extended>(aspect)));
    return true;
}

TFkavrelLogic::TFkavrelLogic(IMessageBoxes& boxes) : FBoxes(boxes) {}

float TFkavrelLogic::Aspect() const
{
    const TDocument* document = Session.Document();
    return document ? document->Aspect : 0.0f;
}

void TFkavrelLogic::FormActivate(TDocument& document)
{
    if (Session.Active())
        return;
    SyncEnabled = true;
    Session.Begin(document);
}

void TFkavrelLogic::CoupleHeight()
{
    int height = 0;
    if (!SyncEnabled || !HeightOfWidth(UDW.Position(), Aspect(), height))
        return;
    SyncEnabled = false;
    UDH.SetPosition(height);
    SyncEnabled = true;
}

void TFkavrelLogic::CoupleWidth()
{
    int width = 0;
    if (!SyncEnabled || !WidthOfHeight(UDH.Position(), Aspect(), width))
        return;
    SyncEnabled = false;
    UDW.SetPosition(width);
    SyncEnabled = true;
}

void TFkavrelLogic::UDWStep(int delta)
{
    UDW.Step(delta);
    if (Prop)
        CoupleHeight();
}

void TFkavrelLogic::UDHStep(int delta)
{
    UDH.Step(delta);
    if (Prop)
        CoupleWidth();
}

void TFkavrelLogic::PropClick(bool checked)
{
    Prop = checked;
    if (checked)
        CoupleHeight();
}

bool TFkavrelLogic::ApplyResize()
{
    TDocument* document = Session.Document();
    const int width = UDW.Position();
    const int height = UDH.Position();
    if (!document || width <= 0 || height <= 0)
        return false;
    TWaitCursor wait;
    Session.Preview([width, height](TBitmap& bitmap) { ResizeBitmap(bitmap, width, height); });
    const TBitmap& picture = document->Picture();
    document->Aspect = picture.Width() > 0 ? StoreSingle(static_cast<Extended>(picture.Height()) / picture.Width())
                                           : 0.0f;
    document->Affiche(0, 0);
    return true;
}

bool TFkavrelLogic::Apply()
{
    if (!ApplyResize()) {
        FBoxes.MessageDlg("Indiquez une largeur et une hauteur de 1 à " + std::to_string(MaxSize) + " pixels.",
                          mtWarning, Btn(mbOK));
        return false;
    }
    Session.Apply();
    return true;
}
