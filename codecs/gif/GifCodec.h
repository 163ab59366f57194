#pragma once
// The GIF codec, its foundations: row access to bitmaps, the fixed palettes,
// the stream and error routines, the item tree (header with the logical
// screen and the global colour table, colour tables, extensions, trailer),
// the colour lookups, the error-diffusion ditherers, the octree quantiser and
// the reduction of true-colour bitmaps to a palette.
//
// The image class and its frames build on these. Items reach the image and
// the frame they belong to through the two owner interfaces TGIFImageOwner
// and TGIFFrameOwner, which the image and frame classes implement.

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

// ---------------------------------------------------------------------------
// Errors and support routines

// Every format or usage error of the codec.
DECLARE_EXCEPTION(GIFException, EInvalidGraphic);

[[noreturn]] void RaiseGIFError(const std::string& message);

// Raised by CheckGDI for a missing resource.
[[noreturn]] void RaiseOutOfResources();

// Answers a value that stands for a resource unchanged; a null or zero value
// means the resource could not be had.
template <class T>
T CheckGDI(T value)
{
    if (!value)
        RaiseOutOfResources();
    return value;
}

// Bytes of a row of pixels of bitsPerPixel bits, padded to alignment bits (a
// power of two).
std::size_t RowBytes(std::size_t pixels, int bitsPerPixel, int alignment);
// The bits a colour table of count entries needs: 0 for none, else the least
// n >= 1 with 2^n >= count.
int BitsForColors(int count);

// One byte; EWriteError when the stream does not take it.
void WriteByte(TStream& stream, std::uint8_t value);
// One byte; 0 when the data has ended (nothing is read past the end).
std::uint8_t ReadByte(TStream& stream);
// One byte into value; false, and value 0, when the data has ended.
bool ReadByteIfAny(TStream& stream, std::uint8_t& value);
// Exactly count bytes, else GIFException "Premature end of data".
void ReadExact(TStream& stream, void* buffer, std::size_t count);
// Steps over count bytes, else GIFException "Premature end of data".
void SkipExact(TStream& stream, std::size_t count);

// Text kept as lines of bytes (any byte, NUL included).
using TGIFTextLines = std::vector<std::string>;
// Each line as data sub-blocks of at most 255 bytes, then a 0x00 byte.
void WriteStringBlocks(TStream& stream, const TGIFTextLines& lines);
// One line per data sub-block up to a 0x00 length byte or the end of data.
void ReadStringBlocks(TStream& stream, TGIFTextLines& lines);

TPixelFormat PixelFormatOf(const TBitmap& bitmap);
void ChangePixelFormat(TBitmap& bitmap, TPixelFormat format);

// ---------------------------------------------------------------------------
// Fixed palettes

// The 6 x 6 x 6 colour cube in steps of 51: entry r*36 + g*6 + b.
TPalette WebPalette216();
// Greys 0..255.
TPalette GreyRampPalette();
// Greys 0x00, 0x80, 0xC0, 0xFF.
TPalette Grey4Palette();
// Black, white.
TPalette MonoPalette();
// The screen's halftone palette.
TPalette ScreenHalftonePalette();
// Turns count palette entries (red, green, blue, flags) into RGBQUAD entries
// (blue, green, red, 0) in place.
void PaletteToRGBQuads(std::uint8_t* entries, std::size_t count);

// ---------------------------------------------------------------------------
// Row access

class TDIB {
public:
    TDIB(TBitmap& bitmap, TPixelFormat format) : BitmapRef(bitmap), Format(format) {}
    virtual ~TDIB() = default;
    TDIB(const TDIB&) = delete;
    TDIB& operator=(const TDIB&) = delete;

    // The first byte of row `row` (0 is the top row).
    virtual std::uint8_t* RowAt(int row) = 0;

    TBitmap& BitmapRef;
    const TPixelFormat Format;
};

// Reads the rows of a bitmap, which it first converts to the given format.
class TDIBReader : public TDIB {
public:
    TDIBReader(TBitmap& bitmap, TPixelFormat format);
    std::uint8_t* RowAt(int row) override;
};

