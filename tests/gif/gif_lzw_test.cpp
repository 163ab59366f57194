// The LZW decoder and the encoders against streams built by hand: codes
// packed here bit by bit, the expected pixels and bytes worked out by hand.

#include "Canvas.h"
#include "GifLzw.h"
#include "GifPicture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace testutil;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Codes of the given widths packed least significant bit first.
Bytes PackCodes(const std::vector<std::pair<int, int>>& codes)
{
    Bytes out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= static_cast<std::uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc));
    return out;
}

// Data as sub-blocks of blockSize bytes and the terminator.
Bytes Blocks(const Bytes& data, std::size_t blockSize = 255, bool terminator = true)
{
    Bytes out;
    for (std::size_t at = 0; at < data.size(); at += blockSize) {
        const std::size_t n = std::min(blockSize, data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    if (terminator)
        out.push_back(0);
    return out;
}

void Append(Bytes& to, const Bytes& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// "GIF89a", the logical screen and a global table of 2^(sizeCode+1) greys.
Bytes Header(int width, int height, int sizeCode = 1)
{
    Bytes out{'G', 'I', 'F', '8', '9', 'a'};
    out.push_back(static_cast<std::uint8_t>(width));
    out.push_back(static_cast<std::uint8_t>(width >> 8));
    out.push_back(static_cast<std::uint8_t>(height));
    out.push_back(static_cast<std::uint8_t>(height >> 8));
    if (sizeCode < 0) {
        Append(out, {0x00, 0x00, 0x00});
        return out;
    }
    Append(out, {static_cast<std::uint8_t>(0x80 | sizeCode), 0x00, 0x00});
    for (int i = 0; i < (2 << sizeCode); ++i)
        Append(out, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)});
    return out;
}

Bytes Descriptor(int left, int top, int width, int height, std::uint8_t packed = 0)
{
    return Bytes{0x2C,
                 static_cast<std::uint8_t>(left),
                 static_cast<std::uint8_t>(left >> 8),
                 static_cast<std::uint8_t>(top),
                 static_cast<std::uint8_t>(top >> 8),
                 static_cast<std::uint8_t>(width),
                 static_cast<std::uint8_t>(width >> 8),
                 static_cast<std::uint8_t>(height),
                 static_cast<std::uint8_t>(height >> 8),
                 packed};
}

struct Loaded {
    std::unique_ptr<TGifPicture> Image = std::make_unique<TGifPicture>();
    std::vector<std::string> Warnings;
    std::string Error;
};

Loaded Load(const Bytes& data)
{
    Loaded r;
    r.Image->WarningHandler = [&r](TPersistent&, int, const std::string& m) { r.Warnings.push_back(m); };
    TMemoryStream stream(data);
    try {
        r.Image->LoadFromStream(stream);
    } catch (const Exception& e) {
        r.Error = e.Message;
    }
    r.Image->WarningHandler = nullptr;
    return r;
}

Bytes Pixels(TGifPicture& image, int frame)
{
    TGIFSubImage& f = *image.Frames.Frame(frame);
    if (!f.PixelData())
        return {};
    return Bytes(f.PixelData(), f.PixelData() + f.PixelDataSize());
}

// An image descriptor and its data: code size 2, the codes 3 bits wide.
Bytes SmallFrame(int width, int height, const std::vector<int>& codes)
{
    Bytes f = Descriptor(0, 0, width, height);
    f.push_back(2);
    std::vector<std::pair<int, int>> sized;
    for (int c : codes)
        sized.emplace_back(c, 3);
    Append(f, Blocks(PackCodes(sized)));
    return f;
}

// A frame of width x height with the given code size and codes (widths
// given with each code).
Bytes OneFrame(int width, int height, int codeSize, const std::vector<std::pair<int, int>>& codes,
               std::size_t blockSize = 255)
{
    Bytes gif = Header(width, height, 7);
    Append(gif, Descriptor(0, 0, width, height));
    gif.push_back(static_cast<std::uint8_t>(codeSize));
    Append(gif, Blocks(PackCodes(codes), blockSize));
    gif.push_back(0x3B);
    return gif;
}

} // namespace

TEST(GifDecoder, EveryCodeSizeFrom1To11DecodesAnd0Or12IsRefused)
{
    for (int size = 1; size <= 11; ++size) {
        // With size 1 the next free code, 4, needs 3 bits from the second
        // code on.
        const int clear = 1 << size, w = size + 1, after = size == 1 ? 3 : w;
        Loaded r = Load(OneFrame(2, 1, size, {{clear, w}, {1, w}, {0, after}, {clear + 1, after}}));
        ASSERT_EQ(r.Error, "") << size;
        ASSERT_EQ(r.Image->Frames.Count(), 1);
        EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 0})) << size;
        EXPECT_TRUE(r.Warnings.empty()) << size;
    }
    for (int size : {0, 12, 255}) {
        Loaded r = Load(OneFrame(2, 1, size, {{1, 2}, {0, 2}}));
        EXPECT_NE(r.Error.find("Invalid LZW code size"), std::string::npos) << size << r.Error;
        // Nothing half-built stays behind.
        EXPECT_EQ(r.Image->Frames.Count(), 0);
    }
}

