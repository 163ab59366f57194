#pragma once
// TIcon: Windows icon and cursor files. The largest image of the file (then
// the deepest) is shown; the file's bytes are kept and saved unchanged.

#include "Graphic.h"

#include <cstdint>
#include <memory>
#include <vector>

class TBitmap;

class TIcon : public TGraphic {
public:
    TIcon();
    ~TIcon() override;
    const char* ClassName() const override { return "TIcon"; }
    static TGraphicClass Class();

    // Draws with the icon's transparency: pixels of the AND mask leave the
    // canvas untouched, 32-bit alpha is blended with the canvas's pixels.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool GetEmpty() const override;
    int GetHeight() const override;
    int GetWidth() const override;
    bool GetTransparent() const override { return true; }
    // An icon's size is that of its image: both raise EInvalidGraphicOperation.
    void SetHeight(int value) override;
    void SetWidth(int value) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void Assign(const TPersistent& source) override;
    // Into a TBitmap: a 24-bit picture of the icon drawn on white.
    void AssignTo(TPersistent& dest) const override;

    // The shown image as 32-bit pixels B, G, R, alpha; null when the icon is
    // empty or its image is a PNG drawn by the PNG class.
    const TBitmap* Image() const { return FImage.get(); }
    // The icon file as loaded.
    const std::vector<std::uint8_t>& Data() const { return FData; }

private:
    void Clear();
    // Reads an icon file; the icon changes only when it succeeds.
    void Decode(std::vector<std::uint8_t> data);

    std::vector<std::uint8_t> FData;
    std::unique_ptr<TBitmap> FImage;
    std::unique_ptr<TGraphic> FPng;
};