// Builds an 8-bit or 24-bit picture row by row and hands it to the bitmap:
// when StoreIntoBitmap runs, or at the latest when the writer goes. The
// bitmap is changed only then.
class TDIBWriter : public TDIB {
public:
    TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, const TPalette& palette);
    // Stores what was written; errors at this point are dropped, so call
    // StoreIntoBitmap first to see them.
    ~TDIBWriter() override;

    std::uint8_t* RowAt(int row) override;

    void AllocateDIB();
    void ReleaseDIB();
    void EnsureDIB();
    // Loads the bitmap from the picture built so far, which stays: rows
    // written later are stored with the earlier ones.
    void StoreIntoBitmap();
    // The in-memory BMP file that StoreIntoBitmap loads.
    std::vector<std::uint8_t> InMemoryBmp() const;

    std::size_t InfoSize() const { return FInfoSize; }
    std::size_t BitsSize() const { return FBitsSize; }
    const std::vector<std::uint8_t>& Info() const { return FInfo; }
    std::uint8_t* Bits() { return FBits.empty() ? nullptr : FBits.data(); }
    int PixelWidth() const { return FPixelWidth; }
    int PixelHeight() const { return FPixelHeight; }
    const TPalette& SourcePalette() const { return FSourcePalette; }

private:
    std::vector<std::uint8_t> FInfo;
    std::vector<std::uint8_t> FBits;
    std::size_t FInfoSize = 0;
    std::size_t FBitsSize = 0;
    TPalette FSourcePalette;
    int FPixelHeight = 0;
    int FPixelWidth = 0;
};

// ---------------------------------------------------------------------------
// Owners of the items

class TGIFColorMap;
class TGIFExtensionList;
class TGIFGraphicControlExtension;
class TGIFFrameOwner;

// What the items of an image need of it. The image class implements it.
class TGIFImageOwner {
public:
    virtual ~TGIFImageOwner() = default;
    // Passes a recoverable problem to the image's warning handler.
    virtual void RaiseWarning(TPersistent& sender, int severity, const std::string& message) = 0;
    // The highest format version the frames need: 0 without frames, 1 for
    // "87a", 2 for "89a".
    virtual int RequiredVersion() const = 0;
    // The greatest colour resolution and bits per pixel of the header and
    // every frame.
    virtual int MaxColorResolution() const = 0;
    virtual int MaxBitsPerPixel() const = 0;
    virtual int FrameCount() const = 0;
    virtual TGIFFrameOwner& FrameAt(int index) = 0;
    // The global colour table changed: the image drops its cached palette.
    virtual void DropPalette() = 0;
};

// What the extensions and the local colour table of a frame need of it. The
// frame class implements it. A frame clears its extension list before the
// rest of it goes, since extensions reach back to it when they are freed.
class TGIFFrameOwner {
public:
    virtual ~TGIFFrameOwner() = default;
    virtual TGIFImageOwner* FrameImage() const = 0;
    virtual TGIFExtensionList& Extensions() = 0;
    // The frame's first graphic control extension (not owned), or null.
    virtual TGIFGraphicControlExtension* GraphicControl() const = 0;
    virtual void SetGraphicControl(TGIFGraphicControlExtension* extension) = 0;
    // Whether the frame has a transparent colour.
    virtual bool FrameTransparent() const = 0;
    virtual void SetFrameTransparent(bool value) = 0;
    // The local table when it holds colours or the global one is empty, else
    // the global table.
    virtual TGIFColorMap& EffectiveColorMap() = 0;
    // Width x height colour indices, rows back to back (null when empty).
    virtual std::uint8_t* PixelData() = 0;
    virtual std::size_t PixelDataSize() const = 0;
    // The local table changed: the frame drops its display palette.
    virtual void FramePaletteChanged() = 0;
};

// ---------------------------------------------------------------------------
// Item tree

// One piece of a GIF stream that reads and writes itself.
class TGIFItem : public TPersistent {
public:
    explicit TGIFItem(TGIFImageOwner* image) : OwnerImage(image) {}
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;
    const char* ClassName() const override { return "TGIFItem"; }

    // 1 for "87a", 2 for "89a".
    virtual int FormatVersion() const { return 1; }
    virtual void ReportWarning(int severity, const std::string& message);
    virtual void SaveToStream(TStream& stream) const = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    void SaveToFile(const std::string& fileName) const;
    void LoadFromFile(const std::string& fileName);

    TGIFImageOwner* OwnerImage;
};

// An owning list of items.
class TGIFList : public TPersistent {
public:
    explicit TGIFList(TGIFImageOwner* image) : OwnerImage(image) {}
    ~TGIFList() override;
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;
    const char* ClassName() const override { return "TGIFList"; }

