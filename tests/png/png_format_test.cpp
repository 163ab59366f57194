// The PNG stream structure: malformed streams and the exception each one
// raises, header checks, the ancillary chunks and their round trips.

#include "PngTestSupport.h"

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace pngtest;

namespace {

// An image of filter-0 rows of the given bytes.
Bytes Rows(std::size_t rows, std::size_t rowBytes, std::uint8_t value = 0x5A)
{
    Bytes raw;
    for (std::size_t y = 0; y < rows; ++y) {
        raw.push_back(0);
        for (std::size_t i = 0; i < rowBytes; ++i)
            raw.push_back(static_cast<std::uint8_t>(value + i + y));
    }
    return raw;
}

// A valid 4x3 RGB image with its chunks in the usual places.
// The texts of a picture's zTXt chunks, in file order.
std::vector<std::string> CompressedTexts(const TPngPicture& png)
{
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < png.Chunks.Count(); ++i)
        if (auto* z = dynamic_cast<const TChunkzTXt*>(png.Chunks.Item(i)))
            texts.push_back(z->Text);
    return texts;
}

Builder& Rgb4x3(Builder& b)
{
    return b.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", Zlib(Rows(3, 12)));
}

Bytes ValidRgb()
{
    Builder b;
    return Rgb4x3(b).End().Out;
}

struct Malformed {
    const char* Name;
    Bytes Data;
    const char* Expected;
};

std::vector<Malformed> MalformedStreams()
{
    std::vector<Malformed> cases;
    auto add = [&](const char* name, Bytes data, const char* expected) {
        cases.push_back(Malformed{name, std::move(data), expected});
    };
    const Bytes good = ValidRgb();
    const Bytes idat = Zlib(Rows(3, 12));

    add("empty stream", {}, "EPNGInvalidFileHeader");
    add("seven signature bytes", Bytes(good.begin(), good.begin() + 7), "EPNGInvalidFileHeader");
    {
        Bytes d = good;
        d[1] = 'Q';
        add("wrong signature", d, "EPNGInvalidFileHeader");
    }
    add("signature only", Signature, "EPngUnexpectedEnd");
    {
        Bytes d = Signature;
        d.insert(d.end(), {0, 0});
        add("two bytes of a length", d, "EPngUnexpectedEnd");
    }
    add("first chunk not IHDR", Builder().Chunk("gAMA", {0, 0, 0xB1, 0x8F}).Chunk("IHDR", Ihdr(4, 3, 8, 2)).Out,
        "EPNGIHDRNotFirst");
    add("lower-case ihdr", Builder().Chunk("iHDR", Ihdr(4, 3, 8, 2)).Out, "EPNGIHDRNotFirst");
    add("cHRM first", Builder().Chunk("cHRM", Bytes(32, 0)).Chunk("IHDR", Ihdr(4, 3, 8, 2)).Out, "EPNGIHDRNotFirst");
    {
        Builder b;
        add("unknown critical chunk", Rgb4x3(b).Chunk("ABCD", {1, 2}).End().Out, "EPNGUnknownCriticalChunk");
    }
    add("IEND without IDAT", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).End().Out, "EPNGNoImageData");
    {
        Bytes d = good;
        d[8 + 8 + 3] ^= 0x01; // a bit of the header's width
        add("flipped data bit", d, "EPngInvalidCRC");
    }
    {
        Bytes d = good;
        d[d.size() - 13] ^= 0x10; // the image data's CRC
        add("flipped image data CRC bit", d, "EPngInvalidCRC");
    }
    {
        Bytes h = Ihdr(4, 3, 8, 2);
        h.pop_back();
        add("IHDR of 12 bytes", Builder().Chunk("IHDR", h).Out, "EPngInvalidIHDR");
    }
    add("width 65536", Builder().Chunk("IHDR", Ihdr(65536, 1, 8, 2)).Out, "EPNGSizeExceeds");
    add("width with the top bit", Builder().Chunk("IHDR", Ihdr(0x80000001u, 1, 8, 2)).Out, "EPNGSizeExceeds");
    add("height 65536", Builder().Chunk("IHDR", Ihdr(1, 65536, 8, 2)).Out, "EPNGSizeExceeds");
    add("compression 1", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2, 1)).Out, "EPNGUnknownCompression");
    add("interlace 2", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2, 0, 0, 2)).Out, "EPNGUnknownInterlace");
    add("size before compression", Builder().Chunk("IHDR", Ihdr(70000, 3, 8, 2, 1)).Out, "EPNGSizeExceeds");
    // Headers the decoder cannot take.
    add("RGB at 4 bits", Builder().Chunk("IHDR", Ihdr(4, 3, 4, 2)).Out, "EPngInvalidIHDR");
    add("palette at 16 bits", Builder().Chunk("IHDR", Ihdr(4, 3, 16, 3)).Out, "EPngInvalidIHDR");
    add("grey at 3 bits", Builder().Chunk("IHDR", Ihdr(4, 3, 3, 0)).Out, "EPngInvalidIHDR");
    add("colour type 5", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 5)).Out, "EPngInvalidIHDR");
    add("grey + alpha at 4 bits", Builder().Chunk("IHDR", Ihdr(4, 3, 4, 4)).Out, "EPngInvalidIHDR");
    add("zero width", Builder().Chunk("IHDR", Ihdr(0, 3, 8, 2)).Out, "EPngInvalidIHDR");
    add("zero height", Builder().Chunk("IHDR", Ihdr(4, 0, 8, 2)).Out, "EPngInvalidIHDR");
    add("filter method 1", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2, 0, 1)).Out, "EPngInvalidIHDR");
    add("beyond the pixel budget", Builder().Chunk("IHDR", Ihdr(65535, 65535, 8, 2)).Out, "EOutOfMemory");
    {
        Builder b;
        add("second IHDR", Rgb4x3(b).Chunk("IHDR", Ihdr(8, 8, 8, 0)).End().Out, "EPngInvalidIHDR");
    }
    {
        Builder b;
        b.Chunk("IHDR", Ihdr(4, 3, 8, 3)).Chunk("PLTE", Bytes(10, 0));
        add("PLTE of 10 bytes", b.Out, "EPNGInvalidPalette");
    }
    {
        Builder b;
        b.Chunk("IHDR", Ihdr(4, 3, 8, 3)).Chunk("PLTE", Bytes(771, 0));
        add("PLTE of 257 entries", b.Out, "EPNGInvalidPalette");
    }
    {
        Builder b;
        b.Chunk("IHDR", Ihdr(4, 3, 8, 3)).Chunk("PLTE", Bytes(768, 0)).Chunk("tRNS", Bytes(257, 0));
        add("tRNS of 257 bytes", b.Out, "EPNGInvalidPalette");
    }
    add("palette image without PLTE",
        Builder().Chunk("IHDR", Ihdr(4, 3, 8, 3)).Chunk("IDAT", Zlib(Rows(3, 4, 0))).End().Out,
        "EPNGInvalidPalette");
    {
        Builder b;
        b.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", Bytes(idat.begin(), idat.begin() + 5));
        b.Chunk("tEXt", {'a', 0, 'b'}).Chunk("IDAT", Bytes(idat.begin() + 5, idat.end())).End();
        add("image data broken by another chunk", b.Out, "EPNGMissingMultipleIDAT");
    }
    add("too little image data",
        Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", Zlib(Rows(2, 12))).End().Out, "EPNGZLIBError");
    {
        Bytes z = {0x78, 0x9C, 0x07, 0x00, 0x00}; // a block of the reserved type
        add("corrupt deflate data", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", z).End().Out,
            "EPNGZLIBError");
    }
    {
        // A zlib header asking for a preset dictionary.
        Bytes z = {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00};
        add("preset dictionary", Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", z).End().Out,
            "EPNGZLIBError");
    }
    {
        Builder b;
        add("end right after a CRC", Rgb4x3(b).Out, "EPngUnexpectedEnd");
    }
    // Lengths that cannot be right.
    {
        Builder b;
        Rgb4x3(b).Raw(0x80000000u, "tEXt", {}, 0);
        add("length above 2^31 - 1", b.Out, "EPngUnexpectedEnd");
    }
    {
        Builder b;
        Rgb4x3(b).Raw(1000, "tEXt", Bytes(10, 'a'), 0);
        add("length past the end", b.Out, "EPngUnexpectedEnd");
    }
    {
        Builder b;
        Rgb4x3(b).Raw(0xFFFFFFFCu, "cHRM", {}, 0).End();
        add("skipped chunk of length 2^32 - 4", b.Out, "EPngUnexpectedEnd");
    }
    {
        Builder b;
        Rgb4x3(b).Raw(0xFFFFFFF8u, "IDAT", {}, 0).End();
        add("skipped IDAT of length 2^32 - 8", b.Out, "EPngUnexpectedEnd");
    }
    {
        Builder b;
        b.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", Bytes(idat.begin(), idat.begin() + 4));
        b.Raw(0xFFFFFFF0u, "IDAT", {}, 0);
        add("continued IDAT of length 2^32 - 16", b.Out, "EPngUnexpectedEnd");
    }
    {
        Bytes d = good;
        d.resize(d.size() - 14); // into the last IDAT's CRC
        d.resize(d.size() - 3);
        add("truncated image data", d, "EPngUnexpectedEnd");
    }
    return cases;
}

} // namespace

