// The GIF image class: defaults, copies, saving faults, the clipboard, the
// registry and two pictures on two threads.

#include "Canvas.h"
#include "Formats.h"
#include "Icon.h"
#include "GifPicture.h"
#include "Picture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>


using namespace testutil;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture of one frame with a local table of count colours.
std::unique_ptr<TGifPicture> Indexed(int width, int height, int count)
{
    auto image = std::make_unique<TGifPicture>();
    auto frame = std::make_unique<TGIFSubImage>(image.get());
    for (int i = 0; i < count; ++i)
        frame->ColorMap().AppendColor(RGB(i * 16, 255 - i * 16, i));
    frame->PlaceFrame(0, 0, width, height);
    for (std::size_t i = 0; i < frame->PixelDataSize(); ++i)
        frame->PixelData()[i] = static_cast<std::uint8_t>(i % static_cast<std::size_t>(count));
    image->AddFrame(std::move(frame));
    return image;
}

// A stream that takes limit bytes and then no more.
class TFullStream : public TMemoryStream {
public:
    explicit TFullStream(std::size_t limit) : FLimit(limit) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::size_t n = std::min(count, FLimit - std::min(FLimit, static_cast<std::size_t>(Size())));
        return TMemoryStream::Write(buffer, n);
    }

private:
    std::size_t FLimit;
};

// Copies the picture to the clipboard: the bitmap into format, data and
// palette; answers the GIF stream placed beside it.
TClipboardData CopyWithGifStream(const TGifPicture& image, TClipboardFormat& format, TClipboardData& data,
                                 TPalette& palette)
{
    TClipboardData placed;
    SetGIFClipboardSink([&placed](TClipboardFormat f, const TClipboardData& d) {
        EXPECT_EQ(f, CF_GIF());
        placed = d;
        return true;
    });
    struct Reset {
        ~Reset() { SetGIFClipboardSink(nullptr); }
    } reset;
    image.SaveToClipboardFormat(format, data, palette);
    return placed;
}

} // namespace

TEST(GifPicture, DefaultsAndSettings)
{
    TGifPicture image;
    EXPECT_TRUE(image.GetEmpty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_TRUE(image.GetPalette().empty());
    EXPECT_EQ(image.PaintOptions, 0x060F);
    EXPECT_EQ(image.ReductionMethod, rdNetscape216);
    EXPECT_EQ(image.PaletteBits(), 8);
    EXPECT_EQ(image.DitherMethod, dtNearest);
    EXPECT_EQ(image.EncodingMethod, emLZW);
    EXPECT_EQ(image.PaintBackdropColor, clNone);
    TBitmap canvas(3, 3, pf24bit);
    image.Draw(canvas.Canvas(), Rect(0, 0, 3, 3));
    EXPECT_EQ(canvas.GetPixelColor(1, 1), clWhite);
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette palette;
    image.SaveToClipboardFormat(format, data, palette);
    EXPECT_TRUE(data.empty());

    for (int bad : {2, 9}) {
        try {
            image.SetPaletteBits(bad);
            ADD_FAILURE() << bad;
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message, "Invalid Bits Per Pixel value");
        }
    }
    image.SetPaletteBits(3);
    EXPECT_EQ(image.PaletteBits(), 3);
    image.SetPaletteBits(8);
    EXPECT_EQ(image.PaletteBits(), 8);

    // The logical screen cannot shrink below a frame.
    auto framed = Indexed(4, 3, 2);
    EXPECT_THROW(framed->SetWidth(3), GIFException);
    EXPECT_THROW(framed->SetHeight(2), GIFException);
    EXPECT_EQ(framed->Width(), 4);
    framed->SetWidth(9);
    EXPECT_EQ(framed->Width(), 9);
}