    virtual void ReportWarning(int severity, const std::string& message);
    // Each item in list order.
    virtual void SaveToStream(TStream& stream) const;
    virtual void LoadFromStream(TStream& stream, TPersistent* parent) = 0;

    // EInvalidGraphicOperation for an index outside the list.
    TGIFItem* ItemAt(int index) const;
    int ItemCount() const { return static_cast<int>(FMembers.size()); }
    // Adds at the end; the list owns the item from then on.
    int Append(std::unique_ptr<TGIFItem> item);
    void FreeAll();
    void FreeAt(int index);
    // Takes the item out without freeing it; its former index or -1.
    int Detach(const TGIFItem* item);

    TGIFImageOwner* OwnerImage;

private:
    std::vector<TGIFItem*> FMembers;
};

// ---------------------------------------------------------------------------
// Colour tables

// One record of the usage table: pixels of an entry and its index before
// sorting.
struct TUsageRecord {
    std::int64_t Count = 0;
    std::int32_t Index = 0;
};
using TUsageTable = std::array<TUsageRecord, 256>;
// New index by old index.
using TIndexMap = std::array<std::uint8_t, 256>;

// Sorts records 0..count-1 by falling count (the table's own quicksort, which
// is not stable).
void SortUsageRecords(TUsageTable& usage, int count);

// A colour table of at most 256 entries, stored as red, green, blue triplets
// in stream order and exchanged as 0x00BBGGRR colours.
class TGIFColorMap : public TPersistent {
public:
    TGIFColorMap() = default;
    // Frees the table without a change notice: the owner is going too.
    ~TGIFColorMap() override = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;
    const char* ClassName() const override { return "TGIFColorMap"; }

    void Assign(const TPersistent& source) override;

    virtual void ReportWarning(int severity, const std::string& message) = 0;
    // Fills the usage table with the pixels that use each entry.
    virtual void CountUsage(TUsageTable& usage) = 0;
    // Renumbers the pixels (and transparent indices) that use the table.
    virtual void RemapPixels(const TIndexMap& map) = 0;
    // Orders the entries by falling use and drops the unused ones; false when
    // nothing could be ordered.
    virtual bool SortByUsage() = 0;
    virtual void NotifyChanged() = 0;

    void Reset();
    void Reserve(int count);
    int AppendColor(TColor color);
    int AddColorOnce(TColor color);
    int FindColor(TColor color) const;
    void RemoveColor(int index);
    TColor ColorAt(int index);
    int TableBits() const { return BitsForColors(FEntryCount); }

    void WriteTable(TStream& stream) const;
    void ReadTable(TStream& stream, int count);
    void LoadPalette(const TPalette& palette);
    void LoadRGBQuads(const std::uint8_t* table, int count);
    // The colour table of a palette bitmap.
    void LoadDIBColors(const TBitmap& bitmap);
    TPalette MakePalette() const;

    int EntryCount() const { return FEntryCount; }
    int Allocated() const { return FAllocated; }
    bool SortedByUsage() const { return FSortedByUsage; }
    std::uint8_t* Triplets() { return FTriplets.empty() ? nullptr : FTriplets.data(); }
    const std::uint8_t* Triplets() const { return FTriplets.empty() ? nullptr : FTriplets.data(); }

protected:
    // The body of SortByUsage.
    bool ReorderByUsage();
    // Entries that must outlive the cut of unused colours (background,
    // transparent colours).
    virtual void KeptEntries(std::vector<int>& indices) = 0;

private:
    std::vector<std::uint8_t> FTriplets;
    int FEntryCount = 0;
    int FAllocated = 0;
    bool FSortedByUsage = false;
};

class TGIFHeader;

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* header) : OwnerHeader(header) {}
    const char* ClassName() const override { return "TGIFGlobalColorMap"; }
    void ReportWarning(int severity, const std::string& message) override;
    void CountUsage(TUsageTable& usage) override;
    void RemapPixels(const TIndexMap& map) override;
    bool SortByUsage() override;
    void NotifyChanged() override;

    TGIFHeader* const OwnerHeader;

protected:
    void KeptEntries(std::vector<int>& indices) override;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFFrameOwner* frame) : Frame(frame) {}
    const char* ClassName() const override { return "TGIFLocalColorMap"; }
    void ReportWarning(int severity, const std::string& message) override;
    void CountUsage(TUsageTable& usage) override;
    void RemapPixels(const TIndexMap& map) override;
    bool SortByUsage() override;
    void NotifyChanged() override;

    TGIFFrameOwner* const Frame;

