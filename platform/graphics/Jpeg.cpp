#include "Jpeg.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "PhotoMetadata.h"
#include "Streams.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <jerror.h>

namespace {

const char* const ErrorPrefix = "Erreur JPEG: ";
const char* const ResizeMessage = "Impossible de modifier la taille d'une image JPEG";

// A real picture has a few dozen scans at most; thousands of empty scans
// only make the decoder run over the whole picture again and again.
constexpr int MaxScans = 1000;

// What libjpeg may allocate for one picture: 8 bytes a pixel of the budget
// (four components of 16-bit coefficients) and 16 MB for its tables and
// buffers, at most what a long holds.
long JpegMemoryLimit()
{
    constexpr std::size_t fixed = std::size_t{16} << 20;
    const std::size_t most = (static_cast<std::size_t>(std::numeric_limits<long>::max()) - fixed) / 8;
    return static_cast<long>(std::min(PixelBudget(), most) * 8 + fixed);
}

// ---------------------------------------------------------------------------
// The C side. libjpeg reports a fatal error through error_exit, which must
// not return; ours jumps back to the step that called into the library. The
// steps below are plain functions holding only trivial locals, so the jump
// skips no destructor; a step answers false after an error and its C++
// caller raises the exception from outside libjpeg's frames.

struct TJpegError {
    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // The first warning that means lost picture data (the file ends early,
    // a segment stops short), in libjpeg's words; empty when none.
    char lossWarning[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    TJpegError* err = reinterpret_cast<TJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end of the file) are counted and not
// printed: the picture decodes with what is there, as viewers do. The first
// one that means part of the picture is missing is kept for the caller.
void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    cinfo->err->num_warnings++;
    TJpegError* err = reinterpret_cast<TJpegError*>(cinfo->err);
    const int code = cinfo->err->msg_code;
    if ((code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) && err->lossWarning[0] == '\0')
        (*cinfo->err->format_message)(cinfo, err->lossWarning);
}

void OutputMessage(j_common_ptr) {}

void InitError(TJpegError& err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
    err.message[0] = '\0';
    err.lossWarning[0] = '\0';
}

void ScanLimitMonitor(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    j_decompress_ptr dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > MaxScans) {
        TJpegError* err = reinterpret_cast<TJpegError*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "Too many scans in the file (more than %d)", MaxScans);
        std::longjmp(err->jump, 1);
    }
}

struct TDecoder {
    jpeg_decompress_struct cinfo;
    TJpegError err;
    jpeg_progress_mgr progress;
    bool created;
};