TEST(GifDecoder, ShortDataEndCodesAndClearCodes)
{
    // Three codes for six pixels, a proper end and terminator: the rest is
    // 0, no warning, and the next frame is read in step.
    Bytes gif = Header(3, 2);
    Append(gif, SmallFrame(3, 2, {4, 1, 2, 3, 5}));
    Append(gif, SmallFrame(1, 1, {4, 3, 5}));
    gif.push_back(0x3B);
    Loaded r = Load(gif);
    ASSERT_EQ(r.Error, "");
    ASSERT_EQ(r.Image->Frames.Count(), 2);
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(Pixels(*r.Image, 1), (Bytes{3}));
    EXPECT_TRUE(r.Warnings.empty());

    // The transparent index fills what the data leaves out.
    Bytes transparent = Header(2, 2);
    Append(transparent, {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x02, 0x00});
    Append(transparent, Descriptor(0, 0, 2, 2));
    transparent.push_back(2);
    Append(transparent, Blocks(PackCodes({{4, 3}, {1, 3}, {5, 3}})));
    transparent.push_back(0x3B);
    r = Load(transparent);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 2, 2, 2}));

    // A code equal to the next free code is the last string plus its own
    // first pixel; two clears in a row count as one.
    r = Load(OneFrame(4, 1, 2, {{4, 3}, {4, 3}, {1, 3}, {6, 3}, {2, 3}, {5, 3}}));
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 1, 1, 2}));
    EXPECT_TRUE(r.Warnings.empty());
}

TEST(GifDecoder, InterlacedRowsComeInPassOrder)
{
    // Height 3: rows 0, 2, 1.
    Bytes gif = Header(1, 3);
    Append(gif, Descriptor(0, 0, 1, 3, 0x40));
    gif.push_back(2);
    Append(gif, Blocks(PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}})));
    gif.push_back(0x3B);
    Loaded r = Load(gif);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 3, 2}));

    // Heights 1 to 9 through our own encoder: every row comes back.
    for (int height = 1; height <= 9; ++height) {
        TGifPicture image;
        image.Header.GlobalTable.LoadPalette(GreyRampPalette());
        auto frame = std::make_unique<TGIFSubImage>(&image);
        frame->PlaceFrame(0, 0, 3, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 3; ++x)
                frame->RowOf(y)[x] = static_cast<std::uint8_t>(y * 10 + x);
        frame->SetInterlaced(true);
        image.AddFrame(std::move(frame));
        TMemoryStream saved;
        image.SaveToStream(saved);
        EXPECT_EQ(saved.Data()[13 + 768 + 9] & 0x40, 0x40) << height;
        r = Load(saved.Data());
        ASSERT_EQ(r.Error, "") << height;
        EXPECT_EQ(Pixels(*r.Image, 0), Pixels(image, 0)) << height;
    }
}

TEST(GifDecoder, CodesSplitOverTinySubBlocksAndCutData)
{
    // Code size 10: 11-bit codes, the third starting at bit 22, spread over
    // three 1-byte blocks.
    const std::vector<std::pair<int, int>> codes = {{1024, 11}, {5, 11}, {7, 11}, {200, 11}, {100, 11}, {1025, 11}};
    for (std::size_t block : {1, 2, 3}) {
        Loaded r = Load(OneFrame(4, 1, 10, codes, block));
        ASSERT_EQ(r.Error, "") << block;
        EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{5, 7, 200, 100})) << block;
        EXPECT_TRUE(r.Warnings.empty()) << block;
    }

    // 12-bit codes of a real picture, the blocks cut to 1, 2, 3, 7 bytes.
    TGifPicture image;
    image.Header.GlobalTable.LoadPalette(GreyRampPalette());
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->PlaceFrame(0, 0, 120, 90);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < frame->PixelDataSize(); ++i)
        frame->PixelData()[i] = static_cast<std::uint8_t>(random() % 256);
    image.AddFrame(std::move(frame));
    TMemoryStream saved;
    image.SaveToStream(saved);
    const Bytes& bytes = saved.Data();
    const std::size_t dataAt = 13 + 768 + 10 + 1;
    Bytes codeBytes;
    std::size_t at = dataAt;
    while (bytes[at] != 0) {
        codeBytes.insert(codeBytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 1),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + 1 + bytes[at]));
        at += 1 + bytes[at];
    }
    for (std::size_t block : {1, 2, 3, 7}) {
        Bytes gif(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(dataAt));
        Append(gif, Blocks(codeBytes, block));
        gif.push_back(0x3B);
        Loaded r = Load(gif);
        ASSERT_EQ(r.Error, "") << block;
        EXPECT_EQ(Pixels(*r.Image, 0), Pixels(image, 0)) << block;
        EXPECT_TRUE(r.Warnings.empty()) << block;
    }

    // The last block promises more than the file holds.
    Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(dataAt + 1 + 255 + 100));
    Loaded r = Load(cut);
    ASSERT_EQ(r.Error, "");
    EXPECT_NE(std::find(r.Warnings.begin(), r.Warnings.end(), "Premature end of data"), r.Warnings.end());
    const Bytes partial = Pixels(*r.Image, 0);
    const Bytes whole = Pixels(image, 0);
    ASSERT_EQ(partial.size(), whole.size());
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 200, partial.begin()));
}

