// The item tree of the GIF codec: colour tables, the header, the extensions,
// their registries and the trailer, with a stand-in image and frame.

#include "GifCodec.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <type_traits>

using namespace testutil;

namespace {

using Bytes = std::vector<std::uint8_t>;

class TTestFrame;

// An image as the items see it.
class TTestImage : public TPersistent, public TGIFImageOwner {
public:
    TTestImage() : Header(this) {}
    void RaiseWarning(TPersistent&, int severity, const std::string& message) override
    {
        EXPECT_EQ(severity, 1);
        Warnings.push_back(message);
    }
    int RequiredVersion() const override { return Version; }
    int MaxColorResolution() const override { return Resolution; }
    int MaxBitsPerPixel() const override { return Bits; }
    int FrameCount() const override { return static_cast<int>(Frames.size()); }
    TGIFFrameOwner& FrameAt(int index) override { return *Frames.at(static_cast<std::size_t>(index)); }
    void DropPalette() override { ++PaletteDrops; }

    std::vector<std::string> Warnings;
    int Version = 0;
    int Resolution = -1;
    int Bits = 0;
    int PaletteDrops = 0;
    std::vector<TGIFFrameOwner*> Frames;
    TGIFHeader Header;
};

// A frame as its extensions and local table see it.
class TTestFrame : public TPersistent, public TGIFFrameOwner {
public:
    explicit TTestFrame(TTestImage* image) : Image(image), List(image), Local(this)
    {
        if (image)
            image->Frames.push_back(this);
    }
    ~TTestFrame() override { List.FreeAll(); }
    TGIFImageOwner* FrameImage() const override { return Image; }
    TGIFExtensionList& Extensions() override { return List; }
    TGIFGraphicControlExtension* GraphicControl() const override { return Control; }
    void SetGraphicControl(TGIFGraphicControlExtension* extension) override { Control = extension; }
    bool FrameTransparent() const override { return Transparent; }
    void SetFrameTransparent(bool value) override { Transparent = value; }
    TGIFColorMap& EffectiveColorMap() override
    {
        if (Local.EntryCount() > 0 || !Image || Image->Header.GlobalTable.EntryCount() == 0)
            return Local;
        return Image->Header.GlobalTable;
    }
    std::uint8_t* PixelData() override { return Pixels.empty() ? nullptr : Pixels.data(); }
    std::size_t PixelDataSize() const override { return Pixels.size(); }
    void FramePaletteChanged() override { ++PaletteChanges; }

    TTestImage* Image;
    TGIFExtensionList List;
    TGIFLocalColorMap Local;
    TGIFGraphicControlExtension* Control = nullptr;
    bool Transparent = false;
    Bytes Pixels;
    int PaletteChanges = 0;
};

Bytes Saved(TGIFItem& item)
{
    TMemoryStream stream;
    item.SaveToStream(stream);
    return stream.Data();
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

std::string Error(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.Message;
    }
    return "";
}

// A stream that takes nothing.
class TFullStream : public TStream {
public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

// A stream with room for a given number of bytes (a full disk).
class TCappedStream : public TMemoryStream {
public:
    explicit TCappedStream(std::size_t room) : Room(room) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::size_t n = std::min(count, Room - std::min(Room, static_cast<std::size_t>(Size())));
        return n == 0 ? 0 : TMemoryStream::Write(buffer, n);
    }
    std::size_t Room;
};

// ---------------------------------------------------------------------------
// Colour tables

TEST(GifColorMap, GrowsInFixedSteps)
{
    TTestFrame frame(nullptr);
    TGIFLocalColorMap& table = frame.Local;
    for (int count : {1, 16}) {
        table.Reset();
        table.Reserve(count);
        EXPECT_EQ(table.Allocated(), 16) << count;
    }
    const std::pair<int, int> steps[] = {{17, 32}, {33, 64}, {64, 64}, {65, 96}, {250, 256}, {256, 256}};
    for (auto [count, allocated] : steps) {
        table.Reset();
        table.Reserve(count);
        EXPECT_EQ(table.Allocated(), allocated) << count;
    }
    table.Reserve(10); // below the allocation: nothing
    EXPECT_EQ(table.Allocated(), 256);
}

TEST(GifColorMap, AppendFindRemoveAndOverflow)
{
    TTestFrame frame(nullptr);
    TGIFLocalColorMap& table = frame.Local;
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(table.AppendColor(RGB(i, 0, 0) | 0x7F000000), i);
    EXPECT_EQ(frame.PaletteChanges, 256);
    EXPECT_EQ(Error([&] { table.AppendColor(clWhite); }), "Color table overflow");
    EXPECT_EQ(table.EntryCount(), 256);
    EXPECT_EQ(table.ColorAt(255), RGB(255, 0, 0));
    EXPECT_EQ(table.AddColorOnce(RGB(3, 0, 0)), 3);

    table.Reset();
    for (TColor c : {clBlack, clWhite, clRed, clLime, clBlue, clRed})
        table.AppendColor(c);
    // Unsorted: the last match.
    EXPECT_EQ(table.FindColor(clRed), 5);
    EXPECT_EQ(table.FindColor(clYellow), -1);
    EXPECT_EQ(table.AddColorOnce(clYellow), 6);

    EXPECT_EQ(Error([&] { table.RemoveColor(7); }), "Invalid color index");
    EXPECT_EQ(Error([&] { table.RemoveColor(-1); }), "Invalid color index");
    table.RemoveColor(1);
    EXPECT_EQ(table.EntryCount(), 6);
    EXPECT_EQ(table.ColorAt(1), clRed);
    EXPECT_EQ(table.ColorAt(5), clYellow);
}

TEST(GifColorMap, ColorAtOutsideWarnsAndAnswersEntryZero)
{
    TTestImage image;
    TTestFrame frame(&image);
    frame.Local.AppendColor(clLime);
    frame.Local.AppendColor(clRed);
    EXPECT_EQ(frame.Local.ColorAt(9), clLime);
    EXPECT_EQ(frame.Local.ColorAt(-1), clLime);
    EXPECT_EQ(image.Warnings, (std::vector<std::string>{"Invalid color index", "Invalid color index"}));
    image.Warnings.clear();
    frame.Local.Reset();
    EXPECT_EQ(Error([&] { frame.Local.ColorAt(0); }), "Color table is empty");
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid color index"});
}

TEST(GifColorMap, WritesPowersOfTwoAndReadsExactly)
{
    TTestFrame frame(nullptr);
    TGIFLocalColorMap& table = frame.Local;
    const std::pair<int, std::size_t> sizes[] = {{0, 0}, {1, 2}, {3, 4}, {5, 8}, {200, 256}, {256, 256}};
    for (auto [count, written] : sizes) {
        table.Reset();
        for (int i = 0; i < count; ++i)
            table.AppendColor(RGB(i + 1, 2, 3));
        TMemoryStream stream;
        table.WriteTable(stream);
        ASSERT_EQ(stream.Data().size(), written * 3) << count;
        if (count > 0) {
            EXPECT_EQ(stream.Data()[0], 1);
            EXPECT_EQ(stream.Data()[1], 2);
            EXPECT_EQ(stream.Data()[2], 3);
        }
        for (std::size_t i = static_cast<std::size_t>(count) * 3; i < written * 3; ++i)
            ASSERT_EQ(stream.Data()[i], 0);
    }
    TFullStream full;
    try {
        table.WriteTable(full);
        FAIL();
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message, "Erreur d'écriture dans le flux");
    }

