// The item tree: items and lists, colour tables and the header with the
// logical screen descriptor.

#include "GifCodec.h"

#include "AtomicFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// ---------------------------------------------------------------------------
// Items and lists

void TGIFItem::ReportWarning(int severity, const std::string& message)
{
    if (OwnerImage)
        OwnerImage->RaiseWarning(*this, severity, message);
}

void TGIFItem::SaveToFile(const std::string& fileName) const
{
    AtomicWriteFile(fileName, [this](TStream& stream) { SaveToStream(stream); });
}

void TGIFItem::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStream(stream);
}

TGIFList::~TGIFList()
{
    FreeAll();
}

void TGIFList::ReportWarning(int severity, const std::string& message)
{
    if (OwnerImage)
        OwnerImage->RaiseWarning(*this, severity, message);
}

void TGIFList::SaveToStream(TStream& stream) const
{
    for (TGIFItem* item : FMembers)
        item->SaveToStream(stream);
}

TGIFItem* TGIFList::ItemAt(int index) const
{
    if (index < 0 || index >= ItemCount())
        throw EListError("Index de liste hors limites (" + std::to_string(index) + ")");
    return FMembers[static_cast<std::size_t>(index)];
}

int TGIFList::Append(std::unique_ptr<TGIFItem> item)
{
    FMembers.push_back(item.get());
    item.release();
    return ItemCount() - 1;
}

void TGIFList::FreeAll()
{
    while (!FMembers.empty())
        FreeAt(0);
}

void TGIFList::FreeAt(int index)
{
    TGIFItem* item = ItemAt(index);
    FMembers.erase(FMembers.begin() + index);
    delete item;
}

int TGIFList::Detach(const TGIFItem* item)
{
    auto it = std::find(FMembers.begin(), FMembers.end(), item);
    if (it == FMembers.end())
        return -1;
    const auto index = static_cast<int>(it - FMembers.begin());
    FMembers.erase(it);
    return index;
}

// ---------------------------------------------------------------------------
// Colour tables

