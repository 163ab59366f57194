#pragma once
// TPngPicture: PNG pictures over zlib. The picture is a list of chunk objects
// in file order; the pixels live in a bitmap owned by the header chunk (1, 4,
// 8 bits with a colour table, or 24-bit B,G,R) plus one alpha byte a pixel
// for the grey + alpha and RGBA kinds. The image data chunk decodes into that
// bitmap when loading and encodes from it when saving.

#include "Bitmap.h"
#include "Exceptions.h"
#include "Graphic.h"
#include "Streams.h"
#include "Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The errors of the codec; their messages are in PngMessages.
DECLARE_EXCEPTION(EPNGInvalidFileHeader, Exception);
DECLARE_EXCEPTION(EPngUnexpectedEnd, Exception);
DECLARE_EXCEPTION(EPNGIHDRNotFirst, Exception);
DECLARE_EXCEPTION(EPNGUnknownCriticalChunk, Exception);
DECLARE_EXCEPTION(EPNGNoImageData, Exception);
DECLARE_EXCEPTION(EPngInvalidCRC, Exception);
DECLARE_EXCEPTION(EPngInvalidIHDR, Exception);
DECLARE_EXCEPTION(EPNGSizeExceeds, Exception);
DECLARE_EXCEPTION(EPNGUnknownCompression, Exception);
DECLARE_EXCEPTION(EPNGUnknownInterlace, Exception);
DECLARE_EXCEPTION(EPNGInvalidPalette, Exception);
DECLARE_EXCEPTION(EPNGMissingMultipleIDAT, Exception);
DECLARE_EXCEPTION(EPNGZLIBError, Exception);
DECLARE_EXCEPTION(EPngError, Exception);
DECLARE_EXCEPTION(EPNGOutMemory, Exception);
DECLARE_EXCEPTION(EPNGHeaderNotPresent, Exception);

class TPngPicture;
class TChunk;
class TChunkIHDR;

// A chunk class as the registry knows it: its name ("TChunkIHDR") and how to
// make an instance for an image.
struct TChunkClassInfo {
    const char* ClassName;
    std::unique_ptr<TChunk> (*Create)(TPngPicture& owner);
};
using TChunkClass = const TChunkClassInfo*;

// The four type characters of a chunk, as stored in the file.
using TChunkType = std::array<char, 4>;
TChunkType MakeChunkType(const char* text);
std::string ChunkTypeText(const TChunkType& type);

// The chunk type of a class: its name from the 7th character on ("TChunkIHDR"
// gives "IHDR", the base class TChunk an empty text).
std::string ClassChunkType(TChunkClass cls);

// ---- Unit helpers

// The PNG CRC-32 register update (no complement at either end).
std::uint32_t UpdateCrc(std::uint32_t crc, const void* bytes, std::size_t count);
// The complemented CRC of a chunk type followed by its data, as stored.
std::uint32_t ChunkCrc(const TChunkType& type, const void* data, std::size_t count);
constexpr std::uint32_t SwapBytes32(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
constexpr std::uint16_t SwapBytes16(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }
// Bytes of one row of samples (without the filter-type byte).
std::size_t RowByteCount(std::size_t width, int colorType, int bitDepth);
// The Paeth predictor: left, then above, then upper-left on ties.
std::uint8_t PaethPredict(int left, int above, int upperLeft);

// Whole-block zlib streams for the compressed text chunk. Inflating stops
// with failure when the output would pass maxOutput bytes. When given,
// inflated receives the bytes inflated, kept or not (the work done).
bool InflateBuffer(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& result,
                   std::size_t maxOutput, std::size_t* inflated = nullptr);
bool DeflateBuffer(const std::uint8_t* bytes, std::size_t count, int level, std::vector<std::uint8_t>& result);

// The largest text a zTXt chunk may inflate to, and all of a file's.
constexpr std::size_t MaxInflatedText = std::size_t{8} << 20;
constexpr std::size_t MaxInflatedTextTotal = std::size_t{16} << 20;

// ---- The chunk-class registry

void RegisterChunkClass(TChunkClass cls);
// IEND, IHDR, IDAT, PLTE, gAMA, tRNS, tIME, tEXt, zTXt, in that order.
void RegisterStandardChunks();
void FreeChunkClasses();
const std::vector<TChunkClass>& ChunkClasses();
// A chunk of the first registered class of that type (TChunk for an unknown
// type) with its type set.
std::unique_ptr<TChunk> CreateChunkForType(TPngPicture& image, const TChunkType& type);

// ---- Chunks

class TChunk {
public:
    explicit TChunk(TPngPicture& owner);
    virtual ~TChunk();
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    static TChunkClass Class();
    virtual TChunkClass ChunkClass() const { return Class(); }

    // Copies the type and the data block of another chunk.
    virtual void CopyFrom(const TChunk& source);
    // Reads `length` data bytes and the CRC, and checks the CRC.
    virtual bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length);
    // Writes the whole chunk; false when nothing could be written for it.
    virtual bool WriteChunk(TStream& stream);

    // Length, type, data and CRC of the data block as it stands.
    bool WriteRaw(TStream& stream);
    void SetDataSize(std::uint32_t size);
    std::uint8_t* Data() { return FData.data(); }
    const std::uint8_t* Data() const { return FData.data(); }
    std::uint32_t DataSize() const { return FDataSize; }
    TPngPicture& OwnerImage() const { return FOwner; }
    // The owner's first chunk as a header; EPNGHeaderNotPresent otherwise.
    TChunkIHDR& OwnerHeader() const;

    TChunkType ChunkType{};

protected:
    std::vector<std::uint8_t> FData; // DataSize + 1 bytes
    std::uint32_t FDataSize = 0;
    TPngPicture& FOwner;
};