TEST(PngMalformed, EachStreamRaisesItsException)
{
    for (const Malformed& m : MalformedStreams()) {
        SCOPED_TRACE(m.Name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(LoadError(m.Data), m.Expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

TEST(PngMalformed, MessagesAreTheCodecTexts)
{
    std::string message;
    LoadError(Bytes{1, 2, 3}, &message);
    EXPECT_EQ(message, "The file being readed is not a valid \"Portable Network Graphics\" image because it contains "
                       "an invalid header. This file may be corruped, try obtaining it again.");
    LoadError(Builder().Chunk("gAMA", {0, 0, 0, 1}).Out, &message);
    EXPECT_EQ(message, "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n"
                       "(IHDR chunk is not the first)");
    const Bytes z = {0x78, 0x9C, 0x07, 0x00, 0x00};
    LoadError(Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", z).End().Out, &message);
    EXPECT_EQ(message, "Could not decompress the image because it contains invalid compressed data.\r\n"
                       " Description: data error (-3)");
    LoadError(Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", {0x78, 0xBB, 0, 0, 0, 1, 3, 0}).End().Out,
              &message);
    EXPECT_NE(message.find("need dictionary (2)"), std::string::npos);
    LoadError(Builder().Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("IDAT", Zlib(Rows(2, 12))).End().Out, &message);
    EXPECT_NE(message.find("stream end (1)"), std::string::npos);
}

TEST(PngMalformed, FailedHeaderLeavesAnEmptyPicture)
{
    for (const Bytes& bad : {Builder().Chunk("IHDR", Ihdr(4, 3, 4, 2)).Out,
                             Builder().Chunk("IHDR", Ihdr(65535, 65535, 8, 2)).Out,
                             Builder().Chunk("IHDR", Ihdr(0, 9, 8, 0)).Out}) {
        TPngPicture png;
        TMemoryStream stream(bad);
        EXPECT_THROW(png.LoadFromStream(stream), Exception);
        EXPECT_EQ(png.Width(), 0);
        EXPECT_EQ(png.Height(), 0);
        EXPECT_EQ(png.PixelColor(0, 0), 0);
        TBitmap target(4, 4, pf24bit);
        target.Canvas().Draw(0, 0, png); // nothing to draw, and no crash
        EXPECT_EQ(target.GetPixelColor(0, 0), clWhite);
        TMemoryStream out;
        EXPECT_THROW(png.SaveToStream(out), Exception);
    }
}

TEST(PngMalformed, ChunksReadBeforeAFailureStay)
{
    Builder c;
    c.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("tEXt", {'k', 0, 'v'}).Chunk("gAMA", {0, 0, 0xB1, 0x8F});
    c.Out[c.Out.size() - 1] ^= 1; // gAMA's CRC
    TPngPicture png;
    TMemoryStream stream(c.Out);
    EXPECT_THROW(png.LoadFromStream(stream), EPngInvalidCRC);
    ASSERT_EQ(png.Chunks.Count(), 3u);
    EXPECT_NE(png.Chunks.ItemFromClass<TChunktEXt>(), nullptr);
    EXPECT_EQ(png.Width(), 4);
}

TEST(PngBounded, PixelsTakeMemoryOnlyWhenTheirDataStarts)
{
    // 16,000 x 16,000 RGB is within the pixel budget but would take 768 MB.
    const Bytes header = Ihdr(16000, 16000, 8, 2);
    {
        TPngPicture png;
        TMemoryStream stream(Builder().Chunk("IHDR", header).Chunk("tEXt", {'k', 0, 'v'}).End().Out);
        EXPECT_THROW(png.LoadFromStream(stream), EPNGNoImageData);
        EXPECT_EQ(png.Width(), 16000);
        EXPECT_FALSE(png.RequireHeader().HasDib());
    }
    // 48 MB of raw data from a few hundred bytes: deflate cannot make more
    // than about 1032 bytes of one, so the file is refused at once.
    const Bytes start = Zlib(Bytes(64001 * 4, 0), 9);
    const auto began = std::chrono::steady_clock::now();
    TPngPicture png;
    TMemoryStream stream(Builder().Chunk("IHDR", header).Chunk("IDAT", start).End().Out);
    EXPECT_THROW(png.LoadFromStream(stream), EPngUnexpectedEnd);
    EXPECT_FALSE(png.RequireHeader().HasDib());
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(500));
    // Data that could inflate to the picture is decoded as before.
    const Bytes raw(3 * (1 + 3 * 300), 0);
    auto small = Load(Builder().Chunk("IHDR", Ihdr(300, 3, 8, 2)).Chunk("IDAT", Zlib(raw, 9)).End().Out);
    EXPECT_EQ(small->Width(), 300);
}

TEST(PngBounded, AllCompressedTextTogetherIsCapped)
{
    // Three chunks of 8 MB of text each: the first two fill the file's 16 MB,
    // the third keeps no text.
    Bytes text = {'k', 0, 0};
    const Bytes packed = Zlib(Bytes(MaxInflatedText, 'a'), 9);
    text.insert(text.end(), packed.begin(), packed.end());
    Builder b;
    Rgb4x3(b).Chunk("zTXt", text).Chunk("zTXt", text).Chunk("zTXt", text).End();
    auto png = Load(b.Out);
    std::vector<std::size_t> sizes;
    for (const std::string& text : CompressedTexts(*png))
        sizes.push_back(text.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{8u << 20, 8u << 20, 0u}));
    // A new load starts counting again.
    png->LoadFromStream(*std::make_unique<TMemoryStream>(b.Out));
    EXPECT_EQ(png->Chunks.ItemFromClass<TChunkzTXt>()->Text.size(), 8u << 20);
}

TEST(PngBounded, CompressedTextRefusedForItsSizeCountsTowardsTheCap)
{
    // Two chunks each 1000 bytes over the 8 MB cap keep no text, but their
    // 16 MB of inflating use up the file's share: the small text after them
    // is not inflated either.
    Bytes over = {'k', 0, 0};
    const Bytes packed = Zlib(Bytes(MaxInflatedText + 1000, 'a'), 9);
    over.insert(over.end(), packed.begin(), packed.end());
    Bytes small = {'s', 0, 0};
    const Bytes hello = Zlib(Bytes{'h', 'e', 'l', 'l', 'o'});
    small.insert(small.end(), hello.begin(), hello.end());
    Builder b;
    Rgb4x3(b).Chunk("zTXt", over).Chunk("zTXt", over).Chunk("zTXt", small).End();
    EXPECT_EQ(CompressedTexts(*Load(b.Out)), (std::vector<std::string>{"", "", ""}));
    // Alone, the small text is read.
    Builder alone;
    auto one = Load(Rgb4x3(alone).Chunk("zTXt", small).End().Out);
    EXPECT_EQ(one->Chunks.ItemFromClass<TChunkzTXt>()->Text, "hello");
}

TEST(PngObject, NewPictureIsEmptyAndCannotBeResized)
{
    TPngPicture png;
    EXPECT_TRUE(png.Empty());
    EXPECT_EQ(png.Width(), 0);
    EXPECT_EQ(png.Height(), 0);
    EXPECT_THROW(png.SetWidth(10), EPngError);
    EXPECT_THROW(png.SetHeight(10), EPngError);
    EXPECT_THROW(png.GetPalette(), EPNGHeaderNotPresent);
    EXPECT_THROW(png.Transparent(), EPNGHeaderNotPresent);
    EXPECT_EQ(png.CompressionLevel, 7);
    EXPECT_EQ(png.RowFilters, pfSub);
    EXPECT_EQ(png.IdatBufferSize(), 65535u);
    png.SetIdatBufferSize(100);
    EXPECT_EQ(png.IdatBufferSize(), 65535u);
    png.SetIdatBufferSize(70000);
    EXPECT_EQ(png.IdatBufferSize(), 70000u);
}

TEST(PngObject, CrcIsThePngOne)
{
    // The CRC of an IEND chunk, as every PNG file ends.
    EXPECT_EQ(ChunkCrc(MakeChunkType("IEND"), nullptr, 0), 0xAE426082u);
    const char text[] = "123456789";
    EXPECT_EQ(~UpdateCrc(0xFFFFFFFFu, text, 9), 0xCBF43926u);
}

TEST(PngObject, RegistryHasTheStandardChunksInOrder)
{
    RegisterPngFormat(); // as the programs do at start-up
    const auto& classes = ChunkClasses();
    std::vector<std::string> types;
    for (TChunkClass c : classes)
        types.push_back(ClassChunkType(c));
    std::vector<std::string> expected = {"IEND", "IHDR", "IDAT", "PLTE", "gAMA", "tRNS", "tIME", "tEXt", "zTXt"};
    ASSERT_GE(types.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + 9), expected);
    EXPECT_EQ(ClassChunkType(TChunk::Class()), "");
    TPngPicture png;
    EXPECT_EQ(CreateChunkForType(png, MakeChunkType("zTXt"))->ChunkClass(), TChunkzTXt::Class());
    EXPECT_EQ(CreateChunkForType(png, MakeChunkType("ztxt"))->ChunkClass(), TChunk::Class());
    EXPECT_EQ(PaethPredict(7, 7, 7), 7);
    EXPECT_EQ(PaethPredict(20, 20, 5), 20); // pa = pb: left wins the tie
    EXPECT_EQ(PaethPredict(10, 20, 15), 15);
    EXPECT_EQ(PaethPredict(10, 30, 5), 30);
    EXPECT_EQ(PaethPredict(0, 3, 1), 3); // pb = pc < pa: above wins the tie
    EXPECT_EQ(PaethPredict(200, 3, 255), 3);
}

TEST(PngObject, ItemFromClassFindsDerivedClasses)
{
    Builder b;
    Rgb4x3(b).Chunk("zTXt", {'k', 0, 0, 0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}).End();
    auto png = Load(b.Out);
    EXPECT_NE(png->Chunks.ItemFromClass<TChunktEXt>(), nullptr);
    EXPECT_EQ(png->Chunks.Item(99), nullptr);
}

TEST(PngChunks, UnknownAncillaryChunksAndTimeRoundTripByteForByte)
{
    const Bytes unknown = {'h', 'e', 'l', 'l', 'o', 0, 0xFF, 0x80};
    const Bytes time = {0x07, 0xEA, 12, 9, 4, 52, 46};
    Builder b;
    b.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("prVt", unknown).Chunk("tIME", time).Chunk("cHRM", Bytes(32, 1));
    b.Chunk("IDAT", Zlib(Rows(3, 12))).Chunk("zzZz", {}).End();
    auto png = Load(b.Out);
    auto* t = png->Chunks.ItemFromClass<TChunktIME>();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Year, 2026);
    EXPECT_EQ(t->Second, 46);
    const auto saved = ParseChunks(Save(*png));
    std::vector<std::string> order;
    for (const auto& c : saved)
        order.push_back(c.Type);
    EXPECT_EQ(order, (std::vector<std::string>{"IHDR", "prVt", "tIME", "IDAT", "zzZz", "IEND"}));
    EXPECT_EQ(saved[1].Data, unknown);
    EXPECT_EQ(saved[2].Data, time);
    for (const auto& c : saved)
        EXPECT_EQ(c.StoredCrc, Crc(c.Type, c.Data)) << c.Type;
}

TEST(PngChunks, TextChunks)
{
    std::string longText(300, 'x');
    for (std::size_t i = 0; i < longText.size(); ++i)
        longText[i] = static_cast<char>('a' + i % 26);
    Bytes ztxt = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const Bytes packed = Zlib(Bytes(longText.begin(), longText.end()));
    ztxt.insert(ztxt.end(), packed.begin(), packed.end());
    Bytes method1 = ztxt;
    method1[8] = 1;
    Builder b;
    Rgb4x3(b).Chunk("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'H', 'i'}).Chunk("zTXt", ztxt).Chunk("zTXt", method1);
    auto png = Load(b.End().Out);
    std::vector<TChunktEXt*> texts;
    for (std::size_t i = 0; i < png->Chunks.Count(); ++i)
        if (auto* t = dynamic_cast<TChunktEXt*>(png->Chunks.Item(i)))
            texts.push_back(t);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0]->Keyword, "Title");
    EXPECT_EQ(texts[0]->Text, "Hi");
    EXPECT_EQ(texts[1]->Keyword, "Comment");
    EXPECT_EQ(texts[1]->Text, longText);
    EXPECT_EQ(texts[2]->Text, "");

    // A long compressed text survives a save and a load; an empty one is
    // written as one space.
    texts[2]->Text.clear();
    auto again = Load(Save(*png));
    std::vector<TChunktEXt*> back;
    for (std::size_t i = 0; i < again->Chunks.Count(); ++i)
        if (auto* t = dynamic_cast<TChunktEXt*>(again->Chunks.Item(i)))
            back.push_back(t);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1]->Text, longText);
    EXPECT_EQ(back[2]->Text, " ");
}