protected:
    void KeptEntries(std::vector<int>& indices) override;
};

// The signature, the version, the logical screen descriptor and the global
// colour table: the first piece of every GIF stream.
class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFImageOwner* image);
    const char* ClassName() const override { return "TGIFHeader"; }

    void Assign(const TPersistent& source) override;
    int FormatVersion() const override;
    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;

    void Reset();
    // Recomputes Flags from the tables (also while writing).
    void ComputeFlags() const;
    TColor BackgroundColor() { return GlobalTable.ColorAt(BackgroundIndex); }
    int GlobalTableBits() const { return GlobalTable.TableBits(); }
    int GlobalResolution() const { return GlobalTable.TableBits() - 1; }

    // The logical screen descriptor as in the stream.
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;
    mutable std::uint8_t Flags = 0;
    std::uint8_t BackgroundIndex = 0;
    std::uint8_t AspectRatio = 0;
    TGIFGlobalColorMap GlobalTable;
};

// ---------------------------------------------------------------------------
// Extensions and trailer

class TGIFExtension;
struct TGIFExtensionClassInfo;
// A class of extension, as the registries hold it.
using TGIFExtensionClass = const TGIFExtensionClassInfo*;
struct TGIFExtensionClassInfo {
    const char* ClassName;
    std::unique_ptr<TGIFExtension> (*Create)(TGIFFrameOwner* frame);
    // The class that is to read the extension, given the stream after its
    // label; the stream may be left anywhere.
    TGIFExtensionClass (*ResolveClass)(TGIFExtensionClass self, TStream& stream);
};

// The byte that ends a GIF stream.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    const char* ClassName() const override { return "TGIFTrailer"; }
    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;
};

// An extension block that precedes a frame.
class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFFrameOwner* frame);
    // Takes the extension out of its frame's extension list.
    ~TGIFExtension() override;
    const char* ClassName() const override { return "TGIFExtension"; }

    int FormatVersion() const override { return 2; }
    virtual std::uint8_t BlockLabel() const = 0;
    virtual TGIFExtensionClass ClassType() const = 0;
    static TGIFExtensionClass ResolveClass(TGIFExtensionClass self, TStream& stream);

    TGIFFrameOwner* const Frame;

protected:
    // Reads the introducer and the label and checks both.
    void ReadIntroducer(TStream& stream);
    void WriteIntroducer(TStream& stream) const;
};

// Delay, disposal and transparent colour of a frame.
class TGIFGraphicControlExtension : public TGIFExtension {
public:
    explicit TGIFGraphicControlExtension(TGIFFrameOwner* frame);
    ~TGIFGraphicControlExtension() override;
    const char* ClassName() const override { return "TGIFGraphicControlExtension"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }
    std::uint8_t BlockLabel() const override { return 0xF9; }

    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;

    std::uint16_t DelayTime() const;
    void SetDelayTime(std::uint16_t value);
    int DisposalMethod() const { return (Block[1] >> 2) & 7; }
    void SetDisposalMethod(int value);
    bool TransparentFlag() const { return (Block[1] & 1) != 0; }
    void SetTransparentFlag(bool value);
    bool UserInputFlag() const { return (Block[1] & 2) != 0; }
    std::uint8_t TransparentIndex() const { return Block[4]; }
    // Checks the index against the frame's colour table.
    void SetTransparentIndex(int value);

    // Block size, packed byte, delay (2 bytes), transparent index, terminator.
    std::array<std::uint8_t, 6> Block{4, 0, 0, 0, 0, 0};
};

// Text drawn over the picture; kept and written as read.
class TGIFTextExtension : public TGIFExtension {
public:
    explicit TGIFTextExtension(TGIFFrameOwner* frame);
    const char* ClassName() const override { return "TGIFTextExtension"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }
    std::uint8_t BlockLabel() const override { return 0x01; }

    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;

    // Block size, grid left, top, width, height, cell width, height,
    // foreground and background index.
    std::array<std::uint8_t, 13> TextHeader{12};
    TGIFTextLines TextLines;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    using TGIFExtension::TGIFExtension;
    const char* ClassName() const override { return "TGIFCommentExtension"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }
    std::uint8_t BlockLabel() const override { return 0xFE; }

    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;

    TGIFTextLines TextLines;
};