class TChunkIEND : public TChunk {
public:
    explicit TChunkIEND(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
};

class TChunkIHDR : public TChunk {
public:
    explicit TChunkIHDR(TPngPicture& owner);
    ~TChunkIHDR() override;
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }

    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;

    // Makes a zeroed bitmap for the header values, a zeroed alpha plane for
    // the kinds with alpha, and drops the image's palette cache.
    void BuildDib();
    // BuildDib in two steps: the cleared colour table without any pixels (a
    // header just read), then the zeroed bitmap and alpha plane (when the
    // image data starts). Given room, the bitmap's pixels are left undefined
    // in memory with room for that many bytes, for image data unpacked in
    // place.
    void PrepareDib();
    void AllocateDib(std::size_t room = 0);
    // The bytes of the pixels AllocateDib makes; 0 when it makes none.
    std::size_t DibBytes() const;
    void FreeDib();
    bool HasDib() const { return Dib != nullptr; }
    // Image row y (0 at the top).
    std::uint8_t* DibRow(std::size_t y) { return Dib->Bits() + y * DibRowStride; }
    const std::uint8_t* DibRow(std::size_t y) const { return Dib->Bits() + y * DibRowStride; }
    std::uint8_t* AlphaRow(std::size_t y) { return AlphaPlane.data() + y * Width; }
    const std::uint8_t* AlphaRow(std::size_t y) const { return AlphaPlane.data() + y * Width; }
    // Hands the colour table to the bitmap after it changed.
    void ColorTableChanged();

    bool UsesColorTable = false;
    int DibBitsPerPixel = 0;
    // The colour table that drawing and conversion use: PLTE entries, or
    // the grey levels of a grey image.
    std::array<TPaletteEntry, 256> ColorTable{};
    std::size_t DibRowStride = 0;
    std::unique_ptr<TBitmap> Dib;
    // The alpha of each pixel for the kinds with alpha. A grey or RGB image
    // with a colour key has one too, 0 where the stored samples (all 16 bits,
    // before gamma) are the key's and 255 elsewhere.
    std::vector<std::uint8_t> AlphaPlane;

    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint8_t BitDepth = 0;
    std::uint8_t ColorType = 0;
    std::uint8_t CompressionMethod = 0;
    std::uint8_t FilterMethod = 0;
    std::uint8_t InterlaceMethod = 0;
};

class TChunkgAMA : public TChunk {
public:
    explicit TChunkgAMA(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    // Gamma x 100000; a data block of another size becomes 4 bytes and 1.
    std::uint32_t GammaValue();
    void SetGammaValue(std::uint32_t value);
};

class TChunkPLTE : public TChunk {
public:
    explicit TChunkPLTE(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;
    // The header's colour-table entry as 0x00BBGGRR; EPngError past the end.
    TColor GetEntry(std::uint32_t index) const;
    std::uint32_t EntryCount = 0;
};

class TChunktRNS : public TChunk {
public:
    explicit TChunktRNS(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;
    void SetTransparentColor(TColor color);
    // The colour the transparent pixels show in the bitmap.
    TColor GetTransparentColor() const;
    // True when no stored pixel can match the transparent sample.
    bool KeyMatchesNothing() const;

    bool SingleTransparent = false;
    std::array<std::uint8_t, 256> TransparencyData{};
};

class TChunkIDAT : public TChunk {
public:
    explicit TChunkIDAT(TPngPicture& owner);
    ~TChunkIDAT() override;
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    // Decodes the whole image data stream, which may run over the IDAT
    // chunks that follow this one.
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    // Encodes the bitmap into one or more IDAT chunks.
    bool WriteChunk(TStream& stream) override;
};

class TChunktIME : public TChunk {
public:
    explicit TChunktIME(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;

    std::uint16_t Year = 0;
    std::uint8_t Month = 0;
    std::uint8_t Day = 0;
    std::uint8_t Hour = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Second = 0;
};

class TChunktEXt : public TChunk {
public:
    explicit TChunktEXt(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    void CopyFrom(const TChunk& source) override;
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;

    std::string Keyword;
    std::string Text;
};

class TChunkzTXt : public TChunktEXt {
public:
    explicit TChunkzTXt(TPngPicture& owner);
    static TChunkClass Class();
    TChunkClass ChunkClass() const override { return Class(); }
    bool ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length) override;
    bool WriteChunk(TStream& stream) override;
};

// ---- The chunk list

class TPNGList {
public:
    TPNGList() = default;
    TPNGList(const TPNGList&) = delete;
    TPNGList& operator=(const TPNGList&) = delete;

