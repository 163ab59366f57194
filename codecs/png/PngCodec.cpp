// The PNG picture object: chunk list, chunk base class, chunk-class registry,
// CRC, the stream layout with its load and save order, and registration.

#include "PngCodec.h"
#include "PngInternal.h"
#include "PngMessages.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Picture.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr std::uint8_t Signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

std::vector<TChunkClass>*& Registry()
{
    static std::vector<TChunkClass>* registry = nullptr;
    return registry;
}

std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

// The standard chunks are there for any picture made before (or without)
// the program's registration.
void EnsureStandardChunks()
{
    static std::once_flag once;
    std::call_once(once, [] {
        bool empty;
        {
            std::lock_guard<std::mutex> guard(RegistryLock());
            empty = Registry() == nullptr;
        }
        if (empty)
            RegisterStandardChunks();
    });
}

} // namespace

// ---- Helpers

TChunkType MakeChunkType(const char* text)
{
    TChunkType t{};
    for (std::size_t i = 0; i < 4 && text[i]; ++i)
        t[i] = text[i];
    return t;
}

std::string ChunkTypeText(const TChunkType& type)
{
    return std::string(type.data(), type.size());
}

std::string ClassChunkType(TChunkClass cls)
{
    std::string name = cls ? cls->ClassName : "";
    return name.size() > 6 ? name.substr(6) : std::string();
}

std::uint32_t UpdateCrc(std::uint32_t crc, const void* bytes, std::size_t count)
{
    // zlib's CRC-32 (here libdeflate's, several times faster on the image
    // data) is the PNG one with the complements at both ends.
    return ~libdeflate_crc32(~crc, bytes, count);
}

std::uint32_t ChunkCrc(const TChunkType& type, const void* data, std::size_t count)
{
    std::uint32_t crc = UpdateCrc(0xFFFFFFFFu, type.data(), 4);
    if (count)
        crc = UpdateCrc(crc, data, count);
    return ~crc;
}

std::size_t RowByteCount(std::size_t width, int colorType, int bitDepth)
{
    const auto depth = static_cast<std::size_t>(bitDepth);
    switch (colorType) {
    case 0:
    case 3:
        return (width * depth + 7) / 8;
    case 2:
        return width * depth * 3 / 8;
    case 4:
        return width * depth * 2 / 8;
    case 6:
        return width * depth * 4 / 8;
    default:
        return 0;
    }
}

std::uint8_t PaethPredict(int left, int above, int upperLeft)
{
    int p = left + above - upperLeft;
    int pa = p > left ? p - left : left - p;
    int pb = p > above ? p - above : above - p;
    int pc = p > upperLeft ? p - upperLeft : upperLeft - p;
    if (pa <= pb && pa <= pc)
        return static_cast<std::uint8_t>(left);
    if (pb <= pc)
        return static_cast<std::uint8_t>(above);
    return static_cast<std::uint8_t>(upperLeft);
}