bool DecoderOpen(TDecoder* d, const unsigned char* data, std::size_t size, long maxMemory)
{
    InitError(d->err);
    d->cinfo.err = &d->err.pub;
    if (setjmp(d->err.jump))
        return false;
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    // The coefficients of a progressive picture are held whole: a few bytes
    // of header must not make libjpeg take more than the pixel budget allows.
    d->cinfo.mem->max_memory_to_use = maxMemory;
    d->progress.progress_monitor = ScanLimitMonitor;
    d->cinfo.progress = &d->progress;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

bool DecoderStart(TDecoder* d, J_COLOR_SPACE outSpace, bool smoothing)
{
    if (setjmp(d->err.jump))
        return false;
    d->cinfo.out_color_space = outSpace;
    d->cinfo.scale_num = 1;
    d->cinfo.scale_denom = 1;
    d->cinfo.dct_method = JDCT_ISLOW;
    d->cinfo.do_fancy_upsampling = TRUE;
    d->cinfo.do_block_smoothing = smoothing ? TRUE : FALSE;
    d->cinfo.quantize_colors = FALSE;
    jpeg_start_decompress(&d->cinfo);
    return true;
}

// Reads the next row; answers the number of rows read (0 or 1), -1 on error.
int DecoderReadRow(TDecoder* d, unsigned char* row)
{
    if (setjmp(d->err.jump))
        return -1;
    JSAMPROW rows[1] = {row};
    return static_cast<int>(jpeg_read_scanlines(&d->cinfo, rows, 1));
}

bool DecoderFinish(TDecoder* d)
{
    if (setjmp(d->err.jump))
        return false;
    jpeg_finish_decompress(&d->cinfo);
    return true;
}

// A destination that grows a malloc'ed buffer; whoever owns the encoder
// frees it, after success or after an error alike.
struct TMemoryDestination {
    jpeg_destination_mgr pub; // first
    unsigned char* buffer;
    std::size_t capacity;
    std::size_t size;
};

constexpr std::size_t FirstDestinationSize = 64 * 1024;

void DestinationInit(j_compress_ptr cinfo)
{
    TMemoryDestination* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    if (!dest->buffer) {
        dest->buffer = static_cast<unsigned char*>(std::malloc(FirstDestinationSize));
        if (!dest->buffer)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
        dest->capacity = FirstDestinationSize;
    }
    dest->size = 0;
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = dest->capacity;
}

boolean DestinationEmpty(j_compress_ptr cinfo)
{
    // Called when the whole buffer is full.
    TMemoryDestination* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    std::size_t grown = dest->capacity * 2;
    unsigned char* bigger = grown > dest->capacity ? static_cast<unsigned char*>(std::realloc(dest->buffer, grown))
                                                   : nullptr;
    if (!bigger)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
    dest->buffer = bigger;
    dest->pub.next_output_byte = bigger + dest->capacity;
    dest->pub.free_in_buffer = grown - dest->capacity;
    dest->capacity = grown;
    return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo)
{
    TMemoryDestination* dest = reinterpret_cast<TMemoryDestination*>(cinfo->dest);
    dest->size = dest->capacity - dest->pub.free_in_buffer;
}

struct TEncodeSettings {
    JDIMENSION width;
    JDIMENSION height;
    int components;
    J_COLOR_SPACE inSpace;
    int quality;
    bool grayscale;
    bool progressive;
};

struct TEncoder {
    jpeg_compress_struct cinfo;
    TJpegError err;
    TMemoryDestination dest;
    bool created;
};

bool EncoderStart(TEncoder* e, const TEncodeSettings* s)
{
    InitError(e->err);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->err.jump))
        return false;
    jpeg_create_compress(&e->cinfo);
    e->created = true;
    e->dest.pub.init_destination = DestinationInit;
    e->dest.pub.empty_output_buffer = DestinationEmpty;
    e->dest.pub.term_destination = DestinationTerm;
    e->cinfo.dest = &e->dest.pub;
    e->cinfo.image_width = s->width;
    e->cinfo.image_height = s->height;
    e->cinfo.input_components = s->components;
    e->cinfo.in_color_space = s->inSpace;
    jpeg_set_defaults(&e->cinfo);
    if (s->grayscale)
        jpeg_set_colorspace(&e->cinfo, JCS_GRAYSCALE);
    // Baseline tables: every entry fits in 8 bits, as every decoder expects.
    jpeg_set_quality(&e->cinfo, s->quality, TRUE);
    e->cinfo.dct_method = JDCT_ISLOW;
    if (s->progressive)
        jpeg_simple_progression(&e->cinfo);
    jpeg_start_compress(&e->cinfo, TRUE);
    return true;
}

bool EncoderWriteRow(TEncoder* e, const unsigned char* row)
{
    if (setjmp(e->err.jump))
        return false;
    // libjpeg only reads the rows it is given.
    JSAMPROW rows[1] = {const_cast<unsigned char*>(row)};
    jpeg_write_scanlines(&e->cinfo, rows, 1);
    return true;
}

bool EncoderFinish(TEncoder* e)
{
    if (setjmp(e->err.jump))
        return false;
    jpeg_finish_compress(&e->cinfo);
    return true;
}

// ---------------------------------------------------------------------------
// The C++ side: owners that release the libjpeg objects whatever happens.

