// The readers' registry entries: the 28 extensions in order, who answers
// "gif", "rle", "dib" and "bw", unregistration, the open dialog's filter, and
// the readers not provided yet refusing clearly.

#include "ImageReaders.h"

#include "Exceptions.h"
#include "Formats.h"
#include "Picture.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Expected {
    const char* Extension;
    const char* Description;
    const char* ClassName;
};

// The registration order and texts the open dialog shows.
const Expected Table[] = {
    {"win", "Truevision images", "TTargaGraphic"},
    {"vst", "Truevision images", "TTargaGraphic"},
    {"vda", "Truevision images", "TTargaGraphic"},
    {"tiff", "TIFF images", "TTIFFGraphic"},
    {"tif", "TIFF images", "TTIFFGraphic"},
    {"tga", "Truevision images", "TTargaGraphic"},
    {"sgi", "SGI true color images", "TSGIGraphic"},
    {"scr", "Word 5.x screen capture images", "TPCXGraphic"},
    {"rpf", "SGI Wavefront images", "TRLAGraphic"},
    {"rle", "Windows bitmap", "TBitmap"},
    {"rla", "SGI Wavefront images", "TRLAGraphic"},
    {"rgba", "SGI true color images", "TSGIGraphic"},
    {"rgb", "SGI true color images", "TSGIGraphic"},
    {"psd", "Photoshop images", "TPSDGraphic"},
    {"ppm", "Portable pixel map images", "TPPMGraphic"},
    {"pgm", "Portable grayscale images", "TPPMGraphic"},
    {"pbm", "Portable b&w images", "TPPMGraphic"},
    {"pic", "Autodesk images", "TAutodeskGraphic"},
    {"pcx", "ZSoft PCX images", "TPCXGraphic"},
    {"pdd", "Photoshop images", "TPSDGraphic"},
    {"pcd", "Kodak Photo-CD images", "TPCDGraphic"},
    {"pcc", "ZSoft PCC images", "TPCXGraphic"},
    {"icb", "Truevision images", "TTargaGraphic"},
    {"gif", "CompuServe images", "TGIFGraphic"},
    {"dib", "Windows bitmap", "TBitmap"},
    {"cut", "Dr. Halo images", "TCUTGraphic"},
    {"cel", "Autodesk images", "TAutodeskGraphic"},
    {"bw", "SGI black/white images", "TSGIGraphic"},
};

// The entries from the first "win" registration on.
std::vector<TFileFormat> ReaderEntries()
{
    const auto& all = TPicture::FileFormats();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].Extension == "win")
            return std::vector<TFileFormat>(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
    return {};
}

} // namespace

TEST(ReaderRegistration, TwentyEightEntriesInOrderAndGifAnsweredByTheReaders)
{
    RegisterPictureFormats();
    RegisterReaderFormats(); // a second start registers nothing more
    const std::vector<TFileFormat> entries = ReaderEntries();
    ASSERT_GE(entries.size(), std::size(Table));
    for (std::size_t i = 0; i < std::size(Table); ++i) {
        SCOPED_TRACE(Table[i].Extension);
        EXPECT_EQ(entries[i].Extension, Table[i].Extension);
        EXPECT_EQ(entries[i].Description, Table[i].Description);
        EXPECT_EQ(entries[i].GraphicClass->ClassName, Table[i].ClassName);
    }
    // Whatever registers after the readers is not one of theirs.
    for (std::size_t i = std::size(Table); i < entries.size(); ++i)
        EXPECT_EQ(entries[i].Extension, "gif") << "only the GIF image class registers after the readers";

    // Lookups run newest first.
    TGraphicClass gif = TPicture::FindGraphicClass("gif");
    ASSERT_NE(gif, nullptr);
    if (entries.size() == std::size(Table))
        EXPECT_EQ(gif, TGIFGraphic::Class());
    else
        EXPECT_EQ(gif->ClassName, "TGifPicture");
    EXPECT_EQ(TPicture::FindGraphicClass("rle"), TBitmap::Class());
    EXPECT_EQ(TPicture::FindGraphicClass("DIB"), TBitmap::Class());
    EXPECT_EQ(TPicture::FindGraphicClass(".bw"), TSGIGraphic::Class());
    EXPECT_EQ(TPicture::FindGraphicClass("tga"), TTargaGraphic::Class());

    const std::string filter = GraphicFilter();
    EXPECT_NE(filter.find("|Truevision images (*.tga)|*.tga"), std::string::npos) << filter;
    EXPECT_NE(filter.find("|TIFF images (*.tif)|*.tif"), std::string::npos) << filter;
    EXPECT_NE(filter.find("*.tiff;"), std::string::npos) << filter;
    EXPECT_NE(filter.find("|Portable b&w images (*.pbm)|*.pbm"), std::string::npos) << filter;

    // Each class makes an object of its own kind.
    for (const Expected& e : Table) {
        std::unique_ptr<TGraphic> g = TPicture::FindGraphicClass(e.Extension)->Create();
        if (std::string(e.Extension) != "gif" || entries.size() == std::size(Table)) {
            EXPECT_STREQ(g->ClassName(), TPicture::FindGraphicClass(e.Extension)->ClassName.c_str());
        }
    }
    UnregisterReaderFormats();
}

TEST(ReaderRegistration, LastCloseRemovesTheElevenClassesAndKeepsTheBitmapEntries)
{
    RegisterPictureFormats();
    RegisterReaderFormats(); // one start more than the program's
    UnregisterReaderFormats();
    EXPECT_EQ(TPicture::FindGraphicClass("tif"), TTIFFGraphic::Class()) << "still started once";
    UnregisterReaderFormats();
    for (const auto& f : TPicture::FileFormats()) {
        const std::string name = f.GraphicClass->ClassName;
        EXPECT_TRUE(name.find("Graphic") == std::string::npos) << f.Extension << " still " << name;
    }
    EXPECT_EQ(TPicture::FindGraphicClass("tif"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("rle"), TBitmap::Class());
    EXPECT_EQ(TPicture::FindGraphicClass("dib"), TBitmap::Class());
    RegisterReaderFormats();
    EXPECT_EQ(TPicture::FindGraphicClass("tif"), TTIFFGraphic::Class());
}

TEST(ReaderRegistration, AFailedLoadLeavesThePictureItHad)
{
    RegisterPictureFormats();
    testutil::TempDir dir;
    const std::string bad = dir.File("broken.tif");
    testutil::WriteFile(bad, {'I', 'I', 43, 0, 8, 0, 0, 0});
    TPicture picture;
    picture.SetGraphic(std::make_unique<TBitmap>(3, 2, pf24bit));
    try {
        picture.LoadFromFile(bad);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "Exception");
        EXPECT_FALSE(e.Message.empty());
    }
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TBitmap");
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
}
