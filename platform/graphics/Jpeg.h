#pragma once
// TJPEGImage: JPEG pictures over libjpeg. A loaded picture keeps the bytes of
// its file and decodes its pixels the first time they are needed; a picture
// made from a bitmap is compressed when it is saved (or by Compress). A photo
// whose EXIF orientation says it was taken turned is turned upright as it is
// decoded: its width, height and pixels are those of the upright picture.

#include "Graphic.h"
#include "Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TCanvas;
class TStream;

// Kept for the callers that name them: decoding always runs at the best
// quality and at full size.
enum class TJPEGPerformance { jpBestQuality, jpBestSpeed };
using enum TJPEGPerformance;
enum class TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
using enum TJPEGScale;

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;
    const char* ClassName() const override { return "TJPEGImage"; }
    static TGraphicClass Class();

    // TGraphic
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool GetEmpty() const override;
    int GetHeight() const override { return FHeight; }
    int GetWidth() const override { return FWidth; }
    // The grey palette of a decoded grey picture, else none.
    TPalette GetPalette() const override;
    // A JPEG picture cannot be resized: EInvalidGraphicOperation.
    void SetHeight(int value) override;
    void SetWidth(int value) override;
    // Takes every byte from the stream's position to its end and reads the
    // header at once; the pixels are decoded later.
    void LoadFromStream(TStream& stream) override;
    // The bytes of the loaded file when nothing changed them, else the
    // bitmap compressed with the current settings.
    void SaveToStream(TStream& stream) const override;
    // From a TBitmap (copied, converted to 24 bits) or another TJPEGImage.
    void Assign(const TPersistent& source) override;
    // To a TBitmap: the decoded pixels.
    void AssignTo(TPersistent& dest) const override;

    // 1..100; values outside are clamped. Used by the next compression.
    int CompressionQuality() const { return FQuality; }
    void SetCompressionQuality(int value);
    // Decode to (and encode as) grey levels.
    bool Grayscale() const { return FGrayscale; }
    void SetGrayscale(bool value);
    bool ProgressiveEncoding() const { return FProgressiveEncoding; }
    void SetProgressiveEncoding(bool value);
    // Block smoothing of progressive pictures whose data is incomplete.
    bool Smoothing() const { return FSmoothing; }
    void SetSmoothing(bool value);
    TJPEGPerformance Performance() const { return jpBestQuality; }
    TJPEGScale Scale() const { return jsFullSize; }

    // Decodes the kept bytes into the bitmap when not done yet.
    void DIBNeeded() const;
    // Makes sure JPEG bytes exist for the current settings.
    void JPEGNeeded() const;
    // Compresses the bitmap again with the current settings; the new bytes
    // replace the kept ones.
    void Compress();
    // "Premature end of JPEG file" (or libjpeg's words for another loss of
    // data) once the pixels of a damaged file were decoded.
    std::string ReadWarning() const override { return FReadWarning; }
    // The decoded pixels: pf24bit for colour, pf8bit with a grey palette
    // for grey pictures; an empty bitmap for an empty picture.
    const TBitmap& Bitmap() const;
    // The decoded pixels handed over instead of copied, for a caller that
    // keeps them in place of the picture: the picture keeps its bytes and
    // decodes them again when next asked. Pixels assigned from a bitmap are
    // the picture's only source and are copied.
    std::unique_ptr<TBitmap> TakeBitmap();
    // The JPEG bytes kept (empty when there are none yet).
    const std::vector<std::uint8_t>& Data() const { return FData; }
    // True when the bytes kept are those of a loaded file.
    bool DataLoaded() const { return FDataLoaded; }
    // The EXIF orientation of the loaded file (1..8, 1 for upright), which
    // the decoded pixels have already been turned by.
    int Orientation() const { return FOrientation; }

private:
    void Clear();
    bool DataMatchesSettings() const;
    void EncodeBitmap() const;

    int FQuality = 90;
    bool FGrayscale = false;
    bool FProgressiveEncoding = false;
    bool FSmoothing = true;

    int FWidth = 0;
    int FHeight = 0;
    mutable int FOrientation = 1;

    // The JPEG bytes: read from a file (FDataLoaded), or made by our own
    // compression with the settings recorded beside them.
    mutable std::vector<std::uint8_t> FData;
    mutable bool FDataLoaded = false;
    mutable int FDataQuality = 0;
    mutable bool FDataGrayscale = false;
    mutable bool FDataProgressive = false;

    // The pixels: decoded from FData (FBitmapDecoded, may be dropped and
    // decoded again), or the picture's source when assigned from a bitmap.
    mutable std::unique_ptr<TBitmap> FBitmap;
    mutable bool FBitmapDecoded = false;
    mutable std::string FReadWarning;
};
