// The header, palette, transparency, gamma, time and text chunks, and the
// whole-block zlib helpers of the compressed text chunk.

#include "PngCodec.h"
#include "PngInternal.h"
#include "PngWholeInflate.h"
#include "PngMessages.h"

#include "Numeric.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

using namespace pngimpl;

namespace {

template <class T> const T& SameClass(const TChunk& source)
{
    auto* p = dynamic_cast<const T*>(&source);
    if (!p)
        Raise<EPngError>(PngMessages::EPngErrorAssignText);
    return *p;
}

bool LegalDepth(int colorType, int depth)
{
    switch (colorType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

int DibBitsFor(int colorType, int depth)
{
    switch (colorType) {
    case 0:
    case 3:
    case 4:
        switch (depth) {
        case 1:
        case 4:
        case 8:
            return depth;
        case 2:
            return 4;
        case 16:
            return 8;
        default:
            return 0;
        }
    case 2:
    case 6:
        return 24;
    default:
        return 0;
    }
}

TPixelFormat FormatForBits(int bits)
{
    switch (bits) {
    case 1:
        return pf1bit;
    case 4:
        return pf4bit;
    case 8:
        return pf8bit;
    default:
        return pf24bit;
    }
}

} // namespace

// ---- TChunkIHDR

TChunkIHDR::TChunkIHDR(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("IHDR");
}

TChunkIHDR::~TChunkIHDR()
{
    FreeDib();
}

TChunkClass TChunkIHDR::Class()
{
    static const TChunkClassInfo info{"TChunkIHDR", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkIHDR>(o);
                                      }};
    return &info;
}

void TChunkIHDR::FreeDib()
{
    Dib.reset();
    AlphaPlane.clear();
    AlphaPlane.shrink_to_fit();
    DibRowStride = 0;
    DibBitsPerPixel = 0;
    UsesColorTable = false;
}

void TChunkIHDR::BuildDib()
{
    PrepareDib();
    AllocateDib();
}

void TChunkIHDR::PrepareDib()
{
    ColorTable.fill(TPaletteEntry{});
    FreeDib();
    UsesColorTable = ColorType == 0 || ColorType == 3 || ColorType == 4;
}

void TChunkIHDR::AllocateDib(std::size_t room)
{
    const int bits = DibBitsFor(ColorType, BitDepth);
    if (bits == 0 || Dib)
        return;
    CheckPixelBudget(Width, Height);
    const auto w = static_cast<int>(Width), h = static_cast<int>(Height);
    auto dib = room ? std::make_unique<TBitmap>(TBitmap::Uninitialised(w, h, FormatForBits(bits), room))
                    : std::make_unique<TBitmap>(w, h, FormatForBits(bits));
    std::vector<std::uint8_t> alpha;
    try {
        if (ColorType == 4 || ColorType == 6)
            alpha.assign(static_cast<std::size_t>(Width) * Height, 0);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    DibBitsPerPixel = bits;
    DibRowStride = dib->RowStride();
    Dib = std::move(dib);
    AlphaPlane = std::move(alpha);
    ColorTableChanged();
}

std::size_t TChunkIHDR::DibBytes() const
{
    const int bits = DibBitsFor(ColorType, BitDepth);
    return bits == 0 ? 0 : BytesPerScanline(Width, bits) * Height;
}

void TChunkIHDR::ColorTableChanged()
{
    if (!Dib || !UsesColorTable)
        return;
    const std::size_t count = std::size_t{1} << DibBitsPerPixel;
    Dib->SetPalette(TPalette(ColorTable.begin(), ColorTable.begin() + static_cast<std::ptrdiff_t>(count)));
}

bool TChunkIHDR::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    if (DataSize() < 13)
        Raise<EPngInvalidIHDR>(PngMessages::EPngInvalidIHDRText);
    const std::uint8_t* d = Data();
    const std::uint32_t width = GetU32BE(d);
    const std::uint32_t height = GetU32BE(d + 4);
    const std::uint8_t depth = d[8], colorType = d[9], compression = d[10], filter = d[11], interlace = d[12];
    if (width > 65535 || height > 65535)
        Raise<EPNGSizeExceeds>(PngMessages::EPNGSizeExceedsText);
    if (compression != 0)
        Raise<EPNGUnknownCompression>(PngMessages::EPNGUnknownCompressionText);
    if (interlace > 1)
        Raise<EPNGUnknownInterlace>(PngMessages::EPNGUnknownInterlaceText);
    // Only what the decoder can take: a legal colour type and depth, a size
    // of at least one pixel and the one filter method.
    if (!LegalDepth(colorType, depth) || width == 0 || height == 0 || filter != 0)
        Raise<EPngInvalidIHDR>(PngMessages::EPngInvalidIHDRText);
    CheckPixelBudget(width, height);
    try {
        Width = width;
        Height = height;
        BitDepth = depth;
        ColorType = colorType;
        CompressionMethod = compression;
        FilterMethod = filter;
        InterlaceMethod = interlace;
        FOwner.InterlaceMode = interlace;
        // No pixels yet: a small file is found wrong before its picture
        // costs any memory.
        PrepareDib();
    } catch (...) {
        // No half-built header survives: it describes an empty picture.
        FreeDib();
        Width = Height = 0;
        BitDepth = ColorType = CompressionMethod = FilterMethod = InterlaceMethod = 0;
        throw;
    }
    return true;
}

bool TChunkIHDR::WriteChunk(TStream& stream)
{
    if (Width == 0 || Height == 0 || !Dib)
        Raise<EInvalidGraphicOperation>(PngMessages::EPngEmptySaveText);
    if (FOwner.InterlaceMode > 1)
        Raise<EPNGUnknownInterlace>(PngMessages::EPNGUnknownInterlaceText);
    // The bitmap holds 2-bit pixels as 4-bit ones and is written so. A grey
    // colour key names a 2-bit level: the same grey is 5 times that at 4
    // bits (a key no 2-bit level has stays out of reach).
    if (BitDepth == 2) {
        BitDepth = 4;
        if (ColorType == 0)
            if (auto* trns = FOwner.Chunks.ItemFromClass<TChunktRNS>()) {
                auto& key = trns->TransparencyData;
                const std::uint32_t level = (std::uint32_t{key[0]} << 8) | key[1];
                const std::uint32_t scaled = std::min<std::uint32_t>(level * 5, 0xFFFF);
                key[0] = static_cast<std::uint8_t>(scaled >> 8);
                key[1] = static_cast<std::uint8_t>(scaled);
            }
    }
    SetDataSize(13);
    std::uint8_t* d = Data();
    PutU32BE(d, Width);
    PutU32BE(d + 4, Height);
    d[8] = BitDepth;
    d[9] = ColorType;
    d[10] = CompressionMethod;
    d[11] = FilterMethod;
    d[12] = FOwner.InterlaceMode;
    return WriteRaw(stream);
}

void TChunkIHDR::CopyFrom(const TChunk& source)
{
    const auto& other = SameClass<TChunkIHDR>(source);
    Width = other.Width;
    Height = other.Height;
    BitDepth = other.BitDepth;
    ColorType = other.ColorType;
    CompressionMethod = other.CompressionMethod;
    FilterMethod = other.FilterMethod;
    InterlaceMethod = other.InterlaceMethod;
    BuildDib();
    if (Dib && other.Dib && Dib->RowStride() == other.Dib->RowStride())
        std::memcpy(Dib->Bits(), other.Dib->Bits(), DibRowStride * Height);
    // The alpha plane, or the colour-key mask of a keyed grey or RGB image.
    if (Dib && other.AlphaPlane.size() == static_cast<std::size_t>(Width) * Height) {
        try {
            AlphaPlane = other.AlphaPlane;
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
    }
    ColorTable = other.ColorTable;
    ColorTableChanged();
}

// ---- TChunkPLTE

TChunkPLTE::TChunkPLTE(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("PLTE");
}

TChunkClass TChunkPLTE::Class()
{
    static const TChunkClassInfo info{"TChunkPLTE", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkPLTE>(o);
                                      }};
    return &info;
}

bool TChunkPLTE::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    if (DataSize() % 3 != 0 || DataSize() / 3 > 256)
        Raise<EPNGInvalidPalette>(PngMessages::EPNGInvalidPaletteText);
    EntryCount = DataSize() / 3;
    TChunkIHDR& header = OwnerHeader();
    const auto& gamma = FOwner.GammaTable;
    const std::uint8_t* d = Data();
    for (std::uint32_t i = 0; i < EntryCount; ++i)
        header.ColorTable[i] = TPaletteEntry{gamma[d[3 * i]], gamma[d[3 * i + 1]], gamma[d[3 * i + 2]], 0};
    header.ColorTableChanged();
    return true;
}