// An application extension: its 11-byte identifier, then its payload.
class TGIFApplicationExtension : public TGIFExtension {
public:
    using TGIFExtension::TGIFExtension;
    const char* ClassName() const override { return "TGIFApplicationExtension"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }
    std::uint8_t BlockLabel() const override { return 0xFF; }
    static TGIFExtensionClass ResolveClass(TGIFExtensionClass self, TStream& stream);

    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;
    // The data sub-blocks after the identifier, terminator included. Here
    // none are kept: reading steps over them, writing ends the extension.
    virtual void WritePayload(TStream& stream) const;
    virtual void ReadPayload(TStream& stream);

    void SetIdentifier(const char* text11);
    std::string IdentifierText() const;
    std::array<std::uint8_t, 11> Identifier{};
};

// One raw data sub-block.
struct TGIFBlock {
    std::uint8_t BlockSize = 0;
    std::vector<std::uint8_t> Bytes;
};

// An application extension nobody here reads; kept as raw sub-blocks and
// written back byte for byte.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    const char* ClassName() const override { return "TGIFUnknownAppExtension"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }

    void WritePayload(TStream& stream) const override;
    void ReadPayload(TStream& stream) override;

    std::vector<TGIFBlock> RawBlocks;
};

// The looping extension ("NETSCAPE2.0", "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFFrameOwner* frame);
    const char* ClassName() const override { return "TGIFAppExtNSLoop"; }
    static TGIFExtensionClass Class();
    TGIFExtensionClass ClassType() const override { return Class(); }

    void WritePayload(TStream& stream) const override;
    void ReadPayload(TStream& stream) override;

    std::uint16_t LoopCount = 0;
    std::uint32_t BufferingSize = 0;
};

// Extension classes by label byte; the newest registration wins.
class TExtensionList {
public:
    void Register(TGIFExtensionClass cls, std::uint8_t label);
    TGIFExtensionClass Lookup(std::uint8_t label) const;

private:
    struct Entry {
        TGIFExtensionClass Class;
        std::uint8_t Label;
    };
    std::vector<Entry> FEntries;
};

// Application extension classes by 11-byte identifier; the newest
// registration wins.
class TAppExtensionList {
public:
    void Register(TGIFExtensionClass cls, const std::uint8_t* identifier11);
    void Register(TGIFExtensionClass cls, const char* identifier11);
    TGIFExtensionClass Lookup(const std::uint8_t* identifier11) const;

private:
    struct Entry {
        TGIFExtensionClass Class;
        std::array<std::uint8_t, 11> Identifier;
    };
    std::vector<Entry> FEntries;
};

TExtensionList& ExtensionRegistry();
TAppExtensionList& AppExtensionRegistry();

// The class that is to read the extension whose label is next in the stream
// (the stream just past its 0x21); null when none. The position is kept.
TGIFExtensionClass FindExtensionClass(TStream& stream);

// The extensions that precede a frame.
class TGIFExtensionList : public TGIFList {
public:
    using TGIFList::TGIFList;
    const char* ClassName() const override { return "TGIFExtensionList"; }
    // Reads extensions up to the byte that ends the list (an image
    // descriptor, the trailer, or anything that is no extension), and leaves
    // the stream on that byte. parent is the frame (a TGIFFrameOwner).
    void LoadFromStream(TStream& stream, TPersistent* parent) override;
    TGIFExtension* ExtensionAt(int index) const;
};

// ---------------------------------------------------------------------------
// Colour lookups

// Answers the palette index and the palette colour for a colour.
class TColorLookup {
public:
    explicit TColorLookup(const TPalette&) {}
    virtual ~TColorLookup() = default;
    TColorLookup(const TColorLookup&) = delete;
    TColorLookup& operator=(const TColorLookup&) = delete;
    virtual std::uint8_t MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                  std::uint8_t& g, std::uint8_t& b) = 0;
    int ColorCount = 0;
};

// Nearest colour of a palette, remembered by 15-bit key. A colour of the
// palette itself always answers its own (first) entry.
class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(const TPalette& palette);
    std::uint8_t MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r, std::uint8_t& g,
                          std::uint8_t& b) override;

private:
    std::array<TPaletteEntry, 256> FEntries{};
    // Per 15-bit key: -1 unknown, else the index in the low byte; bit 8 set
    // when palette colours have this key (the index is then the first).
    std::vector<std::int16_t> FNearestCache;
    // The next palette entry of the same key, -1 at the end.
    std::array<std::int16_t, 256> FNextOfKey{};
};

