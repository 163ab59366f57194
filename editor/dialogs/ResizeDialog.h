#pragma once
// The logic of the resize dialog: a width and a height, each an edit field
// with an up-down whose arrows step it, optionally coupled through the
// document's proportions; the picture is resampled once, on "APPLIQUER".
// The form TFkavrel holds the controls and mirrors this state.

#include "PreviewSession.h"

#include <string>

class IMessageBoxes;
class TDocument;

// The class library's Val for an Integer: leading blanks, an optional
// sign, decimal digits and nothing after them; false for anything else,
// a value beyond 32 bits included.
bool ValInteger(const std::string& text, int& value);

// An up-down with its buddy field. The field always shows the position
// that is used: typed text is taken into the range and written back.
class TUpDownBuddy {
public:
    TUpDownBuddy(int min, int max, int position = 0);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    const std::string& Text() const { return FText; }

    // The field's text typed or chosen: a whole number is taken into the
    // range, anything else is 0.
    void TextChanged(const std::string& text);
    // An arrow step; answers whether the position moved.
    bool Step(int delta);
    // Sets the position within the range; the text follows.
    void SetPosition(long long value);

private:
    int FMin;
    int FMax;
    int FPosition;
    std::string FText;
};

class TFkavrelLogic {
public:
    static constexpr int MaxSize = 10240;

    explicit TFkavrelLogic(IMessageBoxes& boxes);

    // The new width (choixL / UDW) and height (ChoixH / UDH).
    TUpDownBuddy UDW{0, MaxSize};
    TUpDownBuddy UDH{0, MaxSize};
    // "Proportion".
    bool Prop = true;
    // False while one side is set from the other.
    bool SyncEnabled = true;
    TPreviewSession Session;

    // The other side of a proportional pair, in single precision and
    // rounded half to even, within 0..MaxSize: the height of a width
    // (width x aspect) or the width of a height (height / aspect). False
    // when the aspect gives no proportion (0, negative, not finite).
    static bool HeightOfWidth(int width, float aspect, int& height);
    static bool WidthOfHeight(int height, float aspect, int& width);

    void FormActivate(TDocument& document);
    void FormClose() { Session.End(); }

    // A field's text typed or chosen: only its own side changes.
    void choixLChange(const std::string& text) { UDW.TextChanged(text); }
    void ChoixHChange(const std::string& text) { UDH.TextChanged(text); }
    // An arrow of an up-down (or an arrow key in its field): the step, and
    // with "Proportion" the other side follows.
    void UDWStep(int delta);
    void UDHStep(int delta);
    // "Proportion" clicked: when now ticked, the height follows the width.
    void PropClick(bool checked);

    // The resample of the work copy to the chosen size; false, with nothing
    // done, when a side is 0.
    bool ApplyResize();
    // "APPLIQUER": answers whether the form closes. A side of 0 resizes
    // nothing, tells the user and leaves the dialog open.
    bool Apply();

private:
    // The document's proportion, 0 without a showing.
    float Aspect() const;
    void CoupleHeight();
    void CoupleWidth();

    IMessageBoxes& FBoxes;
};