TEST(GifDecoder, CorruptCodesEndTheFrameAndCyclesAreCaught)
{
    // Code 7 when the next free code is 6: the frame ends with a warning,
    // keeps its first pixel, and the frame after it is read in step.
    Bytes gif = Header(2, 1);
    Append(gif, SmallFrame(2, 1, {4, 1, 7, 2, 5, 0, 0, 0, 0, 0}));
    Append(gif, SmallFrame(1, 1, {4, 3, 5}));
    gif.push_back(0x3B);
    Loaded r = Load(gif);
    ASSERT_EQ(r.Error, "");
    ASSERT_EQ(r.Image->Frames.Count(), 2);
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{1, 0}));
    EXPECT_EQ(Pixels(*r.Image, 1), (Bytes{3}));
    EXPECT_EQ(r.Warnings, std::vector<std::string>{"Invalid code in image data"});

    // Prefix chains that come back to themselves, directly or after many
    // steps, stop with the stack full.
    for (int length : {1, 2, 3, 500}) {
        auto table = std::make_unique<TLZWStringTable>();
        for (int i = 0; i < length; ++i) {
            table->Prefix[static_cast<std::size_t>(300 + i)] = static_cast<std::uint32_t>(300 + (i + 1) % length);
            table->Suffix[static_cast<std::size_t>(300 + i)] = 9;
        }
        try {
            table->PushString(300, 256);
            ADD_FAILURE() << length;
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message, "Circular decoder table entry") << length;
        }
        EXPECT_LE(table->Top, TLZWStringTable::StackSize);
    }
    // A long but proper chain expands.
    auto table = std::make_unique<TLZWStringTable>();
    for (int i = 258; i < 4096; ++i) {
        table->Prefix[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i == 258 ? 65 : i - 1);
        table->Suffix[static_cast<std::size_t>(i)] = 66;
    }
    EXPECT_EQ(table->PushString(4095, 256), 65u);
    EXPECT_EQ(table->Top, 4095 - 258 + 2);
}

TEST(GifDecoder, HugeSizesAreRefusedBeforeAnyAllocation)
{
    // 65535 x 65535 in a 30-byte file.
    Bytes gif = Header(1, 1, -1);
    Append(gif, Descriptor(0, 0, 65535, 65535));
    Append(gif, {2, 2, 0x4C, 0x01, 0x00, 0x3B});
    ASSERT_LE(gif.size(), 30u);
    Loaded r = Load(gif);
    EXPECT_NE(r.Error.find("Image too large (65535 x 65535 pixels)"), std::string::npos) << r.Error;
    EXPECT_EQ(r.Image->Frames.Count(), 0);

    // A descriptor of width 0 takes the screen's size, within the budget.
    const TPixelBudgetScope budget(100);
    Bytes zero = Header(10, 10, -1);
    Append(zero, Descriptor(0, 0, 0, 5));
    Append(zero, {2, 2, 0x4C, 0x01, 0x00, 0x3B});
    r = Load(zero);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Frame(0)->PixelDataSize(), 100u);
    EXPECT_EQ(r.Warnings, std::vector<std::string>{"Image exceeds Logical Screen size"});
}

namespace {

// What the registry's callers do with a picture that loads: draw it whole.
void ExpectDrawn(TGifPicture& image, int width, int height)
{
    ASSERT_EQ(image.Width(), width);
    ASSERT_EQ(image.Height(), height);
    TBitmap drawn(width, height, pf24bit);
    EXPECT_NO_THROW(drawn.Canvas().Draw(0, 0, image));
}

// A frame of width x height at left, top whose data ends at once: code size
// 2, clear and end codes.
Bytes EmptyDataFrame(int left, int top, int width, int height)
{
    Bytes f = Descriptor(left, top, width, height);
    f.push_back(2);
    Append(f, Blocks(PackCodes({{4, 3}, {5, 3}})));
    return f;
}

// A whole file: a screen without global table, the blocks, the trailer.
Bytes Gif(int width, int height, const std::vector<Bytes>& blocks = {})
{
    Bytes gif = Header(width, height, -1);
    for (const Bytes& b : blocks)
        Append(gif, b);
    gif.push_back(0x3B);
    return gif;
}

} // namespace