TEST(PngChunks, CompressedTextStaysInsideItsChunk)
{
    struct Case {
        const char* Name;
        Bytes Data;
    };
    Bytes bomb = {'B', 0, 0};
    const Bytes zeros = Zlib(Bytes(MaxInflatedText + 1000, 0), 9);
    bomb.insert(bomb.end(), zeros.begin(), zeros.end());
    Bytes truncated = {'T', 0, 0};
    const Bytes half = Zlib(Bytes(5000, 'q'));
    truncated.insert(truncated.end(), half.begin(), half.begin() + static_cast<std::ptrdiff_t>(half.size() / 2));
    const std::vector<Case> cases = {
        {"no zero byte", {'a', 'b', 'c', 'd', 'e'}},
        {"zero as the last byte", {'a', 'b', 'c', 0}},
        {"method byte last", {'a', 'b', 0, 0}},
        {"preset dictionary", {'k', 0, 0, 0x78, 0xBB, 0, 0, 0, 1, 3, 0}},
        {"inflates past the cap", bomb},
        {"cut in the middle", truncated},
        {"garbage", {'k', 0, 0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Builder b;
        auto png = Load(Rgb4x3(b).Chunk("zTXt", c.Data).End().Out);
        auto* z = png->Chunks.ItemFromClass<TChunkzTXt>();
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->Text, "");
    }
}

TEST(PngChunks, PaletteAndTransparencyLengths)
{
    Builder b;
    b.Chunk("IHDR", Ihdr(2, 1, 8, 0)).Chunk("PLTE", {}).Chunk("IDAT", Zlib(Rows(1, 2))).End();
    auto png = Load(b.Out);
    auto* plte = png->Chunks.ItemFromClass<TChunkPLTE>();
    ASSERT_NE(plte, nullptr);
    EXPECT_EQ(plte->EntryCount, 0u);
    EXPECT_THROW(plte->GetEntry(0), EPngError);
}

TEST(PngChunks, GammaTables)
{
    auto loadWithGamma = [](const Bytes& gama) {
        Builder b;
        return Load(b.Chunk("IHDR", Ihdr(4, 3, 8, 2)).Chunk("gAMA", gama).Chunk("IDAT", Zlib(Rows(3, 12))).End().Out);
    };
    // 45455 is 100000 / 2.2: no change.
    auto identity = loadWithGamma({0, 0, 0xB1, 0x8F});
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(identity->GammaTable[static_cast<std::size_t>(i)], i);
    // Gamma 1.0: 255 (i / 255) ^ (1 / 2.2).
    auto linear = loadWithGamma({0, 1, 0x86, 0xA0});
    EXPECT_EQ(linear->GammaTable[0], 0);
    EXPECT_EQ(linear->GammaTable[255], 255);
    EXPECT_EQ(linear->GammaTable[64], 136);
    EXPECT_EQ(linear->GammaTable[128], 186);
    EXPECT_EQ(linear->InverseGammaTable[186], 128);
    // The pixels go through the table: 90, 91 and 92 show as 255 (i / 255)
    // ^ (1 / 2.2) rounded, worked out by hand.
    EXPECT_EQ(linear->PixelColor(0, 0), RGB(159, 160, 160));
    // Wrong lengths carry no value; values past 2^31 are read unsigned.
    for (const Bytes& odd : {Bytes{0, 1}, Bytes{0, 0, 0, 1, 0}, Bytes{}}) {
        auto png = loadWithGamma(odd);
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(png->GammaTable[static_cast<std::size_t>(i)], i);
    }
    // A copy of such a picture saves what the picture itself saves, not a
    // gamma that would darken the copy to black.
    for (const Bytes& odd : {Bytes{0, 1}, Bytes{0, 0, 0, 0}}) {
        auto png = loadWithGamma(odd);
        TPngPicture copy;
        copy.Assign(*png);
        const Bytes saved = Save(copy);
        EXPECT_EQ(saved, Save(*png));
        EXPECT_EQ(Load(saved)->PixelColor(0, 0), RGB(0x5A, 0x5B, 0x5C));
    }
    for (const Bytes& big : {Bytes{0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0x80, 0, 0, 0}, Bytes{0, 0, 0, 1}}) {
        auto png = loadWithGamma(big);
        EXPECT_EQ(png->GammaTable[0], 0);
        TBitmap target(4, 3, pf24bit);
        target.Canvas().Draw(0, 0, *png);
    }
}

TEST(PngChunks, TwoBitImagesAreWrittenAtFourBits)
{
    Builder b;
    b.Chunk("IHDR", Ihdr(4, 1, 2, 0)).Chunk("IDAT", Zlib({0, 0x1B})).End(); // 0, 1, 2, 3
    auto png = Load(b.Out);
    const Bytes saved = Save(*png);
    const auto chunks = ParseChunks(saved);
    EXPECT_EQ(chunks[0].Data[8], 4);
    auto again = Load(saved);
    for (int x = 0; x < 4; ++x) {
        const int v = 85 * x;
        EXPECT_EQ(png->PixelColor(x, 0), RGB(v, v, v));
        EXPECT_EQ(again->PixelColor(x, 0), RGB(v, v, v));
    }
}

TEST(PngChunks, TwoBitGreyKeyFollowsTheFourBitSamples)
{
    // Levels 0, 1, 2, 3 with level 3 (white) transparent; saved at 4 bits
    // the key must name the sample white has there, 15.
    Builder b;
    b.Chunk("IHDR", Ihdr(4, 1, 2, 0)).Chunk("tRNS", {0, 3}).Chunk("IDAT", Zlib({0, 0x1B})).End();
    auto png = Load(b.Out);
    const Bytes saved = Save(*png);
    const auto chunks = ParseChunks(saved);
    ASSERT_EQ(chunks[1].Type, "tRNS");
    EXPECT_EQ(chunks[1].Data, (Bytes{0, 15}));
    const TColor bg = RGB(1, 2, 3);
    auto again = Load(saved);
    for (TPngPicture* p : {png.get(), again.get()}) {
        const auto image = DrawOn(*p, bg);
        for (int x = 0; x < 4; ++x) {
            const std::uint8_t* shown = image.At(x, 0);
            const TColor expected = x == 3 ? bg : RGB(85 * x, 85 * x, 85 * x);
            EXPECT_EQ(RGB(shown[0], shown[1], shown[2]), expected) << x;
        }
    }
    // A key no 2-bit sample has still matches nothing at 4 bits.
    Builder c;
    c.Chunk("IHDR", Ihdr(4, 1, 2, 0)).Chunk("tRNS", {0, 4}).Chunk("IDAT", Zlib({0, 0x1B})).End();
    auto none = Load(Save(*Load(c.Out)));
    EXPECT_EQ(none->TransparencyMode(), 0);

    // netpbm reads our file the same way.
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("key.png"), saved);
    ASSERT_EQ(testutil::Run(testutil::Tool("pngtopnm") + " -alpha " + testutil::Quote(dir.File("key.png")) + " > " +
                            testutil::Quote(dir.File("alpha.pgm")))
                  .ExitCode,
              0);
    Rgba alpha;
    ASSERT_TRUE(ReadPnm(dir.File("alpha.pgm"), alpha));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(alpha.At(x, 0)[0], x == 3 ? 0 : 255) << x;
}