TEST(GifPicture, AssignCopiesFramesAndSomeSettings)
{
    auto source = Indexed(5, 4, 3);
    source->PaintOptions = 0x0001;
    source->ReductionMethod = rdOctree;
    source->DitherMethod = dtBurkes;
    source->PainterPriority = 1;
    source->PaintBackdropColor = clRed;
    source->EncodingMethod = emRLE;
    source->SetPaletteBits(4);
    TGifPicture copy;
    copy.WarningHandler = [](TPersistent&, int, const std::string&) {};
    copy.Assign(*source);
    ASSERT_EQ(copy.Frames.Count(), 1);
    EXPECT_EQ(copy.Width(), 5);
    EXPECT_EQ(copy.PaintOptions, 0x0001);
    EXPECT_EQ(copy.ReductionMethod, rdOctree);
    EXPECT_EQ(copy.DitherMethod, dtBurkes);
    EXPECT_EQ(copy.PainterPriority, 1);
    EXPECT_EQ(copy.PaintBackdropColor, clRed);
    EXPECT_EQ(copy.EncodingMethod, emLZW);
    EXPECT_EQ(copy.PaletteBits(), 8);
    EXPECT_FALSE(copy.WarningHandler);
    EXPECT_FALSE(copy.OnProgress);
    TGIFSubImage& a = *source->Frames.Frame(0);
    TGIFSubImage& b = *copy.Frames.Frame(0);
    EXPECT_TRUE(Bytes(a.PixelData(), a.PixelData() + a.PixelDataSize()) ==
                Bytes(b.PixelData(), b.PixelData() + b.PixelDataSize()));

    // To a bitmap: the first frame in its colours.
    TBitmap bitmap;
    copy.AssignTo(bitmap);
    ASSERT_EQ(bitmap.Width(), 5);
    ASSERT_EQ(bitmap.Height(), 4);
    EXPECT_EQ(bitmap.GetPixelColor(1, 0), RGB(16, 239, 1));

    // From a transparent bitmap: a graphic control extension names the new
    // entry, and the file says 89a.
    TBitmap holes(4, 2, pf24bit);
    holes.Canvas().Brush.Color = clBlue;
    holes.Canvas().FillRect(Rect(0, 0, 4, 2));
    holes.SetPixelColor(0, 1, clRed);
    holes.SetTransparent(true);
    TGifPicture transparent;
    transparent.ReductionMethod = rdNone;
    transparent.Assign(holes);
    TGIFSubImage& t = *transparent.Frames.Frame(0);
    ASSERT_GE(t.TransparentIndex(), 0);
    EXPECT_EQ(t.PixelAt(0, 1), t.TransparentIndex());
    EXPECT_NE(t.PixelAt(1, 1), t.TransparentIndex());
    TMemoryStream saved;
    transparent.SaveToStream(saved);
    EXPECT_EQ(std::string(saved.Data().begin(), saved.Data().begin() + 6), "GIF89a");

    // 24 bits without reduction and more than 256 colours.
    TBitmap many(300, 1, pf24bit);
    for (int x = 0; x < 300; ++x)
        many.SetPixelColor(x, 0, RGB(x & 255, x >> 8, 0));
    TGifPicture overflow;
    overflow.ReductionMethod = rdNone;
    try {
        overflow.Assign(many);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Color table overflow");
    }
}

TEST(GifPicture, SavingFaultsLeaveTheOldFile)
{
    TempDir dir;
    const std::string path = dir.File("keep.gif");
    WriteFile(path, Bytes{'o', 'l', 'd'});
    auto image = Indexed(3, 2, 2);
    image->Frames.Frame(0)->PixelData()[4] = 5;
    try {
        image->SaveToFile(path);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Color not in color table");
    }
    EXPECT_EQ(ReadFile(path), (Bytes{'o', 'l', 'd'}));

    // A stream that stops taking bytes is an error, whichever block it hits.
    image->Frames.Frame(0)->PixelData()[4] = 1;
    TMemoryStream whole;
    image->SaveToStream(whole);
    for (std::size_t limit = 0; limit < whole.Data().size(); ++limit) {
        TFullStream full(limit);
        EXPECT_THROW(image->SaveToStream(full), Exception) << limit;
    }
    TFullStream enough(whole.Data().size());
    image->SaveToStream(enough);
    EXPECT_EQ(enough.Data(), whole.Data());
}