namespace pngimpl {

std::size_t ReadFully(TStream& stream, void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t n = stream.Read(p + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void ReadOrEnd(TStream& stream, void* buffer, std::size_t count)
{
    if (ReadFully(stream, buffer, count) != count)
        Raise<EPngUnexpectedEnd>(PngMessages::EPngUnexpectedEndText);
}

std::uint32_t ReadBigEndian32(TStream& stream)
{
    std::uint8_t b[4];
    ReadOrEnd(stream, b, 4);
    return GetU32BE(b);
}

void CheckChunkLength(TStream& stream, std::uint32_t length)
{
    // The data and the 4-byte CRC must lie inside the stream.
    if (length > 0x7FFFFFFFu || static_cast<std::int64_t>(length) + 4 > stream.Remaining())
        Raise<EPngUnexpectedEnd>(PngMessages::EPngUnexpectedEndText);
}

void WriteIdatChunk(TStream& stream, const std::uint8_t* bytes, std::size_t count)
{
    static const TChunkType idat = MakeChunkType("IDAT");
    stream.WriteU32BE(static_cast<std::uint32_t>(count));
    stream.WriteBuffer(idat.data(), 4);
    if (count)
        stream.WriteBuffer(bytes, count);
    stream.WriteU32BE(ChunkCrc(idat, bytes, count));
}

namespace {

void SwapRedBluePlain(const std::uint8_t* src, std::uint8_t* dst, std::size_t from, std::size_t pixels)
{
    for (std::size_t x = from; x < pixels; ++x) {
        dst[3 * x] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x];
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PNG_HAVE_SSSE3_SWAP 1
#include <tmmintrin.h>

// Five pixels a step with one byte shuffle; the 16th byte stored belongs to
// the next pixel and is written again by the next step or the tail.
__attribute__((target("ssse3"))) std::size_t SwapRedBlueSsse3(const std::uint8_t* src, std::uint8_t* dst,
                                                             std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; 3 * x + 16 <= 3 * pixels; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(v, order));
    }
    return x;
}

bool HaveSsse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

} // namespace

void SwapRedBlue(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels)
{
    std::size_t done = 0;
#if PNG_HAVE_SSSE3_SWAP
    if (HaveSsse3())
        done = SwapRedBlueSsse3(src, dst, pixels);
#endif
    SwapRedBluePlain(src, dst, done, pixels);
}

int ClampLevel(int level)
{
    return std::clamp(level, 0, 9);
}

} // namespace pngimpl

using namespace pngimpl;

// ---- Registry

void RegisterChunkClass(TChunkClass cls)
{
    std::lock_guard<std::mutex> guard(RegistryLock());
    if (!Registry())
        Registry() = new std::vector<TChunkClass>;
    Registry()->push_back(cls);
}

void RegisterStandardChunks()
{
    RegisterChunkClass(TChunkIEND::Class());
    RegisterChunkClass(TChunkIHDR::Class());
    RegisterChunkClass(TChunkIDAT::Class());
    RegisterChunkClass(TChunkPLTE::Class());
    RegisterChunkClass(TChunkgAMA::Class());
    RegisterChunkClass(TChunktRNS::Class());
    RegisterChunkClass(TChunktIME::Class());
    RegisterChunkClass(TChunktEXt::Class());
    RegisterChunkClass(TChunkzTXt::Class());
}

void FreeChunkClasses()
{
    std::lock_guard<std::mutex> guard(RegistryLock());
    delete Registry();
    Registry() = nullptr;
}

const std::vector<TChunkClass>& ChunkClasses()
{
    static const std::vector<TChunkClass> none;
    std::lock_guard<std::mutex> guard(RegistryLock());
    return Registry() ? *Registry() : none;
}

std::unique_ptr<TChunk> CreateChunkForType(TPngPicture& image, const TChunkType& type)
{
    TChunkClass found = TChunk::Class();
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        if (Registry())
            for (TChunkClass cls : *Registry())
                if (ClassChunkType(cls) == ChunkTypeText(type)) {
                    found = cls;
                    break;
                }
    }
    std::unique_ptr<TChunk> chunk = found->Create(image);
    chunk->ChunkType = type;
    return chunk;
}

// ---- TChunk

TChunk::TChunk(TPngPicture& owner) : FData(1, 0), FOwner(owner) {}

TChunk::~TChunk() = default;

TChunkClass TChunk::Class()
{
    static const TChunkClassInfo info{"TChunk", [](TPngPicture& o) { return std::make_unique<TChunk>(o); }};
    return &info;
}

void TChunk::CopyFrom(const TChunk& source)
{
    ChunkType = source.ChunkType;
    SetDataSize(source.FDataSize);
    if (FDataSize)
        std::memcpy(FData.data(), source.FData.data(), FDataSize);
}