    TMemoryStream in(Bytes{10, 20, 30, 40, 50, 60, 70});
    frame.PaletteChanges = 0;
    table.ReadTable(in, 2);
    EXPECT_EQ(table.EntryCount(), 2);
    EXPECT_EQ(table.ColorAt(1), RGB(40, 50, 60));
    EXPECT_FALSE(table.SortedByUsage());
    EXPECT_EQ(frame.PaletteChanges, 0);
    EXPECT_EQ(Error([&] { table.ReadTable(in, 1); }), "Premature end of data");
    EXPECT_THROW(table.ReadTable(in, 257), GIFException);
}

TEST(GifColorMap, LoadsPalettesQuadsAndBitmaps)
{
    TTestFrame frame(nullptr);
    TGIFLocalColorMap& table = frame.Local;
    table.LoadPalette(TPalette(300, TPaletteEntry{1, 2, 3, 0}));
    EXPECT_EQ(table.EntryCount(), 256);
    EXPECT_EQ(frame.PaletteChanges, 1);
    table.LoadPalette({});
    EXPECT_EQ(table.EntryCount(), 0);
    EXPECT_EQ(frame.PaletteChanges, 1);

    const std::uint8_t quads[] = {30, 20, 10, 0, 3, 2, 1, 0};
    table.LoadRGBQuads(quads, 2);
    EXPECT_EQ(table.ColorAt(0), RGB(10, 20, 30));
    EXPECT_EQ(table.ColorAt(1), RGB(1, 2, 3));
    EXPECT_EQ(table.MakePalette(), (TPalette{{10, 20, 30, PC_NOCOLLAPSE}, {1, 2, 3, PC_NOCOLLAPSE}}));

    TBitmap sixteen(2, 2, pf4bit);
    table.LoadDIBColors(sixteen);
    EXPECT_EQ(table.EntryCount(), 16);
    EXPECT_EQ(table.ColorAt(15), SystemPalette16()[15].Color());
    TBitmap deep(2, 2, pf24bit);
    table.LoadDIBColors(deep);
    EXPECT_EQ(table.EntryCount(), 0);
    EXPECT_TRUE(table.MakePalette().empty());
}

TEST(GifColorMap, AssignCopiesAnyTableAndRefusesOthers)
{
    TTestImage image;
    TTestFrame frame(&image);
    frame.Local.AppendColor(clRed);
    frame.Local.AppendColor(clBlue);
    frame.Local.AppendColor(clLime);
    image.Header.GlobalTable.Assign(frame.Local);
    EXPECT_EQ(image.Header.GlobalTable.EntryCount(), 3);
    EXPECT_EQ(image.Header.GlobalTable.Allocated(), 16);
    EXPECT_EQ(image.Header.GlobalTable.ColorAt(2), clLime);
    EXPECT_EQ(image.PaletteDrops, 1);
    EXPECT_THROW(frame.Local.Assign(image.Header), EConvertError);
}

TEST(GifColorMap, UsageRecordsSortByFallingCountBeyondThirtyTwoBits)
{
    static_assert(std::is_same_v<decltype(TUsageRecord::Count), std::int64_t>);
    TUsageTable usage{};
    const std::int64_t big = std::int64_t{72} * 60 * 1024 * 1024; // wraps in 32 bits
    const std::int64_t counts[] = {3, big, std::int64_t{72} * 4 * 1024 * 1024, 0, 1};
    for (int i = 0; i < 5; ++i)
        usage[static_cast<std::size_t>(i)] = TUsageRecord{counts[i], i};
    SortUsageRecords(usage, 5);
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        order.push_back(usage[static_cast<std::size_t>(i)].Index);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0, 4, 3}));

    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        const int n = 2 + static_cast<int>(rng() % 255);
        for (int i = 0; i < n; ++i)
            usage[static_cast<std::size_t>(i)] = TUsageRecord{static_cast<std::int64_t>(rng() % 7), i};
        SortUsageRecords(usage, n);
        std::vector<bool> seen(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            if (i > 0) {
                ASSERT_GE(usage[static_cast<std::size_t>(i - 1)].Count, usage[static_cast<std::size_t>(i)].Count);
            }
            seen[static_cast<std::size_t>(usage[static_cast<std::size_t>(i)].Index)] = true;
        }
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool b) { return b; }));
    }
}

TEST(GifColorMap, SortByUsageKeepsAFallingTableAsItIs)
{
    TTestImage image;
    TTestFrame frame(&image);
    for (TColor c : {clRed, clBlue, clLime, clWhite})
        frame.Local.AppendColor(c);
    frame.Pixels = {0, 0, 0, 1, 1, 2};
    frame.PaletteChanges = 0;
    EXPECT_TRUE(frame.Local.SortByUsage());
    EXPECT_TRUE(frame.Local.SortedByUsage());
    EXPECT_EQ(frame.Local.EntryCount(), 4); // the unused white stays
    EXPECT_EQ(frame.PaletteChanges, 0);
    EXPECT_EQ(frame.Pixels, (Bytes{0, 0, 0, 1, 1, 2}));

    TTestFrame single(&image);
    single.Local.AppendColor(clRed);
    single.Pixels = {0};
    EXPECT_FALSE(single.Local.SortByUsage());
    EXPECT_FALSE(single.Local.SortedByUsage());
}