TEST(GifPicture, ProgressAndWarnings)
{
    auto image = Indexed(8, 8, 4);
    std::vector<std::string> seen;
    image->OnProgress = [&](TGraphic&, TProgressStage stage, int percent, bool, const TRect&, const std::string& m) {
        seen.push_back(m + " " + std::to_string(static_cast<int>(stage)) + " " + std::to_string(percent));
    };
    TMemoryStream saved;
    image->SaveToStream(saved);
    EXPECT_EQ(seen, (std::vector<std::string>{"Saving... 0 0", "Saving... 1 100", "Saving... 2 100"}));
    seen.clear();
    saved.SetPosition(0);
    image->LoadFromStream(saved);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), "Loading... 0 0");
    EXPECT_EQ(seen.back(), "Loading... 2 100");
    seen.clear();
    TMemoryStream broken(Bytes{'G', 'I', 'F'});
    EXPECT_THROW(image->LoadFromStream(broken), GIFException);
    EXPECT_EQ(seen.back(), "Loading... 2 0");
}

TEST(GifPicture, ClipboardCarriesTheBitmapAndTheGifStream)
{
    auto image = Indexed(6, 5, 3);
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette palette;
    const TClipboardData placed = CopyWithGifStream(*image, format, data, palette);
    EXPECT_EQ(format, CF_BITMAP);
    EXPECT_FALSE(data.empty());
    ASSERT_GT(placed.size(), 6u);
    EXPECT_EQ(ClipboardFormatName(CF_GIF()), "GIF Image");

    TGifPicture back;
    back.LoadFromClipboardFormat(CF_GIF(), placed, {});
    EXPECT_EQ(back.Width(), 6);
    TGifPicture fromBitmap;
    fromBitmap.LoadFromClipboardFormat(format, data, palette);
    EXPECT_EQ(fromBitmap.Height(), 5);
    try {
        back.LoadFromClipboardFormat(12345, {1}, {});
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Format de Presse-papiers non supporté");
    }

    SetGIFClipboardSink([](TClipboardFormat, const TClipboardData&) { return false; });
    try {
        image->SaveToClipboardFormat(format, data, palette);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Failed to store GIF on clipboard");
    }
    SetGIFClipboardSink(nullptr);
}

TEST(GifPicture, AScreenLargerThanItsDataCouldFillComesBackFromTheClipboard)
{
    // One 2 x 1 frame on a 1024 x 1024 screen: a stream of a few dozen
    // bytes, which could fill at most 16384 pixels a byte at LZW's best
    // (fewer than 64 bytes: fewer than 1024 x 1024 pixels). What the
    // program writes, it opens again, screen and pixels alike.
    auto image = Indexed(2, 1, 2);
    image->SetWidth(1024);
    image->SetHeight(1024);
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette palette;
    const TClipboardData placed = CopyWithGifStream(*image, format, data, palette);
    ASSERT_GT(placed.size(), 13u);
    ASSERT_LT(placed.size(), 64u);
    // The screen as written: 1024 x 1024, little-endian.
    EXPECT_EQ(Bytes(placed.begin() + 6, placed.begin() + 10), (Bytes{0x00, 0x04, 0x00, 0x04}));

    TGifPicture back;
    ASSERT_NO_THROW(back.LoadFromClipboardFormat(CF_GIF(), placed, {}));
    EXPECT_EQ(back.Width(), 1024);
    EXPECT_EQ(back.Height(), 1024);
    ASSERT_EQ(back.Frames.Count(), 1);
    TGIFSubImage& frame = *back.Frames.Frame(0);
    ASSERT_EQ(frame.FrameWidth(), 2);
    ASSERT_EQ(frame.FrameHeight(), 1);
    ASSERT_EQ(frame.PixelDataSize(), 2u);
    EXPECT_EQ(frame.PixelData()[0], 0);
    EXPECT_EQ(frame.PixelData()[1], 1);
}