TEST(GifDecoder, ScreenAndFramesStayWithinThePixelBudget)
{
    // A header alone: 65535 x 65535 is refused, not left to fail when drawn.
    ASSERT_EQ(Gif(65535, 65535).size(), 14u);
    Loaded r = Load(Gif(65535, 65535));
    EXPECT_NE(r.Error.find("Logical screen too large (65535 x 65535 pixels)"), std::string::npos) << r.Error;

    const TPixelBudgetScope budget(10000);
    // 100 x 100 is the whole budget; 101 x 100 is past it.
    r = Load(Gif(100, 100));
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 100, 100);
    // Set by hand, the screen keeps to the budget as well.
    EXPECT_THROW(r.Image->SetWidth(101), GIFException);
    EXPECT_EQ(r.Image->Width(), 100);
    r.Image->SetHeight(50);
    r.Image->SetWidth(200);
    EXPECT_EQ(r.Image->Width(), 200);
    r = Load(Gif(101, 100));
    EXPECT_NE(r.Error.find("Logical screen too large (101 x 100 pixels)"), std::string::npos) << r.Error;

    // Frames past a 10 x 10 screen grow it: to 100 x 10 it loads and draws;
    // a 1 x 1 frame at 99, 101 would need 100 x 102.
    r = Load(Gif(10, 10, {EmptyDataFrame(90, 0, 10, 10)}));
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 100, 10);
    r = Load(Gif(10, 10, {EmptyDataFrame(90, 0, 10, 10), EmptyDataFrame(99, 101, 1, 1)}));
    EXPECT_NE(r.Error.find("Logical screen too large (100 x 102 pixels)"), std::string::npos) << r.Error;
    EXPECT_EQ(r.Image->Frames.Count(), 1);
    // The far corner of the largest screen from a 1 x 1 frame.
    r = Load(Gif(1, 1, {EmptyDataFrame(65534, 65534, 1, 1)}));
    EXPECT_NE(r.Error.find("Logical screen too large (65535 x 65535 pixels)"), std::string::npos) << r.Error;

    // The budget is each frame's, not the animation's: five frames of
    // 100 x 100 hold 50000 pixels and load.
    const Bytes full = EmptyDataFrame(0, 0, 100, 100);
    r = Load(Gif(100, 100, {full, full, full, full, full}));
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Count(), 5);
    ExpectDrawn(*r.Image, 100, 100);
}

TEST(GifDecoder, TheFramesOfALoadShareAMemoryAllowance)
{
    // What animations get by default: the memory of pictures kept together.
    EXPECT_EQ(TGifPicture().Frames.MemoryAllowance, pixelmemory::Allowance());

    // Frames of 50 x 50 bytes: four take 10000 bytes, the whole allowance; a
    // fifth is refused before its pixels are allocated.
    const Bytes quarter = EmptyDataFrame(0, 0, 50, 50);
    const Bytes four = Gif(100, 100, {quarter, quarter, quarter, quarter});
    const Bytes five = Gif(100, 100, {quarter, quarter, quarter, quarter, quarter});
    TGifPicture image;
    image.Frames.MemoryAllowance = 10000;
    for (int pass = 0; pass < 2; ++pass) {
        // Each load counts afresh.
        TMemoryStream in(four);
        EXPECT_NO_THROW(image.LoadFromStream(in)) << pass;
        EXPECT_EQ(image.Frames.Count(), 4);
    }
    TMemoryStream in(five);
    try {
        image.LoadFromStream(in);
        ADD_FAILURE() << "five frames loaded";
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Frames too large (10000 + 2500 bytes): the frames of a picture may take 10000 bytes "
                             "of memory in all");
    }
    EXPECT_EQ(image.Frames.Count(), 4);
}

TEST(GifDecoder, AFirstPictureScopeReadsTheFirstFrameAlone)
{
    // What follows the first frame is not read, and no trailer is missed.
    const Bytes gif = Gif(4, 3, {EmptyDataFrame(0, 0, 4, 3), EmptyDataFrame(0, 0, 40000, 1), Bytes{0x99}});
    Loaded r;
    {
        const TFirstPictureScope first;
        r = Load(gif);
    }
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Count(), 1);
    EXPECT_EQ(r.Image->Width(), 4);
    EXPECT_EQ(r.Warnings, std::vector<std::string>{});
    // Outside the scope, the whole file.
    r = Load(gif);
    EXPECT_EQ(r.Image->Frames.Count(), 2);
    EXPECT_EQ(r.Image->Width(), 40000);
    EXPECT_EQ(r.Warnings.back(), "Invalid Image trailer");
}

