#pragma once
// The multi-format image readers: eleven picture classes, each a TBitmap that
// reads its file format in LoadFromStream and is an ordinary bitmap after
// that (draws, copies, saves as BMP). They are reached through the picture
// registry by file extension; RegisterReaderFormats adds their 28
// extensions. Readers raise the plain Exception with an English message;
// what was read before the error stays in the bitmap.
//
// Also here: the row conversions the TIFF and Photoshop readers apply.

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// SGI images (.sgi, .rgb, .rgba, .bw).
class TSGIGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TSGIGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// Autodesk Animator pictures (.pic, .cel).
class TAutodeskGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TAutodeskGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// TIFF, first image of the file (.tif, .tiff). Reading only: SaveToStream
// writes nothing, and SaveToFile refuses and leaves the file alone.
class TTIFFGraphic : public TBitmap {
public:
    TTIFFGraphic();
    const char* ClassName() const override { return "TTIFFGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void SaveToFile(const std::string& fileName) const override;
    // Set when the file or a strip's data ends before the picture does: the
    // rows it held are read, the others left white.
    std::string ReadWarning() const override { return FReadWarning; }

private:
    std::string FReadWarning;
};

// Truevision Targa (.tga, .win, .vst, .vda, .icb): read, and written as a
// run-length encoded file.
class TTargaGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TTargaGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
    // Writes a run-length Targa file; an empty bitmap, or a 1- or 4-bit one
    // whose conversion to 256 colours is declined, writes nothing.
    void SaveToStream(TStream& stream) const override;
    // As SaveToStream, through atomic writing; when nothing would be written
    // the file is left as it was.
    void SaveToFile(const std::string& fileName) const override;

    // The image identification field, read and written with the file.
    std::string ImageID;

    // Asked before a 1- or 4-bit bitmap is saved as 256 colours, with the
    // question's text; true goes on. Unset: the conversion goes ahead. The
    // editor sets it to ask the user.
    static std::function<bool(const std::string& question)> ConfirmConversion;
};

// ZSoft PCX (.pcx, .pcc, .scr). Reading only, like TIFF.
class TPCXGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TPCXGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void SaveToFile(const std::string& fileName) const override;
};

// Kodak Photo-CD (.pcd). Reading only, like TIFF.
class TPCDGraphic : public TBitmap {
public:
    TPCDGraphic();
    const char* ClassName() const override { return "TPCDGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void SaveToFile(const std::string& fileName) const override;

    // Which of the stored resolutions is read; 2 after construction.
    std::uint8_t Resolution = 2;
};

// Portable bitmaps, grey maps and pixel maps (.pbm, .pgm, .ppm).
class TPPMGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TPPMGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// Dr. Halo CUT (.cut) with its palette file.
class TCUTGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TCUTGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
    // Remembers the palette file that goes with the picture, then loads.
    void LoadFromFile(const std::string& fileName) override;

    // The palette file's name ("" when there is none).
    std::string PaletteFile;
};

// GIF, first image only (.gif), for builds without the GIF image class.
class TGIFGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TGIFGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// Wavefront RLA (.rla, .rpf).
class TRLAGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TRLAGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// Photoshop images (.psd, .pdd).
class TPSDGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TPSDGraphic"; }
    static TGraphicClass Class();
    void LoadFromStream(TStream& stream) override;
};

// Registers the 28 extensions of the readers with the picture registry, once
// however often it is called (each call counts one start). The GIF image
// class registers after it, so that it answers "gif".
void RegisterReaderFormats();
// Counts one start off; the last one removes the eleven reader classes from
// the registry ("rle" and "dib", registered to TBitmap, stay).
void UnregisterReaderFormats();

// ---------------------------------------------------------------- conversions
//
// Each converts count samples of one row from source into a bitmap row dest
// (blue, green, red and alpha bytes). count counts samples, not pixels: a
// routine for three samples a pixel converts count / 3 pixels. bitsPerSample
// is 8 or 16 (16-bit samples in machine byte order, of which the high byte
// is kept); any other value converts nothing. Counts that do not fit either
// buffer raise Exception.

using TRowConversion = void (*)(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest,
                                int bitsPerSample, std::size_t count);

// Reverses the bytes of each 16-bit or 32-bit value in place.
void SwapShort(std::span<std::uint8_t> buffer, std::size_t count);
void SwapLong(std::span<std::uint8_t> buffer, std::size_t count);
std::uint32_t SwapLong(std::uint32_t value);

void Convert16To8(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                  std::size_t count);
void ConvertRGB(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                std::size_t count);
void ConvertRGBA(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                 std::size_t count);
void ConvertCMYK(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                 std::size_t count);
// CIE L*a*b* to sRGB (D65 white): L unsigned, a and b signed (8 bits: bytes
// of -128 to 127; 16 bits: 1/256 units).
void ConvertLab(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                std::size_t count);

// Planar forms: count counts the samples of all planes together.
void ConvertRGBPlanar(std::span<const std::uint8_t> red, std::span<const std::uint8_t> green,
                      std::span<const std::uint8_t> blue, std::span<std::uint8_t> dest, int bitsPerSample,
                      std::size_t count);
void ConvertCMYKPlanar(std::span<const std::uint8_t> cyan, std::span<const std::uint8_t> magenta,
                       std::span<const std::uint8_t> yellow, std::span<const std::uint8_t> black,
                       std::span<std::uint8_t> dest, int bitsPerSample, std::size_t count);
void ConvertLabPlanar(std::span<const std::uint8_t> l, std::span<const std::uint8_t> a,
                      std::span<const std::uint8_t> b, std::span<std::uint8_t> dest, int bitsPerSample,
                      std::size_t count);

// Undoes horizontal differencing on a row of 8-bit samples, bytesPerPixel
// samples a pixel (1, 3 and 4 are the usual forms): row[i + bytesPerPixel] +=
// row[i] for the bytes of count pixels after the first, modulo 256. count is
// the width minus one; 0 leaves the row unchanged.
void UndoPredictor(std::span<std::uint8_t> row, std::size_t count, std::size_t bytesPerPixel = 1);
// The same on 16-bit samples in machine byte order, modulo 65536.
void UndoPredictor16(std::span<std::uint8_t> row, std::size_t count, std::size_t samplesPerPixel);