bool TChunkPLTE::WriteChunk(TStream& stream)
{
    const std::uint32_t count = std::min<std::uint32_t>(EntryCount, 256);
    TChunkIHDR& header = OwnerHeader();
    const auto& inverse = FOwner.InverseGammaTable;
    SetDataSize(count * 3);
    std::uint8_t* d = Data();
    for (std::uint32_t i = 0; i < count; ++i) {
        d[3 * i] = inverse[header.ColorTable[i].peRed];
        d[3 * i + 1] = inverse[header.ColorTable[i].peGreen];
        d[3 * i + 2] = inverse[header.ColorTable[i].peBlue];
    }
    return WriteRaw(stream);
}

void TChunkPLTE::CopyFrom(const TChunk& source)
{
    EntryCount = SameClass<TChunkPLTE>(source).EntryCount;
}

TColor TChunkPLTE::GetEntry(std::uint32_t index) const
{
    if (index >= EntryCount || index >= 256)
        Raise<EPngError>(PngMessages::EPngErrorPaletteText);
    return OwnerHeader().ColorTable[index].Color();
}

// ---- TChunktRNS

TChunktRNS::TChunktRNS(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("tRNS");
}

TChunkClass TChunktRNS::Class()
{
    static const TChunkClassInfo info{"TChunktRNS", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunktRNS>(o);
                                      }};
    return &info;
}