[[noreturn]] void RaiseJpegError(const char* message)
{
    throw EInvalidGraphic(std::string(ErrorPrefix) + message);
}

// Releases a decoder's libjpeg object; a member of its owner, so that it
// also runs when the owner's constructor raises.
struct TDecoderHolder {
    TDecoder d{};
    TDecoderHolder() = default;
    TDecoderHolder(const TDecoderHolder&) = delete;
    TDecoderHolder& operator=(const TDecoderHolder&) = delete;
    ~TDecoderHolder()
    {
        if (d.created)
            jpeg_destroy_decompress(&d.cinfo);
    }
};

class TJpegReader {
public:
    explicit TJpegReader(const std::vector<std::uint8_t>& data)
    {
        if (!DecoderOpen(&F.d, data.data(), data.size(), JpegMemoryLimit()))
            Fail();
    }

    const jpeg_decompress_struct& Info() const { return F.d.cinfo; }
    void Start(J_COLOR_SPACE outSpace, bool smoothing)
    {
        if (!DecoderStart(&F.d, outSpace, smoothing))
            Fail();
    }
    // False when the decoder gave no more rows.
    bool ReadRow(std::uint8_t* row)
    {
        int n = DecoderReadRow(&F.d, row);
        if (n < 0)
            Fail();
        return n > 0;
    }
    // The rows are all there: what follows them cannot spoil the picture,
    // so an error in the trailing data is ignored.
    void Finish() { DecoderFinish(&F.d); }
    // The warning of lost picture data met so far, or "".
    std::string LossWarning() const { return F.d.err.lossWarning; }

private:
    [[noreturn]] void Fail() const { RaiseJpegError(F.d.err.message); }
    TDecoderHolder F;
};

struct TEncoderHolder {
    TEncoder e{};
    TEncoderHolder() = default;
    TEncoderHolder(const TEncoderHolder&) = delete;
    TEncoderHolder& operator=(const TEncoderHolder&) = delete;
    ~TEncoderHolder()
    {
        if (e.created)
            jpeg_destroy_compress(&e.cinfo);
        std::free(e.dest.buffer);
    }
};

class TJpegWriter {
public:
    explicit TJpegWriter(const TEncodeSettings& settings)
    {
        if (!EncoderStart(&F.e, &settings))
            Fail();
    }

    void WriteRow(const std::uint8_t* row)
    {
        if (!EncoderWriteRow(&F.e, row))
            Fail();
    }
    std::vector<std::uint8_t> Finish()
    {
        if (!EncoderFinish(&F.e))
            Fail();
        return std::vector<std::uint8_t>(F.e.dest.buffer, F.e.dest.buffer + F.e.dest.size);
    }

private:
    [[noreturn]] void Fail() const { RaiseJpegError(F.e.err.message); }
    TEncoderHolder F;
};

const TPalette& GreyPalette()
{
    static const TPalette palette = [] {
        TPalette p(256);
        for (int i = 0; i < 256; ++i) {
            auto v = static_cast<std::uint8_t>(i);
            p[static_cast<std::size_t>(i)] = TPaletteEntry{v, v, v, 0};
        }
        return p;
    }();
    return palette;
}

bool IsGreyRamp(const TPalette& palette)
{
    if (palette.size() != 256)
        return false;
    for (std::size_t i = 0; i < 256; ++i) {
        const TPaletteEntry& e = palette[i];
        if (e.peRed != i || e.peGreen != i || e.peBlue != i)
            return false;
    }
    return true;
}

// Product of two 0..255 light values, rounded.
inline std::uint8_t MulLight(unsigned a, unsigned b) { return static_cast<std::uint8_t>((a * b + 127) / 255); }