namespace {

void QuickSortUsage(TUsageTable& usage, int left, int right)
{
    int i;
    do {
        i = left;
        int j = right;
        const std::int64_t pivot = usage[static_cast<std::size_t>((left + right) >> 1)].Count;
        do {
            while (usage[static_cast<std::size_t>(i)].Count - pivot > 0)
                ++i;
            while (usage[static_cast<std::size_t>(j)].Count - pivot < 0)
                --j;
            if (i <= j) {
                std::swap(usage[static_cast<std::size_t>(i)], usage[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j)
            QuickSortUsage(usage, left, j);
        left = i;
    } while (i < right);
}

void ClearUsage(TUsageTable& usage)
{
    for (std::size_t i = 0; i < usage.size(); ++i)
        usage[i] = TUsageRecord{0, static_cast<std::int32_t>(i)};
}

void AddPixelUsage(TUsageTable& usage, const std::uint8_t* pixels, std::size_t count)
{
    if (!pixels)
        return;
    std::array<std::uint64_t, 256> histogram{};
    for (std::size_t i = 0; i < count; ++i)
        ++histogram[pixels[i]];
    for (std::size_t i = 0; i < 256; ++i)
        usage[i].Count += static_cast<std::int64_t>(histogram[i]);
}

void RemapFrame(TGIFFrameOwner& frame, const TIndexMap& map)
{
    if (std::uint8_t* pixels = frame.PixelData()) {
        const std::size_t count = frame.PixelDataSize();
        for (std::size_t i = 0; i < count; ++i)
            pixels[i] = map[pixels[i]];
    }
    if (frame.FrameTransparent()) {
        if (TGIFGraphicControlExtension* control = frame.GraphicControl())
            control->Block[4] = map[control->Block[4]];
    }
}

// Writes all bytes or raises the stream's write error.
void WriteChecked(TStream& stream, const void* buffer, std::size_t count)
{
    if (stream.Write(buffer, count) != count)
        throw EWriteError("Erreur d'écriture dans le flux");
}

} // namespace

void SortUsageRecords(TUsageTable& usage, int count)
{
    if (count > 1)
        QuickSortUsage(usage, 0, std::min(count, 256) - 1);
}

void TGIFColorMap::Reset()
{
    FTriplets.clear();
    FTriplets.shrink_to_fit();
    FEntryCount = 0;
    FAllocated = 0;
    FSortedByUsage = false;
}

void TGIFColorMap::Reserve(int count)
{
    if (count < FAllocated)
        return;
    int allocated = count <= 16 ? 16 : (count + 31) / 32 * 32;
    allocated = std::min(allocated, 256);
    FTriplets.resize(static_cast<std::size_t>(allocated) * 3, 0);
    FAllocated = allocated;
}

int TGIFColorMap::AppendColor(TColor color)
{
    if (FEntryCount >= 256)
        RaiseGIFError("Color table overflow");
    if (FEntryCount >= FAllocated)
        Reserve(FEntryCount + 1);
    std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(FEntryCount) * 3;
    t[0] = GetRValue(color);
    t[1] = GetGValue(color);
    t[2] = GetBValue(color);
    ++FEntryCount;
    FSortedByUsage = false;
    NotifyChanged();
    return FEntryCount - 1;
}

int TGIFColorMap::AddColorOnce(TColor color)
{
    const int index = FindColor(color);
    return index >= 0 ? index : AppendColor(color);
}

int TGIFColorMap::FindColor(TColor color) const
{
    const std::uint8_t r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    auto matches = [&](int i) {
        const std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(i) * 3;
        return t[0] == r && t[1] == g && t[2] == b;
    };
    if (FSortedByUsage) {
        for (int i = 0; i < FEntryCount; ++i)
            if (matches(i))
                return i;
    } else {
        for (int i = FEntryCount - 1; i >= 0; --i)
            if (matches(i))
                return i;
    }
    return -1;
}

void TGIFColorMap::RemoveColor(int index)
{
    if (index < 0 || index >= FEntryCount)
        RaiseGIFError("Invalid color index");
    --FEntryCount;
    std::uint8_t* t = FTriplets.data();
    std::memmove(t + static_cast<std::size_t>(index) * 3, t + static_cast<std::size_t>(index + 1) * 3,
                 static_cast<std::size_t>(FEntryCount - index) * 3);
    FSortedByUsage = false;
    NotifyChanged();
}

TColor TGIFColorMap::ColorAt(int index)
{
    if (index < 0 || index >= FEntryCount) {
        ReportWarning(1, "Invalid color index");
        if (FEntryCount == 0)
            RaiseGIFError("Color table is empty");
        index = 0;
    }
    const std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(index) * 3;
    return RGB(t[0], t[1], t[2]);
}

void TGIFColorMap::WriteTable(TStream& stream) const
{
    if (FEntryCount == 0)
        return;
    WriteChecked(stream, FTriplets.data(), static_cast<std::size_t>(FEntryCount) * 3);
    const int total = 1 << TableBits();
    static const std::uint8_t black[3] = {0, 0, 0};
    for (int i = FEntryCount; i < total; ++i)
        WriteChecked(stream, black, 3);
}

void TGIFColorMap::ReadTable(TStream& stream, int count)
{
    if (count < 0 || count > 256)
        RaiseGIFError("Color table overflow");
    Reset();
    Reserve(count);
    ReadExact(stream, FTriplets.data(), static_cast<std::size_t>(count) * 3);
    FEntryCount = count;
}

void TGIFColorMap::LoadPalette(const TPalette& palette)
{
    Reset();
    const int n = static_cast<int>(std::min<std::size_t>(palette.size(), 256));
    if (n == 0)
        return;
    Reserve(n);
    for (int i = 0; i < n; ++i) {
        std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(i) * 3;
        t[0] = palette[static_cast<std::size_t>(i)].peRed;
        t[1] = palette[static_cast<std::size_t>(i)].peGreen;
        t[2] = palette[static_cast<std::size_t>(i)].peBlue;
    }
    FEntryCount = n;
    NotifyChanged();
}

void TGIFColorMap::LoadRGBQuads(const std::uint8_t* table, int count)
{
    Reset();
    count = std::clamp(count, 0, 256);
    if (count == 0 || !table)
        return;
    Reserve(count);
    for (int i = 0; i < count; ++i) {
        std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(i) * 3;
        const std::uint8_t* q = table + static_cast<std::size_t>(i) * 4;
        t[0] = q[2];
        t[1] = q[1];
        t[2] = q[0];
    }
    FEntryCount = count;
    NotifyChanged();
}

void TGIFColorMap::LoadDIBColors(const TBitmap& bitmap)
{
    Reset();
    std::array<std::uint8_t, 1024> quads{};
    int n = 0;
    if (bitmap.BitsPerPixel() <= 8) {
        const TPalette palette = bitmap.GetPalette();
        n = static_cast<int>(std::min<std::size_t>(palette.size(), 256));
        for (int i = 0; i < n; ++i) {
            const TPaletteEntry& e = palette[static_cast<std::size_t>(i)];
            quads[static_cast<std::size_t>(i) * 4] = e.peBlue;
            quads[static_cast<std::size_t>(i) * 4 + 1] = e.peGreen;
            quads[static_cast<std::size_t>(i) * 4 + 2] = e.peRed;
        }
    }
    LoadRGBQuads(quads.data(), n);
    NotifyChanged();
}

TPalette TGIFColorMap::MakePalette() const
{
    TPalette palette;
    palette.reserve(static_cast<std::size_t>(FEntryCount));
    for (int i = 0; i < FEntryCount; ++i) {
        const std::uint8_t* t = FTriplets.data() + static_cast<std::size_t>(i) * 3;
        palette.push_back(TPaletteEntry{t[0], t[1], t[2], PC_NOCOLLAPSE});
    }
    return palette;
}

void TGIFColorMap::Assign(const TPersistent& source)
{
    if (auto* other = dynamic_cast<const TGIFColorMap*>(&source)) {
        if (other == this)
            return;
        Reset();
        FAllocated = other->FAllocated;
        FEntryCount = other->FEntryCount;
        FSortedByUsage = other->FSortedByUsage;
        FTriplets.assign(static_cast<std::size_t>(FAllocated) * 3, 0);
        std::copy_n(other->FTriplets.begin(), static_cast<std::size_t>(FEntryCount) * 3, FTriplets.begin());
        NotifyChanged();
        return;
    }
    TPersistent::Assign(source);
}

bool TGIFColorMap::ReorderByUsage()
{
    if (FEntryCount <= 1)
        return false;
    FSortedByUsage = true;

    TUsageTable usage;
    CountUsage(usage);
    SortUsageRecords(usage, FEntryCount);
    bool unchanged = true;
    for (int k = 0; k < FEntryCount && unchanged; ++k)
        unchanged = usage[static_cast<std::size_t>(k)].Index == k;
    if (unchanged)
        return true;

    // Indices outside the table keep their value.
    TIndexMap map;
    for (std::size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<std::uint8_t>(i);
    for (int k = 0; k < FEntryCount; ++k)
        map[static_cast<std::size_t>(usage[static_cast<std::size_t>(k)].Index)] = static_cast<std::uint8_t>(k);

    std::vector<int> kept;
    KeptEntries(kept);
    RemapPixels(map);

    const std::vector<std::uint8_t> old = FTriplets;
    for (int i = 0; i < FEntryCount; ++i)
        std::memcpy(FTriplets.data() + static_cast<std::size_t>(map[static_cast<std::size_t>(i)]) * 3,
                    old.data() + static_cast<std::size_t>(i) * 3, 3);

    // Unused colours go, except the entries that something still names.
    int count = FEntryCount;
    for (int k = 0; k < FEntryCount; ++k) {
        if (usage[static_cast<std::size_t>(k)].Count == 0) {
            count = k;
            break;
        }
    }
    for (int index : kept)
        if (index >= 0 && index < FEntryCount)
            count = std::max(count, map[static_cast<std::size_t>(index)] + 1);
    FEntryCount = count;
    NotifyChanged();
    return true;
}

static TGIFImageOwner* OwnerImageOf(const TGIFHeader* header)
{
    return header ? header->OwnerImage : nullptr;
}

void TGIFGlobalColorMap::ReportWarning(int severity, const std::string& message)
{
    if (TGIFImageOwner* image = OwnerImageOf(OwnerHeader))
        image->RaiseWarning(*this, severity, message);
}

void TGIFGlobalColorMap::CountUsage(TUsageTable& usage)
{
    ClearUsage(usage);
    TGIFImageOwner* image = OwnerImageOf(OwnerHeader);
    if (!image)
        return;
    for (int i = 0; i < image->FrameCount(); ++i) {
        TGIFFrameOwner& frame = image->FrameAt(i);
        if (&frame.EffectiveColorMap() == this)
            AddPixelUsage(usage, frame.PixelData(), frame.PixelDataSize());
    }
}

void TGIFGlobalColorMap::RemapPixels(const TIndexMap& map)
{
    if (OwnerHeader)
        OwnerHeader->BackgroundIndex = map[OwnerHeader->BackgroundIndex];
    TGIFImageOwner* image = OwnerImageOf(OwnerHeader);
    if (!image)
        return;
    for (int i = 0; i < image->FrameCount(); ++i) {
        TGIFFrameOwner& frame = image->FrameAt(i);
        if (&frame.EffectiveColorMap() == this)
            RemapFrame(frame, map);
    }
}

bool TGIFGlobalColorMap::SortByUsage()
{
    TGIFImageOwner* image = OwnerImageOf(OwnerHeader);
    if (!image || image->FrameCount() == 0)
        return false;
    return ReorderByUsage();
}

void TGIFGlobalColorMap::NotifyChanged()
{
    if (TGIFImageOwner* image = OwnerImageOf(OwnerHeader))
        image->DropPalette();
}

void TGIFGlobalColorMap::KeptEntries(std::vector<int>& indices)
{
    // The background colour is kept for the painter; unused transparent
    // colours go like any other.
    if (OwnerHeader)
        indices.push_back(OwnerHeader->BackgroundIndex);
}

void TGIFLocalColorMap::ReportWarning(int severity, const std::string& message)
{
    if (Frame)
        if (TGIFImageOwner* image = Frame->FrameImage())
            image->RaiseWarning(*this, severity, message);
}

void TGIFLocalColorMap::CountUsage(TUsageTable& usage)
{
    ClearUsage(usage);
    if (Frame)
        AddPixelUsage(usage, Frame->PixelData(), Frame->PixelDataSize());
}

void TGIFLocalColorMap::RemapPixels(const TIndexMap& map)
{
    if (Frame)
        RemapFrame(*Frame, map);
}

bool TGIFLocalColorMap::SortByUsage()
{
    return ReorderByUsage();
}

void TGIFLocalColorMap::NotifyChanged()
{
    if (Frame)
        Frame->FramePaletteChanged();
}

void TGIFLocalColorMap::KeptEntries(std::vector<int>&)
{
    // A transparent colour no pixel uses goes like any other unused colour.
}

// ---------------------------------------------------------------------------
// Header

TGIFHeader::TGIFHeader(TGIFImageOwner* image) : TGIFItem(image), GlobalTable(this)
{
    Reset();
}

void TGIFHeader::Reset()
{
    GlobalTable.Reset();
    ScreenWidth = 0;
    ScreenHeight = 0;
    Flags = 0;
    BackgroundIndex = 0;
    AspectRatio = 0;
}

int TGIFHeader::FormatVersion() const
{
    return (GlobalTable.SortedByUsage() || AspectRatio != 0) ? 2 : 1;
}

void TGIFHeader::ComputeFlags() const
{
    const bool hasTable = GlobalTable.EntryCount() > 0;
    unsigned flags = 0;
    if (hasTable) {
        flags |= 0x80;
        if (GlobalTable.SortedByUsage())
            flags |= 0x08;
    }
    // Without any colour table both values are -1, which gives 7.
    const int resolution = OwnerImage ? OwnerImage->MaxColorResolution() : GlobalResolution();
    flags |= (static_cast<unsigned>(resolution) << 4) & 0x70;
    if (hasTable)
        flags |= static_cast<unsigned>(GlobalTableBits() - 1) & 7;
    else
        flags |= static_cast<unsigned>((OwnerImage ? OwnerImage->MaxBitsPerPixel() : 0) - 1) & 7;
    Flags = static_cast<std::uint8_t>(flags);
}

void TGIFHeader::SaveToStream(TStream& stream) const
{
    int version = FormatVersion();
    if (OwnerImage)
        version = std::max(version, OwnerImage->RequiredVersion());
    if (version != 1 && version != 2)
        RaiseGIFError("Unsupported GIF version");
    const char* signature = version == 1 ? "GIF87a" : "GIF89a";
    ComputeFlags();
    std::uint8_t descriptor[7] = {
        static_cast<std::uint8_t>(ScreenWidth), static_cast<std::uint8_t>(ScreenWidth >> 8),
        static_cast<std::uint8_t>(ScreenHeight), static_cast<std::uint8_t>(ScreenHeight >> 8),
        Flags, BackgroundIndex, AspectRatio,
    };
    stream.WriteBuffer(signature, 6);
    stream.WriteBuffer(descriptor, sizeof descriptor);
    if (Flags & 0x80)
        GlobalTable.WriteTable(stream);
}

void TGIFHeader::LoadFromStream(TStream& stream)
{
    auto isGif = [](const std::uint8_t* s) {
        return std::toupper(s[0]) == 'G' && std::toupper(s[1]) == 'I' && std::toupper(s[2]) == 'F';
    };
    const std::int64_t start = stream.Position();
    std::uint8_t signature[6];
    ReadExact(stream, signature, sizeof signature);
    if (!isGif(signature)) {
        // A GIF stream may stand behind a 4-byte prefix.
        stream.SetPosition(start);
        stream.Seek(4, soCurrent);
        ReadExact(stream, signature, sizeof signature);
        if (!isGif(signature))
            RaiseGIFError("Invalid GIF signature");
    }
    std::uint8_t descriptor[7];
    ReadExact(stream, descriptor, sizeof descriptor);
    ScreenWidth = static_cast<std::uint16_t>(descriptor[0] | (descriptor[1] << 8));
    ScreenHeight = static_cast<std::uint16_t>(descriptor[2] | (descriptor[3] << 8));
    Flags = descriptor[4];
    BackgroundIndex = descriptor[5];
    AspectRatio = descriptor[6];
    if (Flags & 0x80)
        GlobalTable.ReadTable(stream, 2 << (Flags & 7));
    else
        GlobalTable.Reset();
}

void TGIFHeader::Assign(const TPersistent& source)
{
    if (auto* other = dynamic_cast<const TGIFHeader*>(&source)) {
        if (other == this)
            return;
        GlobalTable.Assign(other->GlobalTable);
        ScreenWidth = other->ScreenWidth;
        ScreenHeight = other->ScreenHeight;
        Flags = other->Flags;
        BackgroundIndex = other->BackgroundIndex;
        AspectRatio = other->AspectRatio;
        return;
    }
    if (auto* table = dynamic_cast<const TGIFColorMap*>(&source)) {
        Reset();
        GlobalTable.Assign(*table);
        return;
    }
    TPersistent::Assign(source);
}