bool TChunktRNS::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    if (DataSize() > 256)
        Raise<EPNGInvalidPalette>(PngMessages::EPNGInvalidPaletteText);
    TransparencyData.fill(255);
    if (DataSize())
        std::memcpy(TransparencyData.data(), Data(), DataSize());
    const TChunkIHDR& header = OwnerHeader();
    switch (header.ColorType) {
    case 0:
    case 2:
        SingleTransparent = true;
        break;
    case 3: {
        // A colour key needs exactly one entry that is fully transparent
        // and whose colour no other palette entry shares; anything else is
        // drawn blended, which shows every alpha value as it is.
        std::uint32_t count = 0, index = 0;
        for (std::uint32_t i = 0; i < DataSize(); ++i)
            if (TransparencyData[i] != 255) {
                ++count;
                index = i;
            }
        bool single = count == 1 && TransparencyData[index] == 0;
        if (single)
            if (auto* plte = FOwner.Chunks.ItemFromClass<TChunkPLTE>())
                for (std::uint32_t i = 0; i < plte->EntryCount && i < 256; ++i)
                    if (i != index && header.ColorTable[i].Color() == header.ColorTable[index].Color())
                        single = false;
        SingleTransparent = single;
        break;
    }
    default:
        break;
    }
    return true;
}

namespace {

std::uint16_t Sample16(const std::array<std::uint8_t, 256>& data, std::size_t i)
{
    return static_cast<std::uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
}

} // namespace