// CMYK rows as libjpeg hands them, the inks stored inverted (255 = no ink)
// as Adobe's files keep them. A four-component file without Adobe's marker
// (a JFIF file of an older library) is read the same way, as the common
// readers read it; read as plain inks its picture would come out dark.
void CmykToBgr(const std::uint8_t* src, std::uint8_t* dest, int width)
{
    for (int x = 0; x < width; ++x, src += 4, dest += 3) {
        const unsigned c = src[0], m = src[1], y = src[2], k = src[3];
        dest[0] = MulLight(y, k);
        dest[1] = MulLight(m, k);
        dest[2] = MulLight(c, k);
    }
}

// Luminance with libjpeg's own weights and rounding.
inline std::uint8_t GreyOf(unsigned r, unsigned g, unsigned b)
{
    return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

void CmykToGrey(const std::uint8_t* src, std::uint8_t* dest, int width)
{
    std::uint8_t bgr[3];
    for (int x = 0; x < width; ++x, src += 4) {
        CmykToBgr(src, bgr, 1);
        dest[x] = GreyOf(bgr[2], bgr[1], bgr[0]);
    }
}

// Decodes a whole JPEG file into a new bitmap.
// warning receives libjpeg's words when part of the picture is missing.
std::unique_ptr<TBitmap> DecodeJpeg(const std::vector<std::uint8_t>& data, bool grayscale, bool smoothing,
                                    std::string& warning)
{
    TJpegReader reader(data);
    const jpeg_decompress_struct& info = reader.Info();
    CheckPixelBudget(info.image_width, info.image_height);

    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    const bool grey = grayscale || info.jpeg_color_space == JCS_GRAYSCALE;
    const J_COLOR_SPACE outSpace = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    reader.Start(outSpace, smoothing);

    const int expected = cmyk ? 4 : grey ? 1 : 3;
    if (info.output_components != expected || info.output_width != info.image_width ||
        info.output_height != info.image_height)
        RaiseJpegError("Unexpected output format of the decoder");

    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    // The decoder writes every row straight into the bitmap, which is not
    // filled first: each page of the picture is touched once, by its pixels.
    auto bitmap = std::make_unique<TBitmap>(TBitmap::Uninitialised(width, height, grey ? pf8bit : pf24bit));
    if (grey)
        bitmap->SetPalette(GreyPalette());
    std::vector<std::uint8_t> cmykRow(cmyk ? static_cast<std::size_t>(width) * 4 : 0);
    const std::size_t stride = bitmap->RowStride();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(grey ? 1 : 3);

    int y = 0;
    for (; y < height; ++y) {
        std::uint8_t* row = bitmap->ScanLine(y);
        if (!reader.ReadRow(cmyk ? cmykRow.data() : row))
            break; // nothing more comes
        if (cmyk) {
            if (grey)
                CmykToGrey(cmykRow.data(), row, width);
            else
                CmykToBgr(cmykRow.data(), row, width);
        }
        // The row's padding is white, as in a new white bitmap.
        if (rowBytes < stride)
            std::memset(row + rowBytes, 0xFF, stride - rowBytes);
    }
    const bool endedEarly = y < height;
    // What the file did not hold is white (index 255 of the grey ramp).
    if (endedEarly)
        std::memset(bitmap->ScanLine(y), 0xFF, stride * static_cast<std::size_t>(height - y));
    warning = reader.LossWarning();
    if (warning.empty() && endedEarly)
        warning = "Premature end of JPEG file";
    reader.Finish();
    return bitmap;
}

} // namespace

// ---------------------------------------------------------------------------

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

TGraphicClass TJPEGImage::Class()
{
    static const TGraphicClassInfo info{"TJPEGImage", [] { return std::make_unique<TJPEGImage>(); }};
    return &info;
}

void TJPEGImage::Clear()
{
    FData.clear();
    FDataLoaded = false;
    FBitmap.reset();
    FBitmapDecoded = false;
    FReadWarning.clear();
    FWidth = 0;
    FHeight = 0;
    FOrientation = 1;
}

bool TJPEGImage::GetEmpty() const { return FWidth <= 0 || FHeight <= 0; }