TEST(PngChunks, SavedColourKeysNameTheSavedSamples)
{
    // The image data is written from the bitmap: 16-bit samples keep their
    // high byte, colours come back through the inverse gamma table. The key
    // must name what the transparent pixels are written with.
    const Bytes gamma1 = {0, 1, 0x86, 0xA0};
    auto oneRow = [](int w, int depth, int colorType, const Bytes& samples, const Bytes& trns, const Bytes& gama) {
        Bytes raw = {0};
        raw.insert(raw.end(), samples.begin(), samples.end());
        Builder b;
        b.Chunk("IHDR", Ihdr(w, 1, depth, colorType));
        if (!gama.empty())
            b.Chunk("gAMA", gama);
        return b.Chunk("tRNS", trns).Chunk("IDAT", Zlib(raw)).End().Out;
    };
    // A sample the gamma table shares with its neighbour is written as the
    // last sample of the pair: at gamma 1.0, 254 and 255 both show as 255
    // (255 (254 / 255) ^ (1 / 2.2) = 254.54, worked out by hand).
    const std::uint8_t s = 254, written = 255;
    struct Case {
        const char* Name;
        Bytes File;
        Bytes SavedKey;
    };
    const std::vector<Case> cases = {
        {"RGB 16", oneRow(2, 16, 2, {1, 0, 2, 0, 3, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
                          {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {}),
         {0x12, 0, 0x56, 0, 0x9A, 0}},
        {"grey 16", oneRow(2, 16, 0, {1, 0, 0xAB, 0xCD}, {0xAB, 0xCD}, {}), {0xAB, 0}},
        {"RGB 8 gamma", oneRow(2, 8, 2, {1, 2, 3, s, s, s}, {0, s, 0, s, 0, s}, gamma1),
         {0, written, 0, written, 0, written}},
        {"RGB 8", oneRow(2, 8, 2, {1, 2, 3, 4, 5, 6}, {0, 4, 0, 5, 0, 6}, {}), {0, 4, 0, 5, 0, 6}},
        {"grey 8 gamma", oneRow(2, 8, 0, {1, s}, {0, s}, gamma1), {0, s}},
        {"RGB 8 key out of reach", oneRow(1, 8, 2, {1, 1, 1}, {1, 1, 0, 1, 0, 1}, {}), {1, 1, 0, 1, 0, 1}},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto png = Load(c.File);
        const Bytes saved = Save(*png);
        const auto chunks = ParseChunks(saved);
        const auto trns = std::find_if(chunks.begin(), chunks.end(), [](const ChunkInfo& i) { return i.Type == "tRNS"; });
        ASSERT_NE(trns, chunks.end());
        EXPECT_EQ(trns->Data, c.SavedKey);
        // Saving again changes nothing, and the picture still shows the same.
        EXPECT_EQ(Save(*png), saved);
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*Load(saved), clRed), DrawOn(*Load(c.File), clRed)), 0);
        if (c.SavedKey.size() < 6)
            continue;
        // An outside decoder finds the transparent pixel of our file.
        const std::string path = dir.File("key.png"), decoded = dir.File("key.pam");
        testutil::WriteFile(path, saved);
        ASSERT_EQ(testutil::Run(ImageMagick() + " " + testutil::Quote(path) + " -depth 16 " +
                                testutil::Quote("pam:" + decoded))
                      .ExitCode,
                  0);
        Rgba image;
        ASSERT_TRUE(ReadPnm(decoded, image));
        EXPECT_EQ(image.At(0, 0)[3], 255);
        if (image.Width > 1) {
            EXPECT_EQ(image.At(1, 0)[3], 0);
        }
    }
}