bool TChunktRNS::WriteChunk(TStream& stream)
{
    if (DataSize() <= 256 && DataSize())
        std::memcpy(Data(), TransparencyData.data(), DataSize());
    // A grey or RGB key names samples. The image data is written from the
    // bitmap (16-bit samples as their high byte times 256, colours back
    // through the inverse gamma table), so the key is written the same way
    // as the colour its pixels show; otherwise they would lose their
    // transparency in the file.
    const auto* header = dynamic_cast<const TChunkIHDR*>(FOwner.Chunks.Item(0));
    if (header && !KeyMatchesNothing()) {
        const bool wide = header->BitDepth == 16;
        if (header->ColorType == 0 && wide) {
            Data()[1] = 0;
        } else if (header->ColorType == 2) {
            for (std::size_t i = 0; i < 3; ++i) {
                const std::uint16_t s = Sample16(TransparencyData, i);
                const std::uint8_t v = FOwner.InverseGammaTable[FOwner.GammaTable[wide ? s >> 8 : s]];
                Data()[2 * i] = wide ? v : 0;
                Data()[2 * i + 1] = wide ? 0 : v;
            }
        }
    }
    return WriteRaw(stream);
}

void TChunktRNS::CopyFrom(const TChunk& source)
{
    const auto& other = SameClass<TChunktRNS>(source);
    TransparencyData = other.TransparencyData;
    SingleTransparent = other.SingleTransparent;
    TChunk::CopyFrom(source);
}

void TChunktRNS::SetTransparentColor(TColor color)
{
    TransparencyData.fill(0);
    SingleTransparent = true;
    TChunkIHDR& header = OwnerHeader();
    // The mask of the samples as read names the old key: drawing goes back
    // to the colour the pixels show.
    if (header.ColorType == 0 || header.ColorType == 2) {
        header.AlphaPlane.clear();
        header.AlphaPlane.shrink_to_fit();
    }
    const std::uint8_t r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    switch (header.ColorType) {
    case 0:
        SetDataSize(2);
        TransparencyData[0] = 0;
        TransparencyData[1] = r;
        break;
    case 2:
        SetDataSize(6);
        TransparencyData[1] = r;
        TransparencyData[3] = g;
        TransparencyData[5] = b;
        break;
    case 3: {
        std::size_t index = 0;
        for (std::size_t i = 0; i < 256; ++i) {
            const TPaletteEntry& e = header.ColorTable[i];
            if (e.peBlue == b && e.peGreen == g && e.peRed == r) {
                index = i;
                break;
            }
        }
        for (std::size_t i = 0; i < index; ++i)
            TransparencyData[i] = 255;
        TransparencyData[index] = 0;
        SetDataSize(static_cast<std::uint32_t>(index + 1));
        break;
    }
    default:
        break;
    }
}

// ---- KeyMasker