TEST(GifColorMap, SortByUsageRemapsPixelsAndDropsAnUnusedTransparentEntry)
{
    TTestImage image;
    TTestFrame frame(&image);
    for (TColor c : {clRed, clBlue, clLime, clWhite, clBlack})
        frame.Local.AppendColor(c);
    // Blue most used, then lime, red; white and black unused; 7 lies
    // outside the table.
    frame.Pixels = {1, 1, 1, 2, 2, 0, 7};
    auto* control = new TGIFGraphicControlExtension(&frame);
    frame.List.Append(std::unique_ptr<TGIFItem>(control));
    control->SetTransparentFlag(true);
    control->SetTransparentIndex(4); // black, unused
    EXPECT_EQ(frame.Local.FindColor(clRed), 0);
    frame.PaletteChanges = 0;

    EXPECT_TRUE(frame.Local.SortByUsage());
    EXPECT_EQ(frame.PaletteChanges, 1);
    EXPECT_EQ(frame.Pixels, (Bytes{0, 0, 0, 1, 1, 2, 7}));
    EXPECT_EQ(frame.Local.ColorAt(0), clBlue);
    EXPECT_EQ(frame.Local.ColorAt(1), clLime);
    EXPECT_EQ(frame.Local.ColorAt(2), clRed);
    // The transparent black no pixel uses goes with the other unused colour.
    EXPECT_EQ(frame.Local.EntryCount(), 3);
    EXPECT_TRUE(image.Warnings.empty());
    // Sorted tables answer the first match.
    frame.Local.Reset();
    for (TColor c : {clRed, clBlue, clRed})
        frame.Local.AppendColor(c);
    frame.Pixels = {0, 1, 1, 2, 2};
    control->SetTransparentFlag(false);
    EXPECT_TRUE(frame.Local.SortByUsage());
    EXPECT_EQ(frame.Local.FindColor(clRed), 0);

    // Without a transparent colour the unused entries go.
    TTestFrame plain(&image);
    for (TColor c : {clRed, clBlue, clLime, clWhite})
        plain.Local.AppendColor(c);
    plain.Pixels = {1, 1, 2};
    EXPECT_TRUE(plain.Local.SortByUsage());
    EXPECT_EQ(plain.Local.EntryCount(), 2);
    EXPECT_EQ(plain.Pixels, (Bytes{0, 0, 1}));
}