TEST(GifDecoder, FramesTheDataLeftCouldNeverFillAreRefusedBeforeAllocation)
{
    // A frame of 16384 x 16384 on a 1 x 1 screen in 35 bytes, and eight of
    // them in 142: refused at the first frame, the screen left as read.
    Bytes one = Header(1, 1, -1);
    Append(one, Descriptor(0, 0, 16384, 16384));
    one.push_back(2);
    Append(one, Blocks({0x8C, 0x2D, 0x99, 0x87, 0x2A, 0x1C, 0xDC, 0x33}));
    one.push_back(0x3B);
    ASSERT_EQ(one.size(), 35u);
    Loaded r = Load(one);
    EXPECT_EQ(r.Error, "Frame too large for the data left (16384 x 16384 pixels, 11 bytes)");
    EXPECT_EQ(r.Image->Frames.Count(), 0);
    EXPECT_EQ(r.Image->Width(), 1);
    EXPECT_EQ(r.Image->Height(), 1);
    EXPECT_TRUE(r.Warnings.empty());
    Bytes eight = Header(1, 1, -1);
    for (int i = 0; i < 8; ++i) {
        Append(eight, Descriptor(0, 0, 16384, 16384));
        eight.push_back(2);
        Append(eight, Blocks({0x8C, 0x2D, 0x99}));
    }
    eight.push_back(0x3B);
    ASSERT_EQ(eight.size(), 142u);
    r = Load(eight);
    EXPECT_EQ(r.Error, "Frame too large for the data left (16384 x 16384 pixels, 118 bytes)");
    EXPECT_EQ(r.Image->Frames.Count(), 0);

    // At the limit: after the code size 2 come 4 bytes (block, codes 4 and
    // 5, terminator, trailer), 32 bits, 10 codes of 3 bits at most, each
    // giving at most 4096 pixels: 40960 pixels.
    ASSERT_EQ(Gif(1, 1, {EmptyDataFrame(0, 0, 40960, 1)}).size(), 28u);
    r = Load(Gif(1, 1, {EmptyDataFrame(0, 0, 40960, 1)}));
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Frame(0)->PixelDataSize(), 40960u);
    r = Load(Gif(1, 1, {EmptyDataFrame(0, 0, 40961, 1)}));
    EXPECT_EQ(r.Error, "Frame too large for the data left (40961 x 1 pixels, 4 bytes)");
    // With code size 8, codes of 9 bits: 32 / 9 = 3 codes, 12288 pixels.
    Bytes wide = Header(1, 1, -1);
    Append(wide, Descriptor(0, 0, 12289, 1));
    Append(wide, {8, 1, 0x00, 0x00, 0x3B});
    r = Load(wide);
    EXPECT_EQ(r.Error, "Frame too large for the data left (12289 x 1 pixels, 4 bytes)");
    wide[wide.size() - 10] = 0x00; // 12288 wide
    r = Load(wide);
    EXPECT_EQ(r.Error, "");
    // A frame whose data is missing altogether has nothing to fill it.
    Bytes bare = Header(1, 1, -1);
    Append(bare, Descriptor(0, 0, 1, 1));
    r = Load(bare);
    EXPECT_EQ(r.Error, "Frame too large for the data left (1 x 1 pixels, 0 bytes)");
}

TEST(GifDecoder, TheScreenKeepsToThePixelBudgetAndTheFramesToTheWholeFile)
{
    // The screen is not in the data: a header alone opens at any size the
    // budget allows. 14 bytes could fill 14 x 8 / 2 x 4096 = 229376 pixels
    // at LZW's best, and the screen is 1024 x 1024 = 1048576 all the same.
    const TPixelBudgetScope budget(std::size_t{1} << 20);
    ASSERT_EQ(Gif(1024, 1024).size(), 14u);
    Loaded r = Load(Gif(1024, 1024));
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 1024, 1024);
    r = Load(Gif(1025, 1024));
    EXPECT_NE(r.Error.find("Logical screen too large (1025 x 1024 pixels)"), std::string::npos) << r.Error;
    // A 1 x 1 frame in the far corner grows the screen as far: its one pixel
    // is all the data holds, and all the frames together need.
    const Bytes corner = Gif(1, 1, {EmptyDataFrame(1023, 1023, 1, 1)});
    ASSERT_EQ(corner.size(), 28u);
    r = Load(corner);
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 1024, 1024);
    ASSERT_EQ(r.Image->Frames.Count(), 1);
    EXPECT_EQ(r.Image->Frames.Frame(0)->PixelDataSize(), 1u);
    r = Load(Gif(1, 1, {EmptyDataFrame(1024, 1023, 1, 1)}));
    EXPECT_NE(r.Error.find("Logical screen too large (1025 x 1024 pixels)"), std::string::npos) << r.Error;
    EXPECT_EQ(r.Image->Frames.Count(), 0);
    // Twenty such frames spread over the screen, 1 pixel each.
    std::vector<Bytes> spread;
    for (int i = 0; i < 20; ++i)
        spread.push_back(EmptyDataFrame(i * 50, 1023 - i * 50, 1, 1));
    r = Load(Gif(1, 1, spread));
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Count(), 20);
    EXPECT_EQ(r.Image->Width(), 951);
    EXPECT_EQ(r.Image->Height(), 1024);

    // Frames of 14 bytes each, which the data left after each could fill,
    // but not all together. Six frames make 98 bytes, 1605632 pixels at
    // most; after the code size of frame k come 74 - 14k bytes, floor((74 -
    // 14k) x 8 / 3) codes: 197, 160 and 122 for the first three.
    std::vector<Bytes> frames;
    for (int codes : {197, 160, 122, 85, 48, 10})
        frames.push_back(EmptyDataFrame(0, 0, codes * 4, 1024));
    const Bytes six = Gif(1, 1, frames);
    ASSERT_EQ(six.size(), 98u);
    r = Load(six);
    EXPECT_EQ(r.Error, "Frames too large for the data (1462272 + 499712 pixels from 98 bytes)");
    EXPECT_EQ(r.Image->Frames.Count(), 2);
    // The same bytes with the third frame 140 x 1024 and the last three 1 x
    // 1: the first three take the 1605632 pixels, the fourth is one too
    // many; with the third 139 x 1024 all six load.
    for (std::size_t k = 3; k < 6; ++k)
        frames[k] = EmptyDataFrame(0, 0, 1, 1);
    frames[2] = EmptyDataFrame(0, 0, 140, 1024);
    r = Load(Gif(1, 1, frames));
    EXPECT_EQ(r.Error, "Frames too large for the data (1605632 + 1 pixels from 98 bytes)");
    frames[2] = EmptyDataFrame(0, 0, 139, 1024);
    r = Load(Gif(1, 1, frames));
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Frames.Count(), 6);
}