// ---- Image data

TEST(PngImageData, SplitAndEmptyChunksDecodeTheSame)
{
    Builder b;
    Bytes raw;
    for (int y = 0; y < 9; ++y) {
        raw.push_back(static_cast<std::uint8_t>(y % 5));
        for (int i = 0; i < 27; ++i)
            raw.push_back(static_cast<std::uint8_t>(y * 31 + i * 7));
    }
    const Bytes file = b.Chunk("IHDR", Ihdr(9, 9, 8, 2)).Chunk("IDAT", Zlib(raw)).End().Out;
    auto whole = Load(file);
    const auto expected = DrawOn(*whole, clWhite);
    for (bool empties : {false, true}) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
            const Bytes split = Rechunk(file, piece, empties);
            auto png = Load(split);
            EXPECT_EQ(testutil::MaxDifference(DrawOn(*png, clWhite), expected), 0) << piece << empties;
            // Every chunk's CRC is checked.
            // Flip the CRC of the third IDAT chunk.
            Bytes bad = split;
            std::size_t p = 8, seen = 0;
            while (p < bad.size()) {
                const std::uint32_t len = GetBe32(&bad[p]);
                if (std::string(reinterpret_cast<const char*>(&bad[p + 4]), 4) == "IDAT" && len > 0 && ++seen == 3) {
                    bad[p + 8 + len] ^= 0x40;
                    break;
                }
                p += 12 + len;
            }
            EXPECT_EQ(LoadError(bad), "EPngInvalidCRC") << piece;
        }
    }
    // An empty IDAT first works too.
    Builder c;
    c.Chunk("IHDR", Ihdr(9, 9, 8, 2)).Chunk("IDAT", {}).Chunk("IDAT", Zlib(raw)).End();
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*Load(c.Out), clWhite), expected), 0);
}