// The 216-colour web cube.
class TNetscapeColorLookup : public TColorLookup {
public:
    explicit TNetscapeColorLookup(const TPalette& palette);
    std::uint8_t MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r, std::uint8_t& g,
                          std::uint8_t& b) override;
};

// Greys 0..255.
class TGrayScaleLookup : public TColorLookup {
public:
    explicit TGrayScaleLookup(const TPalette& palette);
    std::uint8_t MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r, std::uint8_t& g,
                          std::uint8_t& b) override;
};

// Black and white by a grey threshold.
class TMonochromeLookup : public TColorLookup {
public:
    explicit TMonochromeLookup(const TPalette& palette);
    std::uint8_t MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r, std::uint8_t& g,
                          std::uint8_t& b) override;
};

// ---------------------------------------------------------------------------
// Ditherers. Rows run in serpentine order, the first left to right; pixels
// are presented at Col while 0 <= Col < RowWidth, then NextRow.

// Nearest colour, no error diffusion.
class TDitherEngine {
public:
    TDitherEngine(int rowWidth, TColorLookup& lookup) : Mapper(&lookup), RowWidth(rowWidth) {}
    virtual ~TDitherEngine() = default;
    TDitherEngine(const TDitherEngine&) = delete;
    TDitherEngine& operator=(const TDitherEngine&) = delete;

    virtual std::uint8_t DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                     std::uint8_t& g, std::uint8_t& b);
    virtual void NextRow();
    // Passes over one pixel of the row without output (no error spread).
    virtual void SkipPixel() { Col += Step; }

    int Step = 1;
    int Col = 0;
    TColorLookup* Mapper;
    int RowWidth;
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int rowWidth, TColorLookup& lookup);
    std::uint8_t DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                             std::uint8_t& g, std::uint8_t& b) override;
    void NextRow() override;
    void SkipPixel() override;

private:
    // Per channel: next-row errors (entry k for column k - 1) and the running
    // sums of the row.
    std::array<std::vector<std::int32_t>, 3> FBelow;
    std::array<std::int32_t, 3> FCarry{};
    std::array<std::int32_t, 3> FBelowError{};
    std::array<std::int32_t, 3> FBelowBehind{};
    std::size_t FPos = 0;
};

// The kernels of five columns over three rows.
class T5by3Ditherer : public TDitherEngine {
public:
    T5by3Ditherer(int rowWidth, TColorLookup& lookup, int denominator);
    std::uint8_t DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                             std::uint8_t& g, std::uint8_t& b) override;
    void NextRow() override;

    const int Denominator;

protected:
    // Adds the kernel's weights x error around the pixel; each pointer is at
    // the pixel's column of its row.
    virtual void Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error) = 0;
    int Step2 = 2;

private:
    // Per channel, three rows of RowWidth + 4 entries (entry c + 2 for column c).
    std::array<std::array<std::vector<std::int32_t>, 3>, 3> FRows;
    std::size_t FPos = 2;
};

class TStuckiDitherer : public T5by3Ditherer {
public:
    TStuckiDitherer(int rowWidth, TColorLookup& lookup) : T5by3Ditherer(rowWidth, lookup, 42) {}

protected:
    void Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error) override;
};

class TSierraDitherer : public T5by3Ditherer {
public:
    TSierraDitherer(int rowWidth, TColorLookup& lookup) : T5by3Ditherer(rowWidth, lookup, 32) {}

protected:
    void Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error) override;
};

class TJaJuNiDitherer : public T5by3Ditherer {
public:
    TJaJuNiDitherer(int rowWidth, TColorLookup& lookup) : T5by3Ditherer(rowWidth, lookup, 48) {}

protected:
    void Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error) override;
};

class TSteveArcheDitherer : public TDitherEngine {
public:
    TSteveArcheDitherer(int rowWidth, TColorLookup& lookup);
    std::uint8_t DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                             std::uint8_t& g, std::uint8_t& b) override;
    void NextRow() override;

private:
    // Per channel, four rows of RowWidth + 6 entries (entry c + 3 for column c).
    std::array<std::array<std::vector<std::int32_t>, 4>, 3> FRows;
    std::size_t FPos = 3;
    int FStep2 = 2;
    int FStep3 = 3;
};

class TBurkesDitherer : public TDitherEngine {
public:
    TBurkesDitherer(int rowWidth, TColorLookup& lookup);
    std::uint8_t DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                             std::uint8_t& g, std::uint8_t& b) override;
    void NextRow() override;