KeyMasker::KeyMasker(TPngPicture& owner) : FHeader(owner.RequireHeader())
{
    const auto* trns = owner.Chunks.ItemFromClass<TChunktRNS>();
    if (!trns || (FHeader.ColorType != 0 && FHeader.ColorType != 2) || trns->KeyMatchesNothing() || !FHeader.Dib)
        return;
    for (std::size_t i = 0; i < (FHeader.ColorType == 2 ? 3u : 1u); ++i)
        FKey[i] = Sample16(trns->TransparencyData, i);
    try {
        FHeader.AlphaPlane.assign(static_cast<std::size_t>(FHeader.Width) * FHeader.Height, 255);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    FActive = true;
}

bool KeyMasker::Keyed(const std::uint8_t* src, std::size_t i) const
{
    const int depth = FHeader.BitDepth;
    if (FHeader.ColorType == 2) {
        if (depth == 8)
            return src[3 * i] == FKey[0] && src[3 * i + 1] == FKey[1] && src[3 * i + 2] == FKey[2];
        const std::uint8_t* p = src + 6 * i;
        return GetU16BE(p) == FKey[0] && GetU16BE(p + 2) == FKey[1] && GetU16BE(p + 4) == FKey[2];
    }
    if (depth == 16)
        return GetU16BE(src + 2 * i) == FKey[0];
    if (depth == 8)
        return src[i] == FKey[0];
    const std::size_t bit = i * static_cast<std::size_t>(depth);
    return ((src[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & ((1 << depth) - 1)) == FKey[0];
}

void KeyMasker::Row(const std::uint8_t* src, std::size_t y)
{
    if (!FActive)
        return;
    std::uint8_t* alpha = FHeader.AlphaRow(y);
    for (std::size_t x = 0; x < FHeader.Width; ++x)
        alpha[x] = Keyed(src, x) ? 0 : 255;
}

void KeyMasker::PassRow(const std::uint8_t* src, std::size_t passWidth, std::size_t y, std::size_t first,
                        std::size_t step)
{
    if (!FActive)
        return;
    std::uint8_t* alpha = FHeader.AlphaRow(y);
    for (std::size_t i = 0, x = first; i < passWidth; ++i, x += step)
        alpha[x] = Keyed(src, i) ? 0 : 255;
}

std::size_t pngimpl::RawImageSize(const TChunkIHDR& header, int interlaceMode)
{
    return FilteredImageSize(header, RowByteCount(header.Width, header.ColorType, header.BitDepth),
                             interlaceMode == 1 ? 1 : 0);
}

bool TChunktRNS::KeyMatchesNothing() const
{
    const TChunkIHDR& header = OwnerHeader();
    switch (header.ColorType) {
    case 0:
        if (DataSize() < 2)
            return true;
        return header.BitDepth < 16 && Sample16(TransparencyData, 0) >= (1u << header.BitDepth);
    case 2:
        if (DataSize() < 6)
            return true;
        if (header.BitDepth < 16)
            for (std::size_t i = 0; i < 3; ++i)
                if (Sample16(TransparencyData, i) > 255)
                    return true;
        return false;
    default:
        return false;
    }
}

TColor TChunktRNS::GetTransparentColor() const
{
    const TChunkIHDR& header = OwnerHeader();
    const auto& gamma = FOwner.GammaTable;
    switch (header.ColorType) {
    case 2: {
        // The bitmap holds the high byte of 16-bit samples, after gamma.
        std::uint8_t c[3];
        for (std::size_t i = 0; i < 3; ++i) {
            const std::uint16_t s = Sample16(TransparencyData, i);
            c[i] = gamma[header.BitDepth == 16 ? (s >> 8) : (s & 0xFF)];
        }
        return RGB(c[0], c[1], c[2]);
    }
    case 3:
        for (std::uint32_t i = 0; i < DataSize() && i < 256; ++i)
            if (TransparencyData[i] == 0)
                return header.ColorTable[i].Color();
        return 0;
    case 0: {
        // The grey-table entry of the value the bitmap stores for the sample.
        const std::uint16_t s = Sample16(TransparencyData, 0);
        std::size_t value;
        switch (header.BitDepth) {
        case 1:
            value = s & 1;
            break;
        case 2:
            value = (s & 3) * 5;
            break;
        case 4:
            value = s & 15;
            break;
        case 8:
            value = s & 0xFF;
            break;
        default:
            value = s >> 8;
            break;
        }
        return header.ColorTable[value].Color();
    }
    default:
        return 0;
    }
}

// ---- TChunkgAMA

TChunkgAMA::TChunkgAMA(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("gAMA");
    SetGammaValue(1);
}

TChunkClass TChunkgAMA::Class()
{
    static const TChunkClassInfo info{"TChunkgAMA", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkgAMA>(o);
                                      }};
    return &info;
}

std::uint32_t TChunkgAMA::GammaValue()
{
    if (DataSize() == 4)
        return GetU32BE(Data());
    SetGammaValue(1);
    return 1;
}

void TChunkgAMA::SetGammaValue(std::uint32_t value)
{
    if (DataSize() != 4)
        SetDataSize(4);
    PutU32BE(Data(), value);
}

bool TChunkgAMA::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    // A gAMA of another length carries no value: the tables stay as they are.
    if (DataSize() != 4)
        return true;
    const std::uint32_t v = GetU32BE(Data());
    if (v == 0)
        return true;
    const Extended exponent = 1.0L / ((static_cast<Extended>(v) / 100000.0L) * 2.2L);
    auto& table = FOwner.GammaTable;
    auto& inverse = FOwner.InverseGammaTable;
    for (int i = 0; i < 256; ++i) {
        const Extended base = static_cast<Extended>(i) / 255.0L;
        const Extended power = base == 0 ? 0.0L : std::exp(exponent * std::log(base));
        const std::int64_t g = std::clamp<std::int64_t>(Round(255.0L * power), 0, 255);
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g);
        inverse[static_cast<std::size_t>(g)] = static_cast<std::uint8_t>(i);
    }
    return true;
}