namespace {

// The Paeth predictor as the PNG standard writes it: the nearest of left,
// above and upper left to left + above - upper left, ties going to left,
// then above.
int ReferencePaeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    if (pb <= pc)
        return b;
    return c;
}

} // namespace

TEST(PngImageData, FiltersAndUnknownFilterTypes)
{
    // Rows filtered by hand with each type (and 5 and 200, taken as None),
    // against the plain rows.
    const int w = 5, bpp = 3, n = w * bpp;
    std::vector<Bytes> plain(8, Bytes(n));
    for (int y = 0; y < 8; ++y)
        for (int i = 0; i < n; ++i)
            plain[y][i] = static_cast<std::uint8_t>((y * 53 + i * 29 + (i * i) % 7) & 0xFF);
    // The Paeth rows (4 and 7) meet a tie of above and upper left, which
    // above must win: left 0, above 3, upper left 1.
    plain[3][0] = 1;
    plain[3][3] = 3;
    plain[4][0] = 0;
    plain[6][1] = 1;
    plain[6][4] = 3;
    plain[7][1] = 0;
    int aboveWins = 0;
    const int types[8] = {0, 1, 2, 3, 4, 5, 200, 4};
    Bytes raw;
    for (int y = 0; y < 8; ++y) {
        raw.push_back(static_cast<std::uint8_t>(types[y]));
        for (int i = 0; i < n; ++i) {
            const int a = i >= bpp ? plain[y][i - bpp] : 0;
            const int b = y > 0 ? plain[y - 1][i] : 0;
            const int c = (y > 0 && i >= bpp) ? plain[y - 1][i - bpp] : 0;
            int pred = 0;
            switch (types[y]) {
            case 1:
                pred = a;
                break;
            case 2:
                pred = b;
                break;
            case 3:
                pred = (a + b) / 2;
                break;
            case 4: {
                pred = ReferencePaeth(a, b, c);
                const int p = a + b - c;
                aboveWins += std::abs(p - b) == std::abs(p - c) && std::abs(p - a) > std::abs(p - b);
                break;
            }
            default:
                break;
            }
            raw.push_back(static_cast<std::uint8_t>(plain[y][i] - pred));
        }
    }
    Builder b;
    ASSERT_GT(aboveWins, 0);
    auto png = Load(b.Chunk("IHDR", Ihdr(w, 8, 8, 2)).Chunk("IDAT", Zlib(raw)).End().Out);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(png->PixelColor(x, y), RGB(plain[y][3 * x], plain[y][3 * x + 1], plain[y][3 * x + 2]))
                << x << "," << y;
}