TEST(GifPicture, RegisteredLastSoItAnswersGif)
{
    RegisterPictureFormats();
    EXPECT_EQ(TPicture::FindGraphicClass("gif"), TGifPicture::Class());
    EXPECT_EQ(TPicture::FindGraphicClass(".GIF"), TGifPicture::Class());
    EXPECT_EQ(TPicture::FindClipboardClass(CF_GIF()), TGifPicture::Class());
    // Every other format comes before the GIF image class in the registry.
    const auto& formats = TPicture::FileFormats();
    ASSERT_FALSE(formats.empty());
    EXPECT_EQ(formats.back().GraphicClass, TGifPicture::Class());
    EXPECT_EQ(formats.back().Extension, "gif");
    EXPECT_EQ(formats.back().Description, "GIF Image");
    bool sawPng = false;
    for (const TFileFormat& f : formats)
        sawPng = sawPng || f.Extension == "png";
    EXPECT_TRUE(sawPng);

    // A file opened by name comes in as a TGifPicture.
    TempDir dir;
    auto image = Indexed(7, 3, 4);
    image->SaveToFile(dir.File("a.GIF"));
    TPicture picture;
    picture.LoadFromFile(dir.File("a.GIF"));
    ASSERT_NE(dynamic_cast<TGifPicture*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), 7);
}

TEST(GifFrame, PixelAccessSizesAndWhatIsWritten)
{
    auto image = Indexed(4, 3, 2);
    TGIFSubImage& f = *image->Frames.Frame(0);
    EXPECT_EQ(f.PixelAt(3, 2), (2 * 4 + 3) % 2);
    for (auto [x, y] : {std::pair{4, 0}, std::pair{-1, 0}, std::pair{0, 3}}) {
        try {
            f.PixelAt(x, y);
            ADD_FAILURE() << x << "," << y;
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message, "Invalid pixel coordinates");
        }
    }
    // A frame with a local table is written in plain row order.
    f.SetInterlaced(true);
    TMemoryStream plain;
    image->SaveToStream(plain);
    EXPECT_EQ(plain.Data()[13 + 9] & 0x40, 0);
    EXPECT_EQ(plain.Data()[13 + 9] & 0x87, 0x80);

    // A new width gives a new zeroed buffer.
    f.SetFrameWidth(2);
    EXPECT_EQ(f.PixelDataSize(), 6u);
    EXPECT_TRUE(std::all_of(f.PixelData(), f.PixelData() + 6, [](std::uint8_t p) { return p == 0; }));

    // An empty frame writes its extensions only.
    TGifPicture empty;
    auto frame = std::make_unique<TGIFSubImage>(&empty);
    auto comment = std::make_unique<TGIFCommentExtension>(frame.get());
    comment->TextLines = {"abc"};
    frame->Extensions().Append(std::move(comment));
    empty.AddFrame(std::move(frame));
    TMemoryStream saved;
    empty.SaveToStream(saved);
    const Bytes& bytes = saved.Data();
    ASSERT_EQ(bytes.size(), 13u + 7u + 1u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
    EXPECT_EQ((Bytes(bytes.begin() + 13, bytes.end())), (Bytes{0x21, 0xFE, 3, 'a', 'b', 'c', 0, 0x3B}));
}