void TChunkgAMA::CopyFrom(const TChunk& source)
{
    const auto& other = SameClass<TChunkgAMA>(source);
    // A block of another length carried no value into the source's tables:
    // the copy keeps it as it is rather than a gamma of 1 / 100000.
    if (other.DataSize() != 4) {
        TChunk::CopyFrom(source);
        return;
    }
    SetGammaValue(GetU32BE(other.Data()));
}

// ---- TChunktIME

TChunktIME::TChunktIME(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("tIME");
}

TChunkClass TChunktIME::Class()
{
    static const TChunkClassInfo info{"TChunktIME", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunktIME>(o);
                                      }};
    return &info;
}

bool TChunktIME::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    if (DataSize() == 7) {
        const std::uint8_t* d = Data();
        Year = static_cast<std::uint16_t>(d[0] * 256 + d[1]);
        Month = d[2];
        Day = d[3];
        Hour = d[4];
        Minute = d[5];
        Second = d[6];
    }
    return true;
}

bool TChunktIME::WriteChunk(TStream& stream)
{
    SetDataSize(7);
    std::uint8_t* d = Data();
    d[0] = static_cast<std::uint8_t>(Year >> 8);
    d[1] = static_cast<std::uint8_t>(Year);
    d[2] = Month;
    d[3] = Day;
    d[4] = Hour;
    d[5] = Minute;
    d[6] = Second;
    return WriteRaw(stream);
}

void TChunktIME::CopyFrom(const TChunk& source)
{
    const auto& other = SameClass<TChunktIME>(source);
    Year = other.Year;
    Month = other.Month;
    Day = other.Day;
    Hour = other.Hour;
    Minute = other.Minute;
    Second = other.Second;
    TChunk::CopyFrom(source);
}

// ---- TChunktEXt

TChunktEXt::TChunktEXt(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("tEXt");
}

TChunkClass TChunktEXt::Class()
{
    static const TChunkClassInfo info{"TChunktEXt", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunktEXt>(o);
                                      }};
    return &info;
}

namespace {

// Index of the first zero byte, or size when there is none.
std::size_t KeywordLength(const std::uint8_t* data, std::size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    return zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data) : size;
}

} // namespace

bool TChunktEXt::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunk::ReadBody(stream, type, length);
    const std::size_t size = DataSize();
    if (size >= 3) {
        const auto* d = Data();
        const std::size_t k = KeywordLength(d, size);
        Keyword.assign(reinterpret_cast<const char*>(d), k);
        if (k + 1 < size)
            Text.assign(reinterpret_cast<const char*>(d) + k + 1, size - k - 1);
        else
            Text.clear();
    }
    return true;
}

bool TChunktEXt::WriteChunk(TStream& stream)
{
    SetDataSize(static_cast<std::uint32_t>(Keyword.size() + 1 + Text.size()));
    std::uint8_t* d = Data();
    std::memcpy(d, Keyword.data(), Keyword.size());
    d[Keyword.size()] = 0;
    std::memcpy(d + Keyword.size() + 1, Text.data(), Text.size());
    return WriteRaw(stream);
}

void TChunktEXt::CopyFrom(const TChunk& source)
{
    const auto& other = SameClass<TChunktEXt>(source);
    Keyword = other.Keyword;
    Text = other.Text;
}

// ---- TChunkzTXt

TChunkzTXt::TChunkzTXt(TPngPicture& owner) : TChunktEXt(owner)
{
    ChunkType = MakeChunkType("zTXt");
}

TChunkClass TChunkzTXt::Class()
{
    static const TChunkClassInfo info{"TChunkzTXt", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkzTXt>(o);
                                      }};
    return &info;
}