TEST(PngImageData, TwoBitGreyLevelsPlainAndInterlaced)
{
    // Pixel x has level x mod 4 on a 9x9 image.
    auto make = [](bool interlaced) {
        Bytes raw;
        auto row = [&](int width, int first, int step) {
            raw.push_back(0);
            Bytes bytes((static_cast<std::size_t>(width) * 2 + 7) / 8, 0);
            for (int i = 0; i < width; ++i) {
                const int x = first + i * step;
                bytes[static_cast<std::size_t>(i) / 4] |= static_cast<std::uint8_t>((x % 4) << (6 - 2 * (i % 4)));
            }
            raw.insert(raw.end(), bytes.begin(), bytes.end());
        };
        if (!interlaced) {
            for (int y = 0; y < 9; ++y)
                row(9, 0, 1);
        } else {
            const int fr[7] = {0, 0, 4, 0, 2, 0, 1}, fc[7] = {0, 4, 0, 2, 0, 1, 0};
            const int rs[7] = {8, 8, 8, 4, 4, 2, 2}, cs[7] = {8, 8, 4, 4, 2, 2, 1};
            for (int p = 0; p < 7; ++p) {
                const int pw = (9 + cs[p] - fc[p] - 1) / cs[p];
                if (pw == 0)
                    continue;
                for (int y = fr[p]; y < 9; y += rs[p])
                    row(pw, fc[p], cs[p]);
            }
        }
        Builder b;
        return b.Chunk("IHDR", Ihdr(9, 9, 2, 0, 0, 0, interlaced ? 1 : 0)).Chunk("IDAT", Zlib(raw)).End().Out;
    };
    for (bool interlaced : {false, true}) {
        auto png = Load(make(interlaced));
        const auto image = DrawOn(*png, clRed);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x)
                EXPECT_EQ(image.At(x, y)[0], 85 * (x % 4)) << interlaced << " " << x << "," << y;
    }
}

// ---- Encoding

namespace {

// The filter-type byte of each row of a saved non-interlaced image.
std::vector<int> RowFilterTypes(const Bytes& file)
{
    const auto chunks = ParseChunks(file);
    const std::uint32_t w = GetBe32(chunks[0].Data.data()), h = GetBe32(chunks[0].Data.data() + 4);
    const std::size_t rowSize = RowByteCount(w, chunks[0].Data[9], chunks[0].Data[8]);
    const Bytes raw = Inflate(JoinIdat(file));
    std::vector<int> types;
    for (std::uint32_t y = 0; y < h && (rowSize + 1) * y < raw.size(); ++y)
        types.push_back(raw[(rowSize + 1) * y]);
    return types;
}

TBitmap NoisyBitmap(int w, int h, unsigned seed)
{
    TBitmap bmp(w, h, pf24bit);
    unsigned s = seed;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = bmp.ScanLine(y);
        for (int i = 0; i < 3 * w; ++i) {
            s = s * 1103515245u + 12345u;
            row[i] = static_cast<std::uint8_t>((s >> 16) & 0xFF);
        }
    }
    return bmp;
}

} // namespace

TEST(PngEncoding, EditorSaveRoad)
{
    TBitmap bmp = NoisyBitmap(37, 23, 7);
    TPngPicture png;
    png.Assign(bmp);
    png.CompressionLevel = 9;
    const Bytes file = Save(png);
    const auto chunks = ParseChunks(file);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].Type, "IHDR");
    EXPECT_EQ(chunks[0].Data, Ihdr(37, 23, 8, 2));
    EXPECT_EQ(chunks[1].Type, "IDAT");
    EXPECT_EQ(chunks[2].Type, "IEND");
    EXPECT_EQ(RowFilterTypes(file), std::vector<int>(23, 1));
    auto back = Load(file);
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*back, clWhite), testutil::FromBitmap(bmp)), 0);
}

TEST(PngEncoding, LargeDataIsSplitIntoFullIdatChunks)
{
    TBitmap bmp = NoisyBitmap(200, 200, 3); // about 120 KB that does not compress
    TPngPicture png;
    png.Assign(bmp);
    const auto chunks = ParseChunks(Save(png));
    std::vector<std::size_t> sizes;
    for (const auto& c : chunks)
        if (c.Type == "IDAT")
            sizes.push_back(c.Data.size());
    ASSERT_GE(sizes.size(), 2u);
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], 65535u);
    EXPECT_LT(sizes.back(), 65535u);
    EXPECT_GT(sizes.back(), 0u);

    png.SetIdatBufferSize(100000);
    const auto bigger = ParseChunks(Save(png));
    EXPECT_EQ(bigger[1].Data.size(), 100000u);
}