TEST(GifColorMap, EqualCountsArePlacedByTheTablesOwnQuicksort)
{
    TTestImage image;
    // Three colours used once each: the sort exchanges the outer records,
    // so the table comes out reversed (and the file with it).
    TTestFrame even(&image);
    for (TColor c : {clRed, clBlue, clLime})
        even.Local.AppendColor(c);
    even.Pixels = {0, 1, 2};
    EXPECT_TRUE(even.Local.SortByUsage());
    EXPECT_EQ(even.Pixels, (Bytes{2, 1, 0}));
    EXPECT_EQ(even.Local.ColorAt(0), clLime);
    EXPECT_EQ(even.Local.ColorAt(2), clRed);

    // Counts 2, 2, 5, 2: records in the order 2, 3, 0, 1.
    TTestFrame mixed(&image);
    for (TColor c : {clRed, clBlue, clLime, clWhite})
        mixed.Local.AppendColor(c);
    mixed.Pixels = {0, 0, 1, 1, 2, 2, 2, 2, 2, 3, 3};
    EXPECT_TRUE(mixed.Local.SortByUsage());
    EXPECT_EQ(mixed.Pixels, (Bytes{2, 2, 3, 3, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(mixed.Local.EntryCount(), 4);
    const TColor expected[] = {clLime, clWhite, clRed, clBlue};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(mixed.Local.ColorAt(i), expected[i]) << i;
}

TEST(GifColorMap, GlobalSortRemapsTheBackgroundAndEveryFrameOfTheTable)
{
    TTestImage image;
    TGIFGlobalColorMap& global = image.Header.GlobalTable;
    EXPECT_FALSE(global.SortByUsage()); // no frames
    for (TColor c : {clRed, clBlue, clLime, clWhite, clYellow})
        global.AppendColor(c);
    image.Header.BackgroundIndex = 3; // white, used by no pixel
    TTestFrame a(&image), b(&image), own(&image);
    a.Pixels = {2, 2, 1};
    b.Pixels = {2, 1, 0};
    own.Local.AppendColor(clBlack);
    own.Local.AppendColor(clBlack);
    own.Pixels = {1, 1, 1, 1};
    image.PaletteDrops = 0;

    EXPECT_TRUE(global.SortByUsage());
    EXPECT_EQ(image.PaletteDrops, 1);
    EXPECT_EQ(global.ColorAt(0), clLime);
    EXPECT_EQ(global.ColorAt(1), clBlue);
    EXPECT_EQ(global.ColorAt(2), clRed);
    EXPECT_EQ(a.Pixels, (Bytes{0, 0, 1}));
    EXPECT_EQ(b.Pixels, (Bytes{0, 1, 2}));
    EXPECT_EQ(own.Pixels, (Bytes{1, 1, 1, 1})); // its own table
    // The background colour is still white and still in the table.
    EXPECT_EQ(image.Header.BackgroundColor(), clWhite);
    EXPECT_EQ(global.EntryCount(), image.Header.BackgroundIndex + 1);
    EXPECT_TRUE(image.Warnings.empty());
}

TEST(GifColorMap, DestructionSendsNoChangeNotice)
{
    auto image = std::make_unique<TTestImage>();
    image->Header.GlobalTable.AppendColor(clRed);
    const int drops = image->PaletteDrops;
    image.reset();
    SUCCEED(); // the image would have been called while it was going
    TTestImage other;
    {
        TGIFHeader header(&other);
        header.GlobalTable.AppendColor(clRed);
        other.PaletteDrops = 0;
    }
    EXPECT_EQ(other.PaletteDrops, 0);
    (void)drops;
}

// ---------------------------------------------------------------------------
// Header

Bytes Descriptor(std::uint16_t w, std::uint16_t h, std::uint8_t flags, std::uint8_t bg, std::uint8_t aspect)
{
    return Bytes{static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(h),
                 static_cast<std::uint8_t>(h >> 8), flags, bg, aspect};
}

TEST(GifHeader, GoldenBytes)
{
    TTestImage image;
    TGIFHeader& header = image.Header;
    header.ScreenWidth = 0x0123;
    header.ScreenHeight = 0x0045;
    header.BackgroundIndex = 2;
    for (TColor c : {clRed, clLime, clBlue})
        header.GlobalTable.AppendColor(c);
    image.Version = 1;
    image.Resolution = 1;
    image.Bits = 2;
    EXPECT_EQ(Saved(header), Concat({Text("GIF87a"), Descriptor(0x123, 0x45, 0x91, 2, 0),
                                     Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0}}));

    // No global table: the size code comes from the frames; none gives 7.
    header.GlobalTable.Reset();
    image.Resolution = 3;
    image.Bits = 4;
    EXPECT_EQ(Saved(header), Concat({Text("GIF87a"), Descriptor(0x123, 0x45, 0x33, 2, 0)}));
    image.Resolution = -1;
    image.Bits = 0;
    EXPECT_EQ(Saved(header), Concat({Text("GIF87a"), Descriptor(0x123, 0x45, 0x77, 2, 0)}));

    // A frame needs 89a, or the header's own aspect ratio or sort flag does.
    image.Version = 2;
    EXPECT_EQ(Saved(header)[4], '9');
    image.Version = 0;
    header.AspectRatio = 49;
    EXPECT_EQ(Saved(header)[4], '9');
    header.AspectRatio = 0;
    EXPECT_EQ(Saved(header)[4], '7');
    image.Version = 3;
    EXPECT_EQ(Error([&] { Saved(header); }), "Unsupported GIF version");
}

TEST(GifHeader, SizeCodeFollowsTheGlobalTable)
{
    // 16 global colours, a frame of 256: size code 3, resolution 7.
    TTestImage image;
    for (int i = 0; i < 16; ++i)
        image.Header.GlobalTable.AppendColor(RGB(i, i, i));
    image.Resolution = 7;
    image.Bits = 8;
    const Bytes saved = Saved(image.Header);
    ASSERT_EQ(saved.size(), 13 + 48u);
    EXPECT_EQ(saved[10], 0xF3);
    EXPECT_EQ(image.Header.GlobalTableBits(), 4);
    EXPECT_EQ(image.Header.GlobalResolution(), 3);
}

TEST(GifHeader, ReadsSignatureDescriptorAndTable)
{
    TTestImage image;
    TGIFHeader& header = image.Header;
    TMemoryStream plain(Concat({Text("GIF89a"), Descriptor(10, 20, 0x80, 1, 0), Bytes{1, 2, 3, 4, 5, 6}, {0x2C}}));
    header.LoadFromStream(plain);
    EXPECT_EQ(header.ScreenWidth, 10);
    EXPECT_EQ(header.ScreenHeight, 20);
    EXPECT_EQ(header.GlobalTable.EntryCount(), 2);
    EXPECT_EQ(header.BackgroundColor(), RGB(4, 5, 6));
    EXPECT_EQ(plain.Position(), 19);
    // Read as 89a, written as 87a: nothing needs 89a.
    EXPECT_EQ(Saved(header)[4], '7');

    Bytes full = Concat({Text("gif87a"), Descriptor(1, 1, 0x87, 0, 0)});
    full.resize(full.size() + 768, 9);
    TMemoryStream big(full);
    header.LoadFromStream(big);
    EXPECT_EQ(header.GlobalTable.EntryCount(), 256);

    TMemoryStream none(Concat({Text("GIF87a"), Descriptor(1, 1, 0x07, 0, 0)}));
    header.LoadFromStream(none);
    EXPECT_EQ(header.GlobalTable.EntryCount(), 0);

    for (std::size_t prefix = 1; prefix <= 5; ++prefix) {
        TMemoryStream stream(Concat({Bytes(prefix, 'x'), Text("GIF87a"), Descriptor(3, 4, 0, 0, 0)}));
        const std::string error = Error([&] { header.LoadFromStream(stream); });
        if (prefix == 4) {
            EXPECT_EQ(error, "") << prefix;
            EXPECT_EQ(header.ScreenHeight, 4);
        } else {
            EXPECT_EQ(error, "Invalid GIF signature") << prefix;
        }
    }
    TMemoryStream shortTable(Concat({Text("GIF87a"), Descriptor(1, 1, 0x81, 0, 0), Bytes(11, 0)}));
    EXPECT_EQ(Error([&] { header.LoadFromStream(shortTable); }), "Premature end of data");
    TMemoryStream shortDescriptor(Concat({Text("GIF87a"), Bytes{1, 0, 1}}));
    EXPECT_EQ(Error([&] { header.LoadFromStream(shortDescriptor); }), "Premature end of data");
}

TEST(GifHeader, FilesAreWrittenWholeOrNotAtAll)
{
    TempDir dir;
    const std::string file = dir.File("header.gif");
    TTestImage image;
    image.Header.ScreenWidth = 640;
    image.Header.GlobalTable.AppendColor(clNavy);
    image.Header.SaveToFile(file);
    const Bytes written = ReadFile(file);
    EXPECT_EQ(written, Saved(image.Header));

    TTestImage other;
    other.Header.LoadFromFile(file);
    EXPECT_EQ(other.Header.ScreenWidth, 640);
    EXPECT_EQ(other.Header.GlobalTable.ColorAt(0), clNavy);

    // A save that fails leaves the file as it was.
    image.Version = 3;
    EXPECT_EQ(Error([&] { image.Header.SaveToFile(file); }), "Unsupported GIF version");
    EXPECT_EQ(ReadFile(file), written);
    EXPECT_THROW(other.Header.LoadFromFile(dir.File("missing.gif")), Exception);
}

TEST(GifHeader, AssignFromHeaderOrTable)
{
    TTestImage a, b;
    a.Header.ScreenWidth = 7;
    a.Header.AspectRatio = 3;
    a.Header.GlobalTable.AppendColor(clAqua);
    b.Header.Assign(a.Header);
    EXPECT_EQ(b.Header.ScreenWidth, 7);
    EXPECT_EQ(b.Header.AspectRatio, 3);
    EXPECT_EQ(b.Header.GlobalTable.ColorAt(0), clAqua);
    TTestFrame frame(nullptr);
    frame.Local.AppendColor(clFuchsia);
    b.Header.Assign(frame.Local);
    EXPECT_EQ(b.Header.ScreenWidth, 0);
    EXPECT_EQ(b.Header.GlobalTable.ColorAt(0), clFuchsia);
    TBitmap bitmap;
    EXPECT_THROW(b.Header.Assign(bitmap), EConvertError);
}

// ---------------------------------------------------------------------------
// Extensions

TEST(GifExtensions, GoldenBytes)
{
    TGIFTrailer trailer(nullptr);
    EXPECT_EQ(Saved(trailer), Bytes{0x3B});

    TGIFCommentExtension comment(nullptr);
    comment.TextLines = {"abc", ""};
    EXPECT_EQ(Saved(comment), (Bytes{0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00}));
    EXPECT_EQ(comment.FormatVersion(), 2);

    TGIFAppExtNSLoop loop(nullptr);
    EXPECT_EQ(Saved(loop), Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x03, 0x01, 0x00, 0x00, 0x00}}));
    loop.LoopCount = 0x1234;
    loop.BufferingSize = 0x01020304;
    EXPECT_EQ(Saved(loop), Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"),
                                   {0x03, 0x01, 0x34, 0x12, 0x05, 0x02, 0x04, 0x03, 0x02, 0x01, 0x00}}));

    TGIFGraphicControlExtension control(nullptr);
    EXPECT_EQ(Saved(control), (Bytes{0x21, 0xF9, 0x04, 0, 0, 0, 0, 0}));
    control.SetDelayTime(300);
    control.SetDisposalMethod(2);
    control.SetTransparentFlag(true);
    control.SetTransparentIndex(5);
    EXPECT_EQ(Saved(control), (Bytes{0x21, 0xF9, 0x04, 0x09, 0x2C, 0x01, 0x05, 0x00}));
    control.SetDisposalMethod(11); // low three bits only
    EXPECT_EQ(control.DisposalMethod(), 3);
    EXPECT_TRUE(control.TransparentFlag());
    EXPECT_EQ(control.DelayTime(), 300);

    TGIFTextExtension text(nullptr);
    text.TextLines = {"Hi"};
    EXPECT_EQ(Saved(text), Concat({{0x21, 0x01, 0x0C}, Bytes(12, 0), {0x02, 'H', 'i', 0x00}}));

    TGIFUnknownAppExtension unknown(nullptr);
    unknown.SetIdentifier("ACMEAPP1.x!");
    unknown.RawBlocks = {TGIFBlock{2, {7, 8}}, TGIFBlock{1, {9}}};
    EXPECT_EQ(Saved(unknown), Concat({{0x21, 0xFF, 0x0B}, Text("ACMEAPP1.x!"), {2, 7, 8, 1, 9, 0}}));
}