void TChunk::SetDataSize(std::uint32_t size)
{
    try {
        FData.resize(static_cast<std::size_t>(size) + 1);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    FDataSize = size;
}

bool TChunk::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    CheckChunkLength(stream, length);
    SetDataSize(length);
    if (length)
        ReadOrEnd(stream, FData.data(), length);
    std::uint32_t stored = ReadBigEndian32(stream);
    if (ChunkCrc(type, FData.data(), length) != stored)
        Raise<EPngInvalidCRC>(PngMessages::EPngInvalidCRCText);
    return true;
}

bool TChunk::WriteChunk(TStream& stream)
{
    return WriteRaw(stream);
}

bool TChunk::WriteRaw(TStream& stream)
{
    stream.WriteU32BE(FDataSize);
    stream.WriteBuffer(ChunkType.data(), 4);
    if (FDataSize)
        stream.WriteBuffer(FData.data(), FDataSize);
    stream.WriteU32BE(ChunkCrc(ChunkType, FData.data(), FDataSize));
    return true;
}

TChunkIHDR& TChunk::OwnerHeader() const
{
    auto* header = dynamic_cast<TChunkIHDR*>(FOwner.Chunks.Item(0));
    if (!header)
        Raise<EPNGHeaderNotPresent>(PngMessages::EPNGHeaderNotPresentText);
    return *header;
}

// ---- TChunkIEND

TChunkIEND::TChunkIEND(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("IEND");
}

TChunkClass TChunkIEND::Class()
{
    static const TChunkClassInfo info{"TChunkIEND", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkIEND>(o);
                                      }};
    return &info;
}

// ---- TPNGList

TChunk* TPNGList::Add(std::unique_ptr<TChunk> chunk)
{
    FItems.push_back(std::move(chunk));
    return FItems.back().get();
}

std::unique_ptr<TChunk> TPNGList::Remove(TChunk* chunk)
{
    for (std::size_t i = FItems.size(); i-- > 0;)
        if (FItems[i].get() == chunk) {
            std::unique_ptr<TChunk> taken = std::move(FItems[i]);
            FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
            return taken;
        }
    return nullptr;
}

// ---- TPngPicture

TPngPicture::TPngPicture()
{
    EnsureStandardChunks();
    ResetGammaTables();
}

TPngPicture::~TPngPicture()
{
    ClearChunks();
}

TGraphicClass TPngPicture::Class()
{
    static const TGraphicClassInfo info{"TPngPicture", [] { return std::make_unique<TPngPicture>(); }};
    return &info;
}

void TPngPicture::ClearChunks()
{
    ResetGammaTables();
    Chunks.Clear();
    InflatedText = 0;
}

bool TPngPicture::HasHeader() const
{
    return dynamic_cast<TChunkIHDR*>(Chunks.Item(0)) != nullptr;
}

TChunkIHDR& TPngPicture::RequireHeader() const
{
    auto* header = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
    if (!header)
        Raise<EPNGHeaderNotPresent>(PngMessages::EPNGHeaderNotPresentText);
    return *header;
}

void TPngPicture::GetRowInfo(std::size_t& rowSize, std::size_t& pixelStride) const
{
    rowSize = 0;
    pixelStride = 0;
    auto* header = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
    if (!header)
        return;
    rowSize = RowByteCount(header->Width, header->ColorType, header->BitDepth);
    const std::size_t depth = header->BitDepth;
    switch (header->ColorType) {
    case 0:
        pixelStride = depth == 16 ? 2 : 1;
        break;
    case 3:
        pixelStride = 1;
        break;
    case 2:
        pixelStride = depth * 3 / 8;
        break;
    case 4:
        pixelStride = depth / 4;
        break;
    case 6:
        pixelStride = depth / 2;
        break;
    default:
        pixelStride = 0;
        break;
    }
}

void TPngPicture::SetIdatBufferSize(std::uint32_t value)
{
    FIdatBufferSize = std::max<std::uint32_t>(value, 65535);
}