TEST(GifFrame, TransparencyNeedsRoomInTheTable)
{
    // 16 colours in use and an unused transparent 17th: sorting drops it,
    // so the table is written with 16 entries, not 32.
    auto image = Indexed(8, 2, 16);
    TGIFSubImage& f = *image->Frames.Frame(0);
    f.ColorMap().AppendColor(clBlack);
    auto control = std::make_unique<TGIFGraphicControlExtension>(&f);
    TGIFGraphicControlExtension* raw = control.get();
    f.Extensions().Append(std::move(control));
    raw->SetTransparentIndex(16);
    raw->SetTransparentFlag(true);
    EXPECT_EQ(f.ColorMap().EntryCount(), 17);
    EXPECT_TRUE(f.ColorMap().SortByUsage());
    EXPECT_EQ(f.ColorMap().EntryCount(), 16);
    TMemoryStream saved;
    image->SaveToStream(saved);
    // Descriptor after the header and the 8-byte control extension.
    EXPECT_EQ(saved.Data()[13 + 8 + 9] & 0x07, 3);

    // A transparent bitmap whose 256 colours are all in use leaves no room.
    TBitmap full(16, 16, pf8bit);
    TPalette palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7, 0});
    full.SetPalette(palette);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            full.SetRawPixel(x, y, static_cast<std::uint32_t>(y * 16 + x));
    full.SetTransparent(true);
    TGifPicture gif;
    gif.Assign(full);
    EXPECT_EQ(gif.Frames.Frame(0)->TransparentIndex(), -1);
    EXPECT_EQ(gif.Frames.Frame(0)->ColorMap().EntryCount(), 256);
}

TEST(GifPicture, DrawShowsTheFirstFrameStretchedWithTheCanvasThroughItsHoles)
{
    auto image = Indexed(2, 2, 2);
    TGIFSubImage& f = *image->Frames.Frame(0);
    auto control = std::make_unique<TGIFGraphicControlExtension>(&f);
    TGIFGraphicControlExtension* raw = control.get();
    f.Extensions().Append(std::move(control));
    raw->SetTransparentIndex(1);
    raw->SetTransparentFlag(true);
    // A second frame covers everything, but only the first is drawn.
    image->AddFrame(*Indexed(2, 2, 1)->ComposedBitmap());

    TBitmap canvas(4, 4, pf24bit);
    canvas.Canvas().Brush.Color = clRed;
    canvas.Canvas().FillRect(Rect(0, 0, 4, 4));
    image->Draw(canvas.Canvas(), Rect(0, 0, 4, 4));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(canvas.GetPixelColor(0, y), RGB(0, 255, 0)) << y;
        EXPECT_EQ(canvas.GetPixelColor(1, y), RGB(0, 255, 0)) << y;
        EXPECT_EQ(canvas.GetPixelColor(2, y), clRed) << y;
        EXPECT_EQ(canvas.GetPixelColor(3, y), clRed) << y;
    }
    // The composed first frame lies on white.
    const auto rendered = image->ComposedBitmap();
    EXPECT_EQ(rendered->GetPixelColor(1, 1), clWhite);
    EXPECT_EQ(rendered->GetPixelColor(0, 1), RGB(0, 255, 0));
}

TEST(GifPicture, AnIconsUncoveredPixelsBecomeTransparent)
{
    TempDir dir;
    const std::string ico = dir.File("half.ico");
    const CommandResult made = testutil::Run(testutil::Tool("convert") + " -size 16x16 xc:none -fill red "
                                             "-draw 'rectangle 0,0 7,15' " + Quote(ico));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    TIcon icon;
    icon.LoadFromFile(ico);
    TGifPicture gif;
    gif.Assign(icon);
    ASSERT_EQ(gif.Frames.Count(), 1);
    TGIFSubImage& f = *gif.Frames.Frame(0);
    ASSERT_GE(f.TransparentIndex(), 0);
    EXPECT_NE(f.PixelAt(3, 5), f.TransparentIndex());
    EXPECT_EQ(f.PixelAt(12, 5), f.TransparentIndex());
    EXPECT_GT(f.ActiveColorMap().EntryCount(), 0);
}