TEST(PngEncoding, FilterChoice)
{
    // Uniform rows: Up counts RowSize - 2 equal bytes, Sub one fewer.
    TBitmap bmp(6, 3, pf24bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            bmp.SetPixelColor(x, y, RGB(10 + x, 20 + 2 * x, 30 + 3 * x));
    TPngPicture png;
    png.Assign(bmp);
    png.RowFilters = pfSub | pfUp;
    auto types = RowFilterTypes(Save(png));
    EXPECT_EQ(types[1], 2);
    EXPECT_EQ(types[2], 2);

    // No candidate scores: None, although it is not allowed.
    TBitmap noisy = NoisyBitmap(2, 4, 99); // rows of 6 bytes
    TPngPicture small;
    small.Assign(noisy);
    small.RowFilters = pfUp | pfPaeth;
    TBitmap one(1, 3, pf24bit); // rows of 3 bytes: every score is 0 when nothing repeats
    one.SetPixelColor(0, 0, RGB(1, 50, 200));
    one.SetPixelColor(0, 1, RGB(90, 3, 7));
    one.SetPixelColor(0, 2, RGB(33, 140, 66));
    TPngPicture tiny;
    tiny.Assign(one);
    tiny.RowFilters = pfUp | pfPaeth;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{0, 0, 0}));
    tiny.RowFilters = pfPaeth;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{4, 4, 4}));
    tiny.RowFilters = 0;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{0, 0, 0}));
    // Types 5 to 7 are members of the set too: Paeth is then scored like
    // any other candidate, and scores nothing here.
    tiny.RowFilters = pfPaeth | 0x20;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{0, 0, 0}));
    tiny.RowFilters = pfSub | 0x80;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{0, 0, 0}));
    tiny.RowFilters = 0x40;
    EXPECT_EQ(RowFilterTypes(Save(tiny)), (std::vector<int>{0, 0, 0}));

    // Every filter set gives the same pixels back.
    for (TFilterSet set : {TFilterSet(0x1F), TFilterSet(pfAverage), TFilterSet(pfPaeth | pfSub), TFilterSet(pfNone)}) {
        small.RowFilters = set;
        auto back = Load(Save(small));
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*back, clWhite), testutil::FromBitmap(noisy)), 0) << int(set);
    }
}

TEST(PngEncoding, CompressionLevelIsClamped)
{
    TBitmap bmp = NoisyBitmap(40, 40, 5);
    TPngPicture png;
    png.Assign(bmp);
    png.CompressionLevel = 9;
    const Bytes nine = Save(png);
    png.CompressionLevel = 200;
    const auto start = std::chrono::steady_clock::now();
    const Bytes clamped = Save(png);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(clamped, nine);
    png.CompressionLevel = 0;
    auto back = Load(Save(png));
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*back, clWhite), testutil::FromBitmap(bmp)), 0);
}

TEST(PngEncoding, SavingGoesThroughAtomicWriting)
{
    testutil::TempDir dir;
    const std::string path = dir.File("keep.png");
    TPngPicture good;
    good.Assign(NoisyBitmap(5, 5, 1));
    good.SaveToFile(path);
    const Bytes before = testutil::ReadFile(path);
    ASSERT_FALSE(before.empty());

    // A save that fails half way leaves the old file as it was.
    TPngPicture bad;
    bad.Assign(NoisyBitmap(5, 5, 2));
    bad.InterlaceMode = 3;
    EXPECT_THROW(bad.SaveToFile(path), EPNGUnknownInterlace);
    EXPECT_EQ(testutil::ReadFile(path), before);
    TPngPicture empty;
    empty.Assign(TBitmap());
    EXPECT_THROW(empty.SaveToFile(path), EInvalidGraphicOperation);
    EXPECT_EQ(testutil::ReadFile(path), before);

    TPngPicture loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.Width(), 5);
}

TEST(PngEncoding, InterlacedSixteenBitRgbaWithGammaSavesTheSameSamples)
{
    // An RGBA 16-bit image, plain and interlaced, with gAMA 1.0.
    const int w = 11, h = 7;
    std::vector<Bytes> rows(h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                const int v = (x * 37 + y * 71 + c * 101) & 0xFF;
                rows[y].push_back(static_cast<std::uint8_t>(v));
                rows[y].push_back(static_cast<std::uint8_t>(v ^ 0x5A));
            }
    auto build = [&](bool interlaced) {
        Bytes raw;
        if (!interlaced) {
            for (int y = 0; y < h; ++y) {
                raw.push_back(0);
                raw.insert(raw.end(), rows[y].begin(), rows[y].end());
            }
        } else {
            const int fr[7] = {0, 0, 4, 0, 2, 0, 1}, fc[7] = {0, 4, 0, 2, 0, 1, 0};
            const int rs[7] = {8, 8, 8, 4, 4, 2, 2}, cs[7] = {8, 8, 4, 4, 2, 2, 1};
            for (int p = 0; p < 7; ++p) {
                const int pw = (w + cs[p] - fc[p] - 1) / cs[p];
                if (pw == 0)
                    continue;
                for (int y = fr[p]; y < h; y += rs[p]) {
                    raw.push_back(0);
                    for (int x = fc[p]; x < w; x += cs[p])
                        raw.insert(raw.end(), rows[y].begin() + x * 8, rows[y].begin() + x * 8 + 8);
                }
            }
        }
        Builder b;
        b.Chunk("IHDR", Ihdr(w, h, 16, 6, 0, 0, interlaced ? 1 : 0)).Chunk("gAMA", {0, 1, 0x86, 0xA0});
        return b.Chunk("IDAT", Zlib(raw)).End().Out;
    };
    auto plain = Load(build(false));
    auto interlaced = Load(build(true));
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*plain, clBlack), DrawOn(*interlaced, clBlack)), 0);
    auto plainBack = Load(Save(*plain));
    auto interlacedBack = Load(Save(*interlaced));
    EXPECT_EQ(ParseChunks(Save(*interlaced))[0].Data[12], 1);
    const auto reference = DrawOn(*plain, clBlack);
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*plainBack, clBlack), reference), 0);
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*interlacedBack, clBlack), reference), 0);
    // Alpha survives exactly too.
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*interlacedBack, clWhite), DrawOn(*plain, clWhite)), 0);

    // A copy made with Assign saves the same samples as the source.
    TPngPicture copy;
    copy.Assign(*plain);
    EXPECT_EQ(JoinIdat(Save(copy)), JoinIdat(Save(*plain)));
    auto copyBack = Load(Save(copy));
    EXPECT_EQ(testutil::MaxDifference(DrawOn(*copyBack, clBlack), reference), 0);
}