void TPngPicture::ResetGammaTables()
{
    for (int i = 0; i < 256; ++i) {
        GammaTable[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        InverseGammaTable[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
}

int TPngPicture::GetWidth() const
{
    auto* header = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
    return header ? static_cast<int>(header->Width) : 0;
}

int TPngPicture::GetHeight() const
{
    auto* header = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
    return header ? static_cast<int>(header->Height) : 0;
}

void TPngPicture::SetWidth(int)
{
    Raise<EPngError>(PngMessages::EPngErrorResizeText);
}

void TPngPicture::SetHeight(int)
{
    Raise<EPngError>(PngMessages::EPngErrorResizeText);
}

void TPngPicture::LoadFromStream(TStream& stream)
{
    static const TChunkType ihdr = MakeChunkType("IHDR");
    static const TChunkType idat = MakeChunkType("IDAT");
    static const TChunkType iend = MakeChunkType("IEND");
    static const TChunkType chrm = MakeChunkType("cHRM");

    ClearChunks();
    std::uint8_t signature[8];
    if (ReadFully(stream, signature, 8) != 8 || std::memcmp(signature, Signature, 8) != 0)
        Raise<EPNGInvalidFileHeader>(PngMessages::EPNGInvalidFileHeaderText);

    bool hasImageData = false;
    bool first = true;
    for (;;) {
        std::uint8_t lengthBytes[4];
        if (ReadFully(stream, lengthBytes, 4) != 4)
            Raise<EPngUnexpectedEnd>(PngMessages::EPngUnexpectedEndText);
        const std::uint32_t length = GetU32BE(lengthBytes);
        TChunkType type;
        ReadOrEnd(stream, type.data(), 4);
        if (first) {
            if (type != ihdr)
                Raise<EPNGIHDRNotFirst>(PngMessages::EPNGIHDRNotFirstText);
            first = false;
        } else if (type == ihdr) {
            // One header only: a second one would rebuild the pixels under
            // the chunks already read.
            Raise<EPngInvalidIHDR>(PngMessages::EPngInvalidIHDRText);
        }
        CheckChunkLength(stream, length);
        if (type == chrm || (type == idat && hasImageData)) {
            stream.Seek(static_cast<std::int64_t>(length) + 4, soCurrent);
            continue;
        }
        if (type == idat)
            hasImageData = true;
        TChunk* chunk = Chunks.Add(CreateChunkForType(*this, type));
        if (chunk->ChunkClass() == TChunk::Class() && (static_cast<unsigned char>(type[0]) & 0x20) == 0)
            Raise<EPNGUnknownCriticalChunk>(PngMessages::EPNGUnknownCriticalChunkText);
        if (!chunk->ReadBody(stream, type, length))
            break;
        if (type == iend)
            break;
    }
    if (!hasImageData)
        Raise<EPNGNoImageData>(PngMessages::EPNGNoImageDataText);
    Changed();
}

void TPngPicture::SaveToStream(TStream& stream) const
{
    stream.WriteBuffer(Signature, sizeof Signature);
    for (std::size_t i = 0; i < Chunks.Count(); ++i)
        Chunks.Item(i)->WriteChunk(stream);
}

void TPngPicture::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                          const TPalette& palette)
{
    TBitmap bitmap;
    bitmap.LoadFromClipboardFormat(format, data, palette);
    AssignBitmap(bitmap, false, 0);
}

void TPngPicture::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const
{
    TBitmap bitmap(Width(), Height(), pf24bit);
    const_cast<TPngPicture*>(this)->Draw(bitmap.Canvas(), Rect(0, 0, Width(), Height()));
    bitmap.SaveToClipboardFormat(format, data, palette);
}

// ---- Registration

void RegisterPngFormat()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    EnsureStandardChunks();
    TPicture::RegisterFileFormat("png", "Portable Network Graphics", TPngPicture::Class());
}

void UnregisterPngFormat()
{
    TPicture::UnregisterGraphicClass(TPngPicture::Class());
    FreeChunkClasses();
}