// Loads one extension block through the registry, as the frame does.
std::unique_ptr<TGIFExtension> LoadExtension(const Bytes& data, TTestFrame* frame = nullptr,
                                             std::int64_t* end = nullptr)
{
    TMemoryStream stream(data);
    stream.SetPosition(1);
    TGIFExtensionClass cls = FindExtensionClass(stream);
    EXPECT_EQ(stream.Position(), 1);
    if (!cls)
        return nullptr;
    stream.SetPosition(0);
    std::unique_ptr<TGIFExtension> extension = cls->Create(frame);
    extension->LoadFromStream(stream);
    if (end)
        *end = stream.Position();
    return extension;
}

TEST(GifExtensions, ABlockThatDoesNotFitIsAnErrorNotAShortFile)
{
    TTestImage image;
    image.Header.GlobalTable.AppendColor(clRed);
    TTestFrame frame(&image);
    TGIFTrailer trailer(&image);
    TGIFCommentExtension comment(&frame);
    comment.TextLines = {"abc", std::string(300, 'x')};
    TGIFTextExtension text(&frame);
    text.TextLines = {"Hi"};
    TGIFAppExtNSLoop loop(&frame);
    loop.BufferingSize = 9;
    TGIFUnknownAppExtension unknown(&frame);
    unknown.SetIdentifier("ACMEAPP1.x!");
    unknown.RawBlocks = {TGIFBlock{2, {7, 8}}};
    TGIFGraphicControlExtension control(&frame);
    const std::pair<const char*, TGIFItem*> items[] = {
        {"header", &image.Header}, {"trailer", &trailer}, {"comment", &comment}, {"text", &text},
        {"loop", &loop},           {"unknown", &unknown}, {"control", &control},
    };
    for (auto [name, item] : items) {
        const std::size_t size = Saved(*item).size();
        for (std::size_t room = 0; room < size; ++room) {
            TCappedStream stream(room);
            try {
                item->SaveToStream(stream);
                ADD_FAILURE() << name << " reported success with room for " << room << " of " << size;
            } catch (const EWriteError& e) {
                EXPECT_EQ(e.Message, "Erreur d'écriture dans le flux");
            }
        }
    }
    TFullStream full;
    EXPECT_THROW(WriteByte(full, 0x3B), EWriteError);
    EXPECT_THROW(WriteStringBlocks(full, {}), EWriteError);
}

TEST(GifExtensions, RoundTripsThroughTheRegistry)
{
    const Bytes blocks[] = {
        {0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00},
        Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x03, 0x01, 0x05, 0x00, 0x00}}),
        Concat({{0x21, 0xFF, 0x0B}, Text("ANIMEXTS1.0"), {0x03, 0x01, 0x00, 0x00, 0x00}}),
        Concat({{0x21, 0xFF, 0x0B}, Text("XMP DataXMP"), {0x02, 0x41, 0x42, 0x01, 0x43, 0x00}}),
        Concat({{0x21, 0x01, 0x0C}, Bytes{1, 0, 2, 0, 3, 0, 4, 0, 5, 6, 7, 8}, {0x01, 'z', 0x00}}),
        {0x21, 0xF9, 0x04, 0x05, 0x10, 0x00, 0x03, 0x00},
    };
    const char* classes[] = {"TGIFCommentExtension", "TGIFAppExtNSLoop",    "TGIFAppExtNSLoop",
                             "TGIFUnknownAppExtension", "TGIFTextExtension", "TGIFGraphicControlExtension"};
    for (std::size_t i = 0; i < std::size(blocks); ++i) {
        std::int64_t end = 0;
        auto extension = LoadExtension(blocks[i], nullptr, &end);
        ASSERT_TRUE(extension) << i;
        EXPECT_STREQ(extension->ClassName(), classes[i]);
        EXPECT_EQ(end, static_cast<std::int64_t>(blocks[i].size())) << i;
        EXPECT_EQ(Saved(*extension), blocks[i]) << i;
    }
    auto loop = LoadExtension(blocks[2]);
    EXPECT_EQ(static_cast<TGIFAppExtNSLoop&>(*loop).IdentifierText(), "ANIMEXTS1.0");
}