    std::size_t Count() const { return FItems.size(); }
    // Null when the index is not below the count.
    TChunk* Item(std::size_t index) const { return index < FItems.size() ? FItems[index].get() : nullptr; }
    TChunk* Add(std::unique_ptr<TChunk> chunk);
    // Takes the last item equal to chunk out of the list (null when absent).
    std::unique_ptr<TChunk> Remove(TChunk* chunk);
    void Clear() { FItems.clear(); }
    // The first chunk of class T or of a class derived from it.
    template <class T> T* ItemFromClass() const
    {
        for (const auto& item : FItems)
            if (auto* p = dynamic_cast<T*>(item.get()))
                return p;
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<TChunk>> FItems;
};

// ---- The picture

// Filter types as bits of RowFilters.
using TFilterSet = std::uint8_t;
constexpr TFilterSet pfNone = 1 << 0;
constexpr TFilterSet pfSub = 1 << 1;
constexpr TFilterSet pfUp = 1 << 2;
constexpr TFilterSet pfAverage = 1 << 3;
constexpr TFilterSet pfPaeth = 1 << 4;

class TPngPicture : public TGraphic {
public:
    TPngPicture();
    ~TPngPicture() override;
    const char* ClassName() const override { return "TPngPicture"; }
    static TGraphicClass Class();

    // From another TPngPicture or a TBitmap.
    void Assign(const TPersistent& source) override;
    // To another TPngPicture or a TBitmap (alpha is not carried over).
    void AssignTo(TPersistent& dest) const override;

    // Opaque, with one colour left out, or blended by alpha, stretched into
    // rect by nearest neighbour.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool GetEmpty() const override { return Chunks.Count() == 0; }
    int GetHeight() const override;
    int GetWidth() const override;
    // The colour table of grey and palette images; none for the others.
    TPalette GetPalette() const override;
    bool GetTransparent() const override;
    // The size changes only through assignment: EPngError.
    void SetHeight(int value) override;
    void SetWidth(int value) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                 const TPalette& palette) override;
    void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const override;

    // The bitmap of an RGB picture without transparency, which draws
    // unchanged; the picture is left empty.
    std::unique_ptr<TBitmap> TakeOpaquePixels() override;

    // The colour of one pixel; 0 outside the picture.
    virtual TColor PixelColor(int x, int y) const;
    virtual void SetPixelColor(int x, int y, TColor color);

    // Frees every chunk and resets the gamma tables.
    void ClearChunks();
    bool HasHeader() const;
    // The header chunk, or EPNGHeaderNotPresent.
    TChunkIHDR& RequireHeader() const;
    // Row size and pixel stride of the header's full width (0, 0 without one).
    void GetRowInfo(std::size_t& rowSize, std::size_t& pixelStride) const;
    std::uint32_t IdatBufferSize() const { return FIdatBufferSize; }
    // Values below 65535 become 65535.
    void SetIdatBufferSize(std::uint32_t value);
    void ResetGammaTables();
    // 0 opaque, 1 one transparent colour, 2 alpha blending.
    int TransparencyMode() const;
    TColor TransparentKey() const;
    void AssignPNG(const TPngPicture& source);
    // Takes the pixels of a bitmap: palette formats as a palette image of
    // their depth, the others as 24-bit RGB.
    void AssignBitmap(const TBitmap& bitmap, bool transparent, TColor transparentColor);
    std::uint8_t* DibRow(int y) const;

    std::array<std::uint8_t, 256> GammaTable{};
    std::array<std::uint8_t, 256> InverseGammaTable{};
    TFilterSet RowFilters = pfSub;
    // The deflate level of image data and compressed text; above 9 counts as 9.
    std::uint8_t CompressionLevel = 7;
    std::uint8_t InterlaceMode = 0;
    TPNGList Chunks;
    // The text the compressed text chunks of the current load inflated to.
    std::size_t InflatedText = 0;

private:
    std::uint32_t FIdatBufferSize = 65535;
};

// Registers the chunk classes and ".png" with the picture registry.
void RegisterPngFormat();
void UnregisterPngFormat();
