// Two GIF pictures converted, saved and loaded on two threads at once give
// the bytes each gives alone. The test also runs in a ThreadSanitizer build
// of the codec (gif_tsan_tests), which reports any shared state they touch.

#include "GifPicture.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using Bytes = std::vector<std::uint8_t>;

TBitmap Photo()
{
    TBitmap photo(90, 70, pf24bit);
    for (int y = 0; y < 70; ++y) {
        std::uint8_t* row = photo.ScanLine(y);
        for (int x = 0; x < 90; ++x) {
            row[x * 3] = static_cast<std::uint8_t>(x + y);
            row[x * 3 + 1] = static_cast<std::uint8_t>(y * 3);
            row[x * 3 + 2] = static_cast<std::uint8_t>(x * 3);
        }
    }
    return photo;
}

void Work(std::uint8_t encoding, std::uint8_t dither, Bytes& out)
{
    for (int round = 0; round < 3; ++round) {
        TBitmap photo = Photo();
        TGifPicture image;
        image.ReductionMethod = rdOctree;
        image.DitherMethod = dither;
        image.EncodingMethod = encoding;
        image.Assign(photo);
        // Extensions, so that loading looks them up in the registries.
        TGIFSubImage& frame = *image.Frames.Frame(0);
        auto comment = std::make_unique<TGIFCommentExtension>(&frame);
        comment->TextLines = {"deux fils"};
        frame.Extensions().Append(std::move(comment));
        auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
        loop->LoopCount = 2;
        frame.Extensions().Append(std::move(loop));
        TMemoryStream saved;
        image.SaveToStream(saved);
        saved.SetPosition(0);
        TGifPicture back;
        back.LoadFromStream(saved);
        TBitmap drawn;
        back.AssignTo(drawn);
        TMemoryStream again;
        back.SaveToStream(again);
        out = again.Data();
    }
}

} // namespace

TEST(GifThreads, TwoPicturesOnTwoThreads)
{
    Bytes lzwAlone, rleAlone, lzw, rle;
    Work(emLZW, dtFloydSteinberg, lzwAlone);
    Work(emRLE, dtStucki, rleAlone);
    std::thread a(Work, emLZW, dtFloydSteinberg, std::ref(lzw));
    std::thread b(Work, emRLE, dtStucki, std::ref(rle));
    a.join();
    b.join();
    ASSERT_FALSE(lzw.empty());
    EXPECT_NE(std::string(lzw.begin(), lzw.end()).find("deux fils"), std::string::npos);
    EXPECT_EQ(lzw, lzwAlone);
    EXPECT_EQ(rle, rleAlone);
}