TEST(GifExtensions, ApplicationBlocksResolveInOneStep)
{
    auto resolve = [](const Bytes& afterIntroducer) -> std::string {
        TMemoryStream stream(Concat({{0x21}, afterIntroducer}));
        stream.SetPosition(1);
        TGIFExtensionClass cls = FindExtensionClass(stream);
        EXPECT_EQ(stream.Position(), 1);
        return cls ? cls->ClassName : "none";
    };
    EXPECT_EQ(resolve({0xF9}), "TGIFGraphicControlExtension");
    EXPECT_EQ(resolve({0x77, 0x00}), "none");
    EXPECT_EQ(resolve({}), "none");
    EXPECT_EQ(resolve(Concat({{0xFF, 0x0A}, Text("ABCDEFGHIJ"), {0}})), "TGIFUnknownAppExtension");
    EXPECT_EQ(resolve(Concat({{0xFF, 0x0A}, Text("ABC")})), "none");
    EXPECT_EQ(resolve({0xFF, 0x09, 1, 2}), "TGIFApplicationExtension");
    // A payload sub-block of 11 bytes is not taken for another identifier.
    EXPECT_EQ(resolve(Concat({{0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x0B}, Text("ZZZZZZZZZZZ"), {0}})),
              "TGIFAppExtNSLoop");
    // A block of 12 or more bytes is kept raw.
    EXPECT_EQ(resolve(Concat({{0xFF, 0x0C}, Text("NETSCAPE2.0!"), {0x03, 0x01, 0, 0, 0}})),
              "TGIFUnknownAppExtension");
    EXPECT_EQ(resolve(Concat({{0xFF, 0x0B}, Text("NETSCAPE")})), "TGIFApplicationExtension");

    // An oversized block loads in an orderly way and is written back at 11.
    std::int64_t end = 0;
    const Bytes oversized = Concat({{0x21, 0xFF, 0x0D}, Text("NETSCAPE2.0xy"), {0x01, 0x07, 0x00}});
    auto raw = LoadExtension(oversized, nullptr, &end);
    ASSERT_TRUE(raw);
    EXPECT_EQ(end, static_cast<std::int64_t>(oversized.size()));
    EXPECT_EQ(Saved(*raw), Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x01, 0x07, 0x00}}));
    // A 10-byte identifier is written with an 11th byte of 0.
    auto ten = LoadExtension(Concat({{0x21, 0xFF, 0x0A}, Text("ABCDEFGHIJ"), {0x01, 0x05, 0x00}}));
    ASSERT_TRUE(ten);
    EXPECT_EQ(Saved(*ten), Concat({{0x21, 0xFF, 0x0B}, Text("ABCDEFGHIJ"), {0x00, 0x01, 0x05, 0x00}}));

    EXPECT_EQ(Error([] { LoadExtension({0x21, 0xFF, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}); }),
              "Unsupported Application Extension block size");
    EXPECT_EQ(Error([] { LoadExtension(Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE")})); }),
              "Premature end of data");
}

using LoopAndBuffer = std::pair<std::uint16_t, std::uint32_t>;

TEST(GifExtensions, LoopingSubBlocks)
{
    auto load = [](const Bytes& payload, TTestImage& image) {
        TTestFrame frame(&image);
        auto extension = LoadExtension(Concat({{0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), payload}), &frame);
        auto& loop = dynamic_cast<TGIFAppExtNSLoop&>(*extension);
        return std::make_pair(loop.LoopCount, loop.BufferingSize);
    };
    TTestImage image;
    EXPECT_EQ(load({0x03, 0x09, 0x05, 0x00, 0x00}, image), LoopAndBuffer(5, 0));
    EXPECT_EQ(load({0x05, 0x02, 1, 2, 3, 4, 0x04, 0x01, 7, 0, 9, 0x00}, image),
              LoopAndBuffer(7, 0x04030201));
    EXPECT_EQ(load({0x02, 0x03, 0x09, 0x00}, image), LoopAndBuffer(0, 0));
    EXPECT_TRUE(image.Warnings.empty());
    // A sub-block too short for its kind is a warning; the rest still reads.
    EXPECT_EQ(load({0x02, 0x01, 0x09, 0x03, 0x01, 0x04, 0x00, 0x00}, image),
              LoopAndBuffer(4, 0));
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid GIF data"});
    image.Warnings.clear();
    EXPECT_EQ(load({0x04, 0x02, 1, 2, 3, 0x00}, image), LoopAndBuffer(0, 0));
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid GIF data"});
    // No terminator: the end of the data ends the payload.
    EXPECT_EQ(load({0x03, 0x01, 0x02, 0x00}, image), LoopAndBuffer(2, 0));
    EXPECT_EQ(Error([&] { load({0x03, 0x01, 0x02}, image); }), "Premature end of data");
}

TEST(GifExtensions, GraphicControlHonoursItsSizeAndWarnsWhenCut)
{
    TTestImage image;
    TTestFrame frame(&image);
    // Size 6 with two extra bytes and an extra sub-block before the end.
    std::int64_t end = 0;
    const Bytes longer = {0x21, 0xF9, 0x06, 0x01, 0x0A, 0x00, 0x02, 0xEE, 0xEE, 0x02, 0xAA, 0xBB, 0x00, 0x2C};
    auto extension = LoadExtension(longer, &frame, &end);
    auto& control = dynamic_cast<TGIFGraphicControlExtension&>(*extension);
    EXPECT_EQ(end, 13);
    EXPECT_EQ(control.DelayTime(), 10);
    EXPECT_EQ(control.TransparentIndex(), 2);
    EXPECT_TRUE(frame.Transparent);
    EXPECT_EQ(frame.Control, &control);
    EXPECT_EQ(Saved(control), (Bytes{0x21, 0xF9, 0x04, 0x01, 0x0A, 0x00, 0x02, 0x00}));
    EXPECT_TRUE(image.Warnings.empty());
    extension.reset();
    EXPECT_FALSE(frame.Transparent);
    EXPECT_EQ(frame.Control, nullptr);

    // Only 4 of its 6 bytes: a warning, no exception.
    const Bytes cut = {0x21, 0xF9, 0x04, 0x01, 0x0A, 0x00};
    auto partial = LoadExtension(cut, &frame, &end);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Premature end of data"});
    EXPECT_EQ(end, static_cast<std::int64_t>(cut.size()));
    image.Warnings.clear();
    LoadExtension({0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x05, 0xAA}, &frame);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Premature end of data"});

    EXPECT_EQ(Error([] { LoadExtension({0x21}); }), "");
    TGIFGraphicControlExtension direct(nullptr);
    TMemoryStream wrongIntroducer(Bytes{0x2C, 0xF9, 4, 0, 0, 0, 0, 0});
    EXPECT_EQ(Error([&] { direct.LoadFromStream(wrongIntroducer); }), "Invalid extension introducer");
    TMemoryStream wrongLabel(Bytes{0x21, 0xFE, 0});
    EXPECT_EQ(Error([&] { direct.LoadFromStream(wrongLabel); }),
              "Internal error: Extension Instance does not match Extension Label");
}

TEST(GifExtensions, TransparentIndexIsCheckedAgainstTheFrameTable)
{
    TTestImage image;
    TTestFrame frame(&image);
    TGIFGraphicControlExtension control(&frame);
    control.SetTransparentIndex(200); // no table yet: accepted
    EXPECT_EQ(control.TransparentIndex(), 200);
    for (int i = 0; i < 4; ++i)
        frame.Local.AppendColor(RGB(i, i, i));
    control.SetTransparentIndex(3);
    EXPECT_EQ(control.TransparentIndex(), 3);
    control.SetTransparentIndex(4);
    EXPECT_EQ(control.TransparentIndex(), 0);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid color index"});
    // A second control extension does not replace the frame's first.
    TGIFGraphicControlExtension second(&frame);
    EXPECT_EQ(frame.Control, &control);
}

TEST(GifExtensions, TrailerWarnsOnlyForAnotherByte)
{
    TTestImage image;
    TGIFTrailer trailer(&image);
    TMemoryStream good(Bytes{0x3B}), none, other(Bytes{0x00});
    trailer.LoadFromStream(good);
    trailer.LoadFromStream(none);
    EXPECT_TRUE(image.Warnings.empty());
    trailer.LoadFromStream(other);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid Image trailer"});
}

TEST(GifExtensions, RegistriesAnswerTheNewestRegistration)
{
    TExtensionList& labels = ExtensionRegistry();
    EXPECT_EQ(labels.Lookup(0x01), TGIFTextExtension::Class());
    EXPECT_EQ(labels.Lookup(0xF9), TGIFGraphicControlExtension::Class());
    EXPECT_EQ(labels.Lookup(0xFE), TGIFCommentExtension::Class());
    EXPECT_EQ(labels.Lookup(0xFF), TGIFApplicationExtension::Class());
    EXPECT_EQ(labels.Lookup(0x00), nullptr);
    const std::uint8_t* netscape = reinterpret_cast<const std::uint8_t*>("NETSCAPE2.0");
    const std::uint8_t* other = reinterpret_cast<const std::uint8_t*>("NETSCAPE2.1");
    EXPECT_EQ(AppExtensionRegistry().Lookup(netscape), TGIFAppExtNSLoop::Class());
    EXPECT_EQ(AppExtensionRegistry().Lookup(other), nullptr);

    TExtensionList local;
    local.Register(TGIFCommentExtension::Class(), 0xFE);
    local.Register(TGIFTextExtension::Class(), 0xFE);
    EXPECT_EQ(local.Lookup(0xFE), TGIFTextExtension::Class());
    TAppExtensionList apps;
    apps.Register(TGIFAppExtNSLoop::Class(), "NETSCAPE2.0");
    apps.Register(TGIFUnknownAppExtension::Class(), "NETSCAPE2.0");
    EXPECT_EQ(apps.Lookup(netscape), TGIFUnknownAppExtension::Class());
}

TEST(GifExtensionList, ReadsUpToTheImageDescriptor)
{
    TTestImage image;
    TTestFrame frame(&image);
    const Bytes data = Concat({{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00},
                               {0x21, 0xFE, 0x02, 'o', 'k', 0x00},
                               {0x21, 0xFF, 0x0B}, Text("NETSCAPE2.0"), {0x03, 0x01, 0x00, 0x00, 0x00},
                               {0x2C, 0, 0}});
    TMemoryStream stream(data);
    frame.List.LoadFromStream(stream, &frame);
    ASSERT_EQ(frame.List.ItemCount(), 3);
    EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(data.size() - 3));
    EXPECT_EQ(frame.Control, frame.List.ExtensionAt(0));
    EXPECT_TRUE(frame.Transparent);
    EXPECT_EQ(frame.List.ExtensionAt(1)->Frame, &frame);
    EXPECT_EQ(frame.List.ItemAt(1)->OwnerImage, &image);
    EXPECT_THROW(frame.List.ItemAt(3), EListError);
    // Written back in order, byte for byte.
    TMemoryStream out;
    frame.List.SaveToStream(out);
    EXPECT_EQ(out.Data(), Bytes(data.begin(), data.end() - 3));

    // Freeing an extension takes it out of the list and the frame.
    frame.List.FreeAt(0);
    EXPECT_EQ(frame.Control, nullptr);
    EXPECT_FALSE(frame.Transparent);
    delete frame.List.ExtensionAt(0);
    EXPECT_EQ(frame.List.ItemCount(), 1);
    TGIFItem* last = frame.List.ItemAt(0);
    EXPECT_EQ(frame.List.Detach(last), 0);
    EXPECT_EQ(frame.List.Detach(last), -1);
    delete last;
}

TEST(GifExtensionList, StopsAtStrangeBytesAndUnknownLabels)
{
    TTestImage image;
    TTestFrame frame(&image);
    TMemoryStream strange(Bytes{0x21, 0xFE, 0x00, 0x99, 0x2C});
    frame.List.LoadFromStream(strange, &frame);
    EXPECT_EQ(frame.List.ItemCount(), 1);
    EXPECT_EQ(strange.Position(), 3);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Invalid extension introducer"});

    frame.List.FreeAll();
    // An unknown label is stepped over by its sub-blocks with a warning,
    // and the list goes on.
    image.Warnings.clear();
    TMemoryStream unknown(Bytes{0x21, 0xFE, 0x00, 0x21, 0x42, 0x02, 0xAA, 0xBB, 0x00, 0x21, 0xFE, 0x00, 0x2C});
    EXPECT_EQ(Error([&] { frame.List.LoadFromStream(unknown, &frame); }), "");
    EXPECT_EQ(frame.List.ItemCount(), 2);
    EXPECT_EQ(unknown.Position(), 12);
    EXPECT_EQ(image.Warnings, std::vector<std::string>{"Unknown extension type"});

    // A failing extension is freed and leaves the frame as it was.
    frame.List.FreeAll();
    TMemoryStream cut(Bytes{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00, 0x21, 0x01, 0x0C, 0x00});
    EXPECT_EQ(Error([&] { frame.List.LoadFromStream(cut, &frame); }), "Premature end of data");
    EXPECT_EQ(frame.List.ItemCount(), 1);
    EXPECT_EQ(frame.Control, frame.List.ExtensionAt(0));

    // At the end of the data the list simply ends.
    frame.List.FreeAll();
    TMemoryStream end(Bytes{0x21, 0xFE, 0x01, 'x', 0x00});
    frame.List.LoadFromStream(end, &frame);
    EXPECT_EQ(frame.List.ItemCount(), 1);
    EXPECT_EQ(end.Position(), 5);
}

// ---------------------------------------------------------------------------
// Outside tools

// A 1 x 1 image descriptor with its LZW data (clear, pixel 0, end).
const Bytes TinyImage = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00};