TEST(GifDecoder, AnEmptyScreenWithoutFramesIsRefused)
{
    const std::string message = "Empty image: a logical screen of 0 x 0 pixels and no frame";
    Loaded r = Load(Gif(0, 0));
    EXPECT_EQ(r.Error, message);
    EXPECT_TRUE(r.Warnings.empty());
    // Without a trailer, or with an extension but no image, the same.
    r = Load(Header(0, 0, 1));
    EXPECT_EQ(r.Error, message);
    r = Load(Gif(0, 0, {{0x21, 0xFE, 0x01, 'x', 0x00}}));
    EXPECT_EQ(r.Error, message);
    // One side of 0 holds no pixel either.
    r = Load(Gif(1, 0));
    EXPECT_EQ(r.Error, "Empty image: a logical screen of 1 x 0 pixels and no frame");
    r = Load(Gif(0, 1));
    EXPECT_EQ(r.Error, "Empty image: a logical screen of 0 x 1 pixels and no frame");
    r = Load(Header(300, 0, 1));
    EXPECT_EQ(r.Error, "Empty image: a logical screen of 300 x 0 pixels and no frame");

    // Frames give an empty screen their size, without a word.
    r = Load(Gif(0, 0, {EmptyDataFrame(1, 0, 2, 3)}));
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 3, 3);
    EXPECT_TRUE(r.Warnings.empty());
    r = Load(Gif(1, 0, {EmptyDataFrame(0, 0, 1, 1)}));
    ASSERT_EQ(r.Error, "");
    ExpectDrawn(*r.Image, 1, 1);
    EXPECT_TRUE(r.Warnings.empty());
}