private:
    // Per channel, two rows of RowWidth + 4 entries (entry c + 2 for column c).
    std::array<std::array<std::vector<std::int32_t>, 2>, 3> FRows;
    std::size_t FPos = 2;
    int FStep2 = 2;
};

// The ditherer of a dither choice (dtNearest .. dtBurkes); null for any other.
std::unique_ptr<TDitherEngine> MakeDitherer(std::uint8_t dither, int width, TColorLookup& lookup);

// ---------------------------------------------------------------------------
// Octree quantiser and colour reduction

// How a true-colour picture is reduced to a palette.
enum TColorReduction : std::uint8_t {
    rdNone,
    rdSystem20,
    rdHalftone,
    rdGray4,
    rdBlackWhite,
    rdGray256,
    rdNetscape216,
    rdOctree,
    rdOctreeSystem,
    rdCustomPalette,
};

// How the error of each pixel is spread.
enum TDitherMode : std::uint8_t {
    dtNearest,
    dtFloydSteinberg,
    dtStucki,
    dtSierra,
    dtJaJuNi,
    dtSteveArche,
    dtBurkes,
};

// The colour bit examined at levels 0 to 7.
inline constexpr std::array<std::uint8_t, 8> OctreeLevelMasks{0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

// One node of the colour tree.
class TOctreeNode {
public:
    TOctreeNode(int level, int depth, int& leaves, std::array<TOctreeNode*, 8>& reducible);
    ~TOctreeNode();
    TOctreeNode(const TOctreeNode&) = delete;
    TOctreeNode& operator=(const TOctreeNode&) = delete;

    bool Leaf = false;
    std::int64_t Pixels = 0;
    std::int64_t SumR = 0;
    std::int64_t SumG = 0;
    std::int64_t SumB = 0;
    TOctreeNode* NextReducible = nullptr;
    std::array<TOctreeNode*, 8> Children{};
};

// Gathers the colours of a picture in a tree of at most ColorLimit leaves.
class TColorQuantizer {
public:
    // A limit outside 1..256 or a depth outside 1..8 is refused.
    TColorQuantizer(int colorLimit, int depth);
    ~TColorQuantizer();
    TColorQuantizer(const TColorQuantizer&) = delete;
    TColorQuantizer& operator=(const TColorQuantizer&) = delete;

    // Adds every pixel of the reader's 24-bit bitmap; always true.
    bool ScanBitmap(TDIB& reader);
    // Adds one pixel and merges until the limit holds again.
    void AddPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    // Fills 256 RGBQUAD entries (1024 bytes) from the leaves, depth first;
    // answers the number of leaves written.
    int ColorTable(std::uint8_t* table) const;
    int Leaves() const { return FLeaves; }
    const TOctreeNode* Root() const { return FRoot; }

private:
    void InsertColor(TOctreeNode*& node, std::uint8_t red, std::uint8_t green, std::uint8_t blue, int level);
    void MergeDeepest();
    static void CollectLeaves(const TOctreeNode* node, std::uint8_t* table, int& index);
    static void FreeTree(TOctreeNode*& node);

    TOctreeNode* FRoot = nullptr;
    int FLeaves = 0;
    std::array<TOctreeNode*, 8> FReducible{};
    int FColorLimit;
    int FDepth;
};

// A palette of colorCount entries (1..256) from an octree of the reader's
// 24-bit picture; with system colours, 236 octree colours between the 20
// static colours. Entries the tree does not fill are black.
TPalette BuildOctreePalette(TDIB& reader, int colorCount, int depth, bool withSystemColors);
// The same for a bitmap, which is converted to 24 bits first.
TPalette OctreePaletteOf(TBitmap& bitmap, int colorCount, int depth, bool withSystemColors);

// A new 8-bit bitmap of bitmap's pixels reduced to a palette of at most 256
// colours by method and dither (an empty bitmap for an unknown method or
// dither or an empty palette). Every method but rdNone converts bitmap to 24
// bits; rdNone answers a 24-bit copy. reductionBits (0..8) gives the octree
// 2^reductionBits colours; customPalette serves rdCustomPalette.
std::unique_ptr<TBitmap> ReduceToPalette(TBitmap& bitmap, std::uint8_t method, std::uint8_t dither,
                                         int reductionBits, const TPalette& customPalette = {});