TEST(GifOutsideTools, ReadBlocksThatOthersWrote)
{
    TempDir dir;
    const std::string base = dir.File("base.gif"), gif = dir.File("tagged.gif");
    ASSERT_EQ(testutil::Run("/usr/bin/convert -size 4x3 xc:red xc:blue " + Quote(base)).ExitCode, 0);
    auto made = testutil::Run("/usr/bin/gifsicle --loopcount=6 --delay 25 --comment 'Bonjour tout le monde' --transparent 0 " +
                              Quote(base) + " -o " + Quote(gif));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;

    TTestImage image;
    TMemoryStream stream;
    stream.LoadFromFile(gif);
    image.Header.LoadFromStream(stream);
    EXPECT_EQ(image.Header.ScreenWidth, 4);
    EXPECT_EQ(image.Header.ScreenHeight, 3);
    EXPECT_GE(image.Header.GlobalTable.EntryCount(), 2);
    TTestFrame frame(&image);
    frame.List.LoadFromStream(stream, &frame);
    EXPECT_EQ(ReadByte(stream), 0x2C);

    bool sawLoop = false, sawComment = false;
    for (int i = 0; i < frame.List.ItemCount(); ++i) {
        TGIFExtension* e = frame.List.ExtensionAt(i);
        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(e)) {
            sawLoop = true;
            EXPECT_EQ(loop->LoopCount, 6);
        } else if (auto* comment = dynamic_cast<TGIFCommentExtension*>(e)) {
            sawComment = true;
            std::string all;
            for (const auto& line : comment->TextLines)
                all += line;
            EXPECT_EQ(all, "Bonjour tout le monde");
        }
    }
    EXPECT_TRUE(sawLoop);
    EXPECT_TRUE(sawComment);
    ASSERT_NE(frame.Control, nullptr);
    EXPECT_EQ(frame.Control->DelayTime(), 25);
    EXPECT_TRUE(frame.Transparent);
    EXPECT_EQ(frame.Control->TransparentIndex(), 0);
    EXPECT_TRUE(image.Warnings.empty());
}