TPalette TJPEGImage::GetPalette() const
{
    if (FBitmap && FBitmap->PixelFormat() == pf8bit)
        return FBitmap->GetPalette();
    return {};
}

void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation(ResizeMessage); }
void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation(ResizeMessage); }

void TJPEGImage::SetCompressionQuality(int value)
{
    FQuality = value < 1 ? 1 : value > 100 ? 100 : value;
}

void TJPEGImage::SetGrayscale(bool value)
{
    if (FGrayscale == value)
        return;
    FGrayscale = value;
    // Decoded pixels follow the setting; an assigned bitmap stays as given
    // and only its next compression changes.
    if (FBitmapDecoded) {
        FBitmap.reset();
        FBitmapDecoded = false;
    }
    Changed();
}

void TJPEGImage::SetProgressiveEncoding(bool value) { FProgressiveEncoding = value; }

void TJPEGImage::SetSmoothing(bool value)
{
    if (FSmoothing == value)
        return;
    FSmoothing = value;
    if (FBitmapDecoded) {
        FBitmap.reset();
        FBitmapDecoded = false;
    }
    Changed();
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    std::vector<std::uint8_t> data;
    try {
        // The bytes come through a small buffer that stays in the cache and
        // are put into a vector of the size the stream says it has left (a
        // stream that cannot tell, or has more, makes it grow): the system
        // copies into memory it just used instead of into pages it meets
        // for the first time, which costs it far more.
        std::int64_t left = 0;
        try {
            left = stream.Remaining();
        } catch (const EStreamError&) {
            left = 0;
        }
        constexpr std::int64_t most = std::int64_t{1} << 40;
        if (left > 0 && left < most)
            data.reserve(static_cast<std::size_t>(left));
        constexpr std::size_t chunk = 64 * 1024;
        std::vector<std::uint8_t> piece(chunk);
        for (;;) {
            const std::size_t n = stream.Read(piece.data(), chunk);
            if (n == 0)
                break;
            data.insert(data.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        }
        if (data.capacity() > data.size())
            data.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }

    int width = 0;
    int height = 0;
    {
        TJpegReader reader(data);
        CheckPixelBudget(reader.Info().image_width, reader.Info().image_height);
        width = static_cast<int>(reader.Info().image_width);
        height = static_cast<int>(reader.Info().image_height);
    }
    const int orientation = JpegOrientation(data.data(), data.size());
    if (OrientationSwapsSides(orientation))
        std::swap(width, height);

    Clear();
    FData = std::move(data);
    FDataLoaded = true;
    FWidth = width;
    FHeight = height;
    FOrientation = orientation;
    Changed();
}

void TJPEGImage::DIBNeeded() const
{
    if (FBitmap)
        return;
    if (GetEmpty() || FData.empty()) {
        FBitmap = std::make_unique<TBitmap>();
        FBitmapDecoded = false;
        return;
    }
    try {
        FBitmap = DecodeJpeg(FData, FGrayscale, FSmoothing, FReadWarning);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    // A photo taken turned is shown upright.
    try {
        OrientBitmap(*FBitmap, FOrientation);
    } catch (const std::bad_alloc&) {
        FBitmap.reset();
        OutOfMemoryError();
    }
    FBitmapDecoded = true;
}

const TBitmap& TJPEGImage::Bitmap() const
{
    DIBNeeded();
    return *FBitmap;
}

std::unique_ptr<TBitmap> TJPEGImage::TakeBitmap()
{
    DIBNeeded();
    if (!FBitmapDecoded) {
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(*FBitmap);
        return copy;
    }
    FBitmapDecoded = false;
    return std::move(FBitmap);
}

bool TJPEGImage::DataMatchesSettings() const
{
    return FDataQuality == FQuality && FDataGrayscale == FGrayscale && FDataProgressive == FProgressiveEncoding;
}

void TJPEGImage::EncodeBitmap() const
{
    if (GetEmpty())
        RaiseJpegError("Empty picture, nothing to compress");
    DIBNeeded();

    const TBitmap* source = FBitmap.get();
    std::unique_ptr<TBitmap> converted;
    TEncodeSettings settings{};
    settings.width = static_cast<JDIMENSION>(source->Width());
    settings.height = static_cast<JDIMENSION>(source->Height());
    settings.quality = FQuality;
    settings.grayscale = FGrayscale;
    settings.progressive = FProgressiveEncoding;
    if (source->PixelFormat() == pf8bit && IsGreyRamp(source->GetPalette())) {
        settings.components = 1;
        settings.inSpace = JCS_GRAYSCALE;
    } else {
        if (source->PixelFormat() != pf24bit) {
            converted = std::make_unique<TBitmap>();
            converted->Assign(*source);
            converted->SetPixelFormat(pf24bit);
            source = converted.get();
        }
        settings.components = 3;
        settings.inSpace = JCS_EXT_BGR;
    }

    std::vector<std::uint8_t> bytes;
    try {
        TJpegWriter writer(settings);
        for (int y = 0; y < source->Height(); ++y)
            writer.WriteRow(source->ScanLine(y));
        bytes = writer.Finish();
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }

    FData = std::move(bytes);
    FDataLoaded = false;
    // Our own bytes hold the pixels as they stand.
    FOrientation = 1;
    FDataQuality = FQuality;
    FDataGrayscale = FGrayscale;
    FDataProgressive = FProgressiveEncoding;
}

void TJPEGImage::JPEGNeeded() const
{
    if (!FData.empty() && (FDataLoaded || DataMatchesSettings()))
        return;
    EncodeBitmap();
}

void TJPEGImage::Compress()
{
    EncodeBitmap();
    // The bitmap is now what the bytes were made from.
    FBitmapDecoded = false;
}

void TJPEGImage::SaveToStream(TStream& stream) const
{
    JPEGNeeded();
    stream.WriteBuffer(FData.data(), FData.size());
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect)
{
    if (GetEmpty())
        return;
    DIBNeeded();
    canvas.StretchBitmap(rect, *FBitmap, Rect(0, 0, FBitmap->Width(), FBitmap->Height()));
}

void TJPEGImage::Assign(const TPersistent& source)
{
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&source)) {
        if (jpeg == this)
            return;
        std::unique_ptr<TBitmap> bitmap;
        if (jpeg->FBitmap) {
            bitmap = std::make_unique<TBitmap>();
            bitmap->Assign(*jpeg->FBitmap);
        }
        std::vector<std::uint8_t> data = jpeg->FData;
        FQuality = jpeg->FQuality;
        FGrayscale = jpeg->FGrayscale;
        FProgressiveEncoding = jpeg->FProgressiveEncoding;
        FSmoothing = jpeg->FSmoothing;
        FWidth = jpeg->FWidth;
        FHeight = jpeg->FHeight;
        FOrientation = jpeg->FOrientation;
        FData = std::move(data);
        FDataLoaded = jpeg->FDataLoaded;
        FDataQuality = jpeg->FDataQuality;
        FDataGrayscale = jpeg->FDataGrayscale;
        FDataProgressive = jpeg->FDataProgressive;
        FBitmap = std::move(bitmap);
        FBitmapDecoded = jpeg->FBitmapDecoded;
        FReadWarning = jpeg->FReadWarning;
        Changed();
        return;
    }
    if (const auto* source24 = dynamic_cast<const TBitmap*>(&source)) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(*source24);
        if (bitmap->PixelFormat() != pf24bit)
            bitmap->SetPixelFormat(pf24bit);
        Clear();
        FWidth = bitmap->Width();
        FHeight = bitmap->Height();
        FBitmap = std::move(bitmap);
        FBitmapDecoded = false;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TJPEGImage::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(Bitmap());
        return;
    }
    TGraphic::AssignTo(dest);
}