TEST(GifDecoder, BlocksBetweenFramesAndTheTrailer)
{
    const Bytes frameData = SmallFrame(1, 1, {4, 3, 5});

    // An extension nobody knows is stepped over; the frame goes on loading.
    Bytes gif = Header(1, 1);
    Append(gif, {0x21, 0x42, 0x03, 1, 2, 3, 0x00});
    Append(gif, frameData);
    gif.push_back(0x3B);
    Loaded r = Load(gif);
    ASSERT_EQ(r.Error, "");
    ASSERT_EQ(r.Image->Frames.Count(), 1);
    EXPECT_EQ(Pixels(*r.Image, 0), (Bytes{3}));
    EXPECT_EQ(r.Warnings, std::vector<std::string>{"Unknown extension type"});

    // Zero bytes between frames are skipped.
    gif = Header(1, 1);
    Append(gif, frameData);
    Append(gif, {0x00, 0x00});
    Append(gif, frameData);
    gif.push_back(0x3B);
    r = Load(gif);
    EXPECT_EQ(r.Image->Frames.Count(), 2);
    EXPECT_TRUE(r.Warnings.empty());

    // No trailer: silent. A stray byte: two warnings, the frame stays.
    gif = Header(1, 1);
    Append(gif, frameData);
    r = Load(gif);
    EXPECT_EQ(r.Image->Frames.Count(), 1);
    EXPECT_TRUE(r.Warnings.empty());
    gif.push_back(0x99);
    r = Load(gif);
    EXPECT_EQ(r.Image->Frames.Count(), 1);
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{"Unknown GIF block type", "Invalid Image trailer"}));

    // Only 0x2C starts a frame: after an extension, a stray byte ends the
    // frames, and is not read as an image descriptor.
    gif = Header(1, 1);
    Append(gif, frameData);
    Append(gif, {0x21, 0xFE, 0x01, 'x', 0x00, 0x99});
    Append(gif, frameData);
    gif.push_back(0x3B);
    r = Load(gif);
    ASSERT_EQ(r.Error, "");
    ASSERT_EQ(r.Image->Frames.Count(), 2);
    EXPECT_TRUE(r.Image->Frames.Frame(1)->IsEmpty());
    EXPECT_EQ(r.Image->Frames.Frame(1)->ExtensionList().ItemCount(), 1);
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{"Invalid extension introducer", "Unknown GIF block type",
                                                    "Invalid Image trailer"}));

    // A frame past the logical screen grows it.
    gif = Header(2, 2);
    Append(gif, Descriptor(1, 0, 3, 3));
    gif.push_back(2);
    Append(gif, Blocks(PackCodes({{4, 3}, {3, 3}, {5, 3}})));
    gif.push_back(0x3B);
    r = Load(gif);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(r.Image->Width(), 4);
    EXPECT_EQ(r.Image->Height(), 3);
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{"Image width too small for contained frames",
                                                    "Image height too small for contained frames",
                                                    "Image exceeds Logical Screen size"}));

    // A failed load leaves the stream where it was.
    Bytes bad = Header(1, 1);
    Append(bad, Descriptor(0, 0, 1, 1));
    bad.push_back(12);
    Bytes prefixed{9, 9, 9};
    Append(prefixed, bad);
    TMemoryStream stream(prefixed);
    stream.SetPosition(3);
    TGifPicture image;
    EXPECT_THROW(image.LoadFromStream(stream), GIFException);
    EXPECT_EQ(stream.Position(), 3);
}

// ---------------------------------------------------------------------------
// Encoders

namespace {

Bytes Encode(TGIFEncoder& encoder, int bits, int colors, const Bytes& pixels, int width, int height,
             bool interlaced = false)
{
    TMemoryStream out;
    encoder.Encode(out, bits, colors, pixels.empty() ? nullptr : pixels.data(), interlaced, height, width);
    return out.Data();
}

// The codes of image data, read with the widths a decoder uses (a plain
// reference: it tracks only the table's size).
std::vector<int> ReadCodes(const Bytes& data)
{
    const int size = data[0];
    Bytes packed;
    std::size_t at = 1;
    while (at < data.size() && data[at] != 0) {
        packed.insert(packed.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                      data.begin() + static_cast<std::ptrdiff_t>(at + 1 + data[at]));
        at += 1 + data[at];
    }
    const int clear = 1 << size;
    int width = size + 1, next = clear + 2;
    bool first = true;
    std::vector<int> codes;
    std::size_t bit = 0;
    while (bit + static_cast<std::size_t>(width) <= packed.size() * 8) {
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((packed[bit / 8] >> (bit % 8)) & 1) << i;
        codes.push_back(code);
        if (code == clear + 1)
            break;
        if (code == clear) {
            width = size + 1;
            next = clear + 2;
            first = true;
            continue;
        }
        if (!first && next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12)
                ++width;
        }
        first = false;
    }
    return codes;
}

} // namespace

TEST(GifEncoder, HandWorkedStreams)
{
    // No pixels: the code size, one block with the end code, the terminator.
    TLZWEncoder lzw;
    EXPECT_EQ(Encode(lzw, 8, 256, {}, 0, 0), (Bytes{8, 2, 0x01, 0x01, 0}));
    // Two colours are written with code size 2: clear 4, the pixel, end 5.
    TLZWEncoder one;
    EXPECT_EQ(Encode(one, 1, 2, {1}, 1, 1), (Bytes{2, 2, 0x4C, 0x01, 0}));
    // The same through the run-length encoder.
    TRLEEncoder rle;
    EXPECT_EQ(Encode(rle, 1, 2, {1}, 1, 1), (Bytes{2, 2, 0x4C, 0x01, 0}));

    // An index outside the table stops the encoder without a terminator.
    TLZWEncoder bad;
    TMemoryStream out;
    const Bytes pixels{0, 1, 2};
    try {
        bad.Encode(out, 1, 2, pixels.data(), false, 1, 3);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Color not in color table");
    }
    EXPECT_NE(out.Data().back(), 0);

    // The sub-block writer never writes an empty block, and other stream
    // operations are refused.
    TMemoryStream target;
    {
        TGIFWriter writer(target);
        Bytes data(510, 7);
        writer.Write(data.data(), data.size());
        EXPECT_THROW(writer.Read(data.data(), 1), Exception);
        EXPECT_THROW(writer.Seek(0, soBeginning), Exception);
    }
    EXPECT_EQ(target.Data().size(), 512u);
    EXPECT_EQ(target.Data()[0], 255);
    EXPECT_EQ(target.Data()[256], 255);
}