TEST(GifOutsideTools, DecodersReadWhatWeWrite)
{
    TempDir dir;
    TTestImage image;
    image.Header.ScreenWidth = 1;
    image.Header.ScreenHeight = 1;
    image.Header.GlobalTable.AppendColor(clRed);
    image.Header.GlobalTable.AppendColor(clBlue);
    image.Header.GlobalTable.AppendColor(clLime);
    image.Version = 2;
    image.Resolution = 1;
    image.Bits = 2;
    TTestFrame frame(&image);
    auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
    loop->LoopCount = 7;
    frame.List.Append(std::move(loop));
    auto comment = std::make_unique<TGIFCommentExtension>(&frame);
    comment->TextLines = {std::string(300, 'c')};
    frame.List.Append(std::move(comment));
    auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
    control->SetDelayTime(40);
    control->SetDisposalMethod(2);
    control->SetTransparentFlag(true);
    control->SetTransparentIndex(1);
    frame.List.Append(std::move(control));
    auto unknown = std::make_unique<TGIFUnknownAppExtension>(&frame);
    unknown->SetIdentifier("CORVINEL1.0");
    unknown->RawBlocks = {TGIFBlock{3, {1, 2, 3}}};
    frame.List.Append(std::move(unknown));

    TMemoryStream stream;
    image.Header.SaveToStream(stream);
    frame.List.SaveToStream(stream);
    stream.WriteBuffer(TinyImage.data(), TinyImage.size());
    TGIFTrailer(&image).SaveToStream(stream);
    const std::string gif = dir.File("ours.gif");
    stream.SaveToFile(gif);

    auto info = testutil::Run("/usr/bin/gifsicle --xinfo " + Quote(gif));
    ASSERT_EQ(info.ExitCode, 0) << info.Output;
    EXPECT_NE(info.Output.find("logical screen 1x1"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("global color table [4]"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("loop count 7"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("comment " + std::string(300, 'c')), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("transparent 1"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("delay 0.40s"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("CORVINEL1.0"), std::string::npos) << info.Output;
    EXPECT_EQ(info.Output.find("warning"), std::string::npos) << info.Output;

    auto text = testutil::Run("/usr/bin/giftext " + Quote(gif));
    ASSERT_EQ(text.ExitCode, 0) << text.Output;
    EXPECT_NE(text.Output.find("Transparent Index: 1"), std::string::npos) << text.Output;
    EXPECT_NE(text.Output.find("Disposal Mode: 2"), std::string::npos) << text.Output;
}

} // namespace
