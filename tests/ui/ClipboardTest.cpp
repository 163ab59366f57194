// The desktop clipboard with GIF pictures: the "GIF Image" stream travels as
// image/gif too, beside the bitmap, and a GIF stream alone reads as a
// picture through the registered GIF class.

#include "Clipboard.h"
#include "GifPicture.h"
#include "QtTestApp.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TGifPicture> TwoColours()
{
    auto image = std::make_unique<TGifPicture>();
    auto frame = std::make_unique<TGIFSubImage>(image.get());
    frame->ColorMap().AppendColor(clRed);
    frame->ColorMap().AppendColor(clBlue);
    frame->PlaceFrame(0, 0, 4, 3);
    for (int x = 0; x < 4; ++x)
        frame->RowOf(2)[x] = 1;
    image->AddFrame(std::move(frame));
    return image;
}

} // namespace

TEST(QtClipboardGif, GifStreamGoesBesideTheBitmapAndReadsBack)
{
    testqt::InitOnce();
    testqt::App();
    const auto image = TwoColours();
    TMemoryStream stream;
    image->SaveToStream(stream);

    TQtClipboard clipboard;
    clipboard.SetBitmap(*image->ComposedBitmap());
    SetGIFClipboardSink(PlaceClipboardFormat);
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette palette;
    image->SaveToClipboardFormat(format, data, palette);
    SetGIFClipboardSink(nullptr);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(mime->hasImage());
    const QByteArray gif = mime->data("image/gif");
    EXPECT_EQ(std::vector<std::uint8_t>(gif.begin(), gif.end()), stream.Data());
    EXPECT_EQ(mime->data("GIF Image"), gif);
    EXPECT_EQ(ClipboardMimeType("GIF Image"), "image/gif");

    // Only the GIF stream, as another program may put it there.
    auto* only = new QMimeData;
    only->setData("image/gif", QByteArray(reinterpret_cast<const char*>(stream.Data().data()),
                                          static_cast<qsizetype>(stream.Data().size())));
    QGuiApplication::clipboard()->setMimeData(only);
    ASSERT_TRUE(clipboard.HasBitmap());
    const std::unique_ptr<TBitmap> pasted = clipboard.GetBitmap();
    ASSERT_NE(pasted, nullptr);
    ASSERT_EQ(pasted->Width(), 4);
    ASSERT_EQ(pasted->Height(), 3);
    EXPECT_EQ(pasted->GetPixelColor(0, 0), clRed);
    EXPECT_EQ(pasted->GetPixelColor(3, 2), clBlue);

    // A broken stream is no picture.
    auto* broken = new QMimeData;
    broken->setData("image/gif", QByteArray("GIF89a"));
    QGuiApplication::clipboard()->setMimeData(broken);
    EXPECT_EQ(clipboard.GetBitmap(), nullptr);
    clipboard.Clear();
}