TEST(GifEncoder, FullTablesClearInsteadOfCode4095AndRoundTripsAtEveryDepth)
{
    std::mt19937 random(11);
    for (int bits = 1; bits <= 8; ++bits) {
        for (std::uint8_t method : {emLZW, emRLE}) {
            for (bool interlaced : {false, true}) {
                const int width = 97, height = 61;
                Bytes pixels(static_cast<std::size_t>(width * height));
                // Runs and noise, so that tables fill and runs are found.
                for (std::size_t i = 0; i < pixels.size(); ++i)
                    pixels[i] = static_cast<std::uint8_t>(((i / 40) % 3 == 0 ? 1u : random()) % (1u << bits));
                TGifPicture image;
                image.EncodingMethod = method;
                TPalette grey;
                for (int i = 0; i < (1 << bits); ++i)
                    grey.push_back(TPaletteEntry{static_cast<std::uint8_t>(i), 0, 0, 0});
                image.Header.GlobalTable.LoadPalette(grey);
                auto frame = std::make_unique<TGIFSubImage>(&image);
                frame->PlaceFrame(0, 0, width, height);
                std::copy(pixels.begin(), pixels.end(), frame->PixelData());
                frame->SetInterlaced(interlaced);
                image.AddFrame(std::move(frame));
                TMemoryStream saved;
                image.SaveToStream(saved);
                Loaded r = Load(saved.Data());
                ASSERT_EQ(r.Error, "") << bits << method << interlaced;
                EXPECT_EQ(Pixels(*r.Image, 0), pixels) << bits << method << interlaced;
                EXPECT_TRUE(r.Warnings.empty());
            }
        }
    }

    // 8-bit noise fills the table: a clear comes where code 4095 would be
    // assigned, and no code ever reaches 4095.
    TLZWEncoder lzw;
    Bytes noise(300 * 300);
    for (auto& p : noise)
        p = static_cast<std::uint8_t>(random());
    const std::vector<int> codes = ReadCodes(Encode(lzw, 8, 256, noise, 300, 300));
    int clears = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_LT(codes[i], 4095);
        if (codes[i] == 256)
            ++clears;
    }
    EXPECT_GE(clears, 3);
    EXPECT_EQ(codes.back(), 257);
}

TEST(GifEncoder, RunLengthCodesStayNarrowAndDataEndsOnWholeBlocks)
{
    // A single colour: after each clear at most 254 codes outside a run
    // flush, so the width never passes 9 bits there; the run codes reach far.
    TRLEEncoder rle;
    Bytes flat(500 * 300, 3);
    const Bytes data = Encode(rle, 8, 256, flat, 500, 300);
    EXPECT_LT(data.size(), 2000u);
    const std::vector<int> codes = ReadCodes(data);
    EXPECT_EQ(codes.front(), 256);
    EXPECT_EQ(codes.back(), 257);

    // Some size gives data of a whole number of blocks: full blocks, then
    // the single terminator.
    bool found = false;
    for (int width = 1; width < 3000 && !found; ++width) {
        TLZWEncoder lzw;
        Bytes pixels(static_cast<std::size_t>(width) * 3);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 5);
        const Bytes out = Encode(lzw, 8, 256, pixels, width, 3);
        if ((out.size() - 2) % 256 != 0)
            continue;
        found = true;
        for (std::size_t at = 1; at + 1 < out.size(); at += 256)
            EXPECT_EQ(out[at], 255);
        EXPECT_EQ(out.back(), 0);
    }
    EXPECT_TRUE(found);
}

TEST(GifEncoder, HashTableWithCollidingProbesFills)
{
    // Keys whose slots lie on one doubling orbit share a probe sequence that
    // reaches only about half the table; 4089 of them must still fit.
    std::vector<bool> onOrbit(THashTable::Size, false);
    for (int s = 1; !onOrbit[static_cast<std::size_t>(s)]; s = (2 * s) % THashTable::Size)
        onOrbit[static_cast<std::size_t>(s)] = true;
    std::vector<std::uint32_t> keys;
    for (std::uint32_t key = 0; key < (1u << 20) && keys.size() < 4089; ++key)
        if (onOrbit[(key ^ (key >> 4)) % THashTable::Size])
            keys.push_back(key);
    ASSERT_EQ(keys.size(), 4089u);
    THashTable table;
    for (std::size_t i = 0; i < keys.size(); ++i)
        table.Store(keys[i], static_cast<int>(i % 4096));
    for (std::size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(table.Find(keys[i]), static_cast<int>(i % 4096)) << i;
    std::uint32_t absent = 0;
    while (std::find(keys.begin(), keys.end(), absent) != keys.end())
        ++absent;
    EXPECT_EQ(table.Find(absent), -1);
    table.Reset();
    EXPECT_EQ(table.Find(keys[0]), -1);
}