bool TChunkzTXt::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunktEXt::ReadBody(stream, type, length);
    const std::size_t size = DataSize();
    if (size < 4)
        return true;
    const auto* d = Data();
    const std::size_t k = KeywordLength(d, size);
    Keyword.assign(reinterpret_cast<const char*>(d), k);
    Text.clear();
    // The method byte and the compressed bytes must lie inside the chunk.
    if (k + 1 >= size || d[k + 1] != 0)
        return true;
    // Each chunk and all of them together inflate to a bounded text.
    const std::size_t room =
        std::min(MaxInflatedText, MaxInflatedTextTotal - std::min(MaxInflatedTextTotal, FOwner.InflatedText));
    // What a chunk inflated counts even when it is refused, so that many
    // chunks each just over the cap cannot make the load run on and on.
    std::vector<std::uint8_t> text;
    std::size_t inflated = 0;
    if (InflateBuffer(d + k + 2, size - k - 2, text, room, &inflated))
        Text.assign(text.begin(), text.end());
    FOwner.InflatedText += inflated;
    return true;
}

bool TChunkzTXt::WriteChunk(TStream& stream)
{
    if (Text.empty())
        Text = " ";
    std::vector<std::uint8_t> packed;
    if (!DeflateBuffer(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size(), FOwner.CompressionLevel,
                       packed))
        return false;
    SetDataSize(static_cast<std::uint32_t>(Keyword.size() + 2 + packed.size()));
    std::uint8_t* d = Data();
    std::memcpy(d, Keyword.data(), Keyword.size());
    d[Keyword.size()] = 0;
    d[Keyword.size() + 1] = 0;
    std::memcpy(d + Keyword.size() + 2, packed.data(), packed.size());
    return WriteRaw(stream);
}

// ---- Whole-block zlib streams

bool InflateBuffer(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& result,
                   std::size_t maxOutput, std::size_t* inflated)
{
    result.clear();
    std::size_t total = 0;
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    bool ok = false;
    std::uint8_t window[4096];
    z.next_in = const_cast<Bytef*>(bytes);
    std::size_t left = count;
    try {
        for (;;) {
            if (z.avail_in == 0 && left > 0) {
                const auto chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
                z.avail_in = chunk;
                left -= chunk;
            }
            z.next_out = window;
            z.avail_out = sizeof window;
            const uInt inBefore = z.avail_in;
            const int ret = inflate(&z, Z_NO_FLUSH);
            const std::size_t produced = sizeof window - z.avail_out;
            total += produced;
            if (result.size() + produced > maxOutput)
                break;
            result.insert(result.end(), window, window + produced);
            if (ret == Z_STREAM_END) {
                ok = true;
                break;
            }
            // Errors, a preset dictionary we do not have, or a stream that
            // cannot move on: the text stays empty.
            if (ret != Z_OK || (produced == 0 && z.avail_in == inBefore))
                break;
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    inflateEnd(&z);
    if (inflated)
        *inflated = total;
    if (!ok)
        result.clear();
    return ok;
}

bool DeflateBuffer(const std::uint8_t* bytes, std::size_t count, int level, std::vector<std::uint8_t>& result)
{
    result.clear();
    if (count > 0x7FFFFFFFu)
        return false;
    z_stream z{};
    if (deflateInit(&z, ClampLevel(level)) != Z_OK)
        return false;
    bool ok = false;
    try {
        result.resize(deflateBound(&z, static_cast<uLong>(count)) + 64);
        z.next_in = const_cast<Bytef*>(bytes);
        z.avail_in = static_cast<uInt>(count);
        z.next_out = result.data();
        z.avail_out = static_cast<uInt>(result.size());
        for (;;) {
            const int ret = deflate(&z, Z_FINISH);
            if (ret == Z_STREAM_END) {
                ok = true;
                break;
            }
            if (ret != Z_OK || z.avail_out != 0)
                break;
            // Out of room: grow and go on.
            const std::size_t used = result.size();
            result.resize(used * 2);
            z.next_out = result.data() + used;
            z.avail_out = static_cast<uInt>(result.size() - used);
        }
        result.resize(ok ? z.total_out : 0);
    } catch (const std::bad_alloc&) {
        ok = false;
        result.clear();
    }
    deflateEnd(&z);
    return ok;
}
