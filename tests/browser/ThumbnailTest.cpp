// The browser's tiles without a window: the grid and the thumbnail sizes,
// the mask, drawing real files (ours and ImageMagick's), files that cannot
// be shown, and a rebuild that is replaced or added to while a file loads.

#include "../gif/GifAnimation.h"
#include "BrowserTest.h"
#include "TestUtil.h"

#include "FileListBox.h"
#include "GifPicture.h"
#include "Picture.h"
#include "Thumbnails.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace browsertest;
using testutil::TempDir;
namespace fs = std::filesystem;

void PrintTo(const TThumbSize& size, std::ostream* out)
{
    *out << size.Width << " x " << size.Height;
}

namespace {

// Red and blue as a 24-bit bitmap stores them (B, G, R).
bool IsRed(const TBitmap& b, int x, int y)
{
    const std::uint8_t* p = b.ScanLine(y) + 3 * x;
    return p[0] < 40 && p[1] < 40 && p[2] > 215;
}

bool IsBlue(const TBitmap& b, int x, int y)
{
    const std::uint8_t* p = b.ScanLine(y) + 3 * x;
    return p[0] > 215 && p[1] < 40 && p[2] < 40;
}

// The tile of a file, drawn.
TThumbnail DrawnTile(const std::string& path)
{
    TThumbnail tile;
    tile.FileName = path;
    DrawThumbnail(tile, path);
    return tile;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A BMP header that declares a picture 0 pixels wide.
std::string ZeroWidthBmp()
{
    std::string b(54, '\0');
    auto put32 = [&b](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, 0);  // width
    put32(22, 10); // height
    b[26] = 1;     // planes
    b[28] = 24;    // bits per pixel
    return b;
}

std::vector<TListedFile> Listed(const std::string& dir, const std::vector<std::string>& names)
{
    std::vector<TListedFile> files;
    for (const std::string& name : names)
        files.push_back({dir + "/" + name, name});
    return files;
}

void BuildAll(TThumbnailList& list)
{
    while (list.Building())
        list.BuildNext();
}

} // namespace

TEST(TileGeometry, ColumnsFollowTheClientWidth)
{
    EXPECT_EQ(ColumnsFor(235), 2);
    EXPECT_EQ(ColumnsFor(234), 1);
    EXPECT_EQ(ColumnsFor(350), 3);
    EXPECT_EQ(ColumnsFor(349), 2);
    // Narrower than a tile (a hidden area) still lays out one column.
    EXPECT_EQ(ColumnsFor(140), 1);
    EXPECT_EQ(ColumnsFor(0), 1);
    EXPECT_EQ(ColumnsFor(-20), 1);
}

TEST(TileGeometry, TilesFillRowsLeftToRight)
{
    EXPECT_EQ(TileOrigin(0, 3), (TPoint{5, 5}));
    EXPECT_EQ(TileOrigin(2, 3), (TPoint{235, 5}));
    EXPECT_EQ(TileOrigin(3, 3), (TPoint{5, 140}));
    EXPECT_EQ(TileOrigin(7, 2), (TPoint{120, 410}));
    EXPECT_EQ(GridHeight(0, 3), 0);
    EXPECT_EQ(GridHeight(3, 3), 135);
    EXPECT_EQ(GridHeight(4, 3), 270);
}

TEST(TileGeometry, LongerSideGetsTheWholeBox)
{
    // Square: 100 x 100 at the tile's corner plus the margin.
    EXPECT_EQ(ThumbnailSize(640, 640), (TThumbSize{100, 100}));
    EXPECT_EQ(ThumbnailOffset({100, 100}), (TPoint{5, 5}));
    // Wider than tall: 100 wide; 300 x 100 gives 100 x 33 at top 38.
    EXPECT_EQ(ThumbnailSize(300, 100), (TThumbSize{100, 33}));
    EXPECT_EQ(ThumbnailOffset({100, 33}), (TPoint{5, 38}));
    // Taller than wide: 100 high, centred across.
    EXPECT_EQ(ThumbnailSize(100, 300), (TThumbSize{33, 100}));
    EXPECT_EQ(ThumbnailOffset({33, 100}), (TPoint{38, 5}));
    EXPECT_EQ(ThumbnailSize(4000, 3000), (TThumbSize{100, 75}));
}

TEST(TileGeometry, RatioAndSideAreWorkedInSinglePrecision)
{
    // A portrait 4:3 photo: 4000 / 3000 is 1.3333334 as a single and 100
    // by it 74.999996, which is 75 as a single: the thumbnail is 75 wide,
    // as wide as the landscape one is tall.
    EXPECT_EQ(ThumbnailSize(3000, 4000), (TThumbSize{75, 100}));
    EXPECT_EQ(ThumbnailSize(78, 104), (TThumbSize{75, 100}));
    EXPECT_EQ(ThumbnailSize(4000, 3000), (TThumbSize{100, 75}));
    // 29 / 100 is 0.28999999 as a single; by 100 that is 28.999999, which
    // a single holds as 29.
    EXPECT_EQ(ThumbnailSize(100, 29), (TThumbSize{100, 29}));
    EXPECT_EQ(ThumbnailSize(10, 7), (TThumbSize{100, 70}));
    EXPECT_EQ(ThumbnailSize(7, 10), (TThumbSize{70, 100}));
    // Sides that do not come out whole are still cut, not rounded.
    EXPECT_EQ(ThumbnailSize(3, 1), (TThumbSize{100, 33}));
    EXPECT_EQ(ThumbnailSize(2, 3), (TThumbSize{66, 100}));
    EXPECT_EQ(ThumbnailSize(29, 100), (TThumbSize{29, 100}));
    // A line of a picture keeps its width and no height at all.
    EXPECT_EQ(ThumbnailSize(1000, 1), (TThumbSize{100, 0}));
}

TEST(TileGeometry, HintNamesPathBytesAndSize)
{
    EXPECT_EQ(ThumbnailHint("/photos/a.jpg", 123456, 300, 100), "/photos/a.jpg. \n123456 octets.\n300 x 100");
    EXPECT_EQ(ThumbnailHint("/p/b.png", 5000000000ULL, 1, 2), "/p/b.png. \n5000000000 octets.\n1 x 2");
}

TEST(BrowseMaskTest, ListsTheThirtyFourExtensionsInOrder)
{
    const std::string mask = BrowseMask;
    std::vector<std::string> parts;
    std::stringstream in(mask);
    for (std::string part; std::getline(in, part, ';');)
        parts.push_back(part);
    const std::vector<std::string> expected = {
        "*.png", "*.bw",  "*.cel", "*.cut", "*.dib", "*.gif", "*.icb",  "*.pcc", "*.pcd", "*.pcx", "*.pic", "*.pbm",
        "*.pgm", "*.ppm", "*.psd", "*.rgb", "*.rgba", "*.rla", "*.rle", "*.rpf",  "*.scr", "*.sgi", "*.tga", "*.tif",
        "*.tiff", "*.vda", "*.vst", "*.win", "*.jpg", "*.jpeg", "*.bmp", "*.ico", "*.emf", "*.wmf"};
    EXPECT_EQ(parts, expected);
}

TEST(BrowseMaskTest, MatchesWithoutRegardToCase)
{
    for (const char* name : {"IMG_0001.JPG", "a.jpeg", "Scan.TIF", "x.Tiff", "sky.RGBA", "icon.Ico", "p.PNG", "c.gif"})
        EXPECT_TRUE(TFileListBox::MatchesMask(name, BrowseMask)) << name;
    for (const char* name : {"notes.txt", "a.jpg.bak", "jpg", "a.jp", "tiff.doc"})
        EXPECT_FALSE(TFileListBox::MatchesMask(name, BrowseMask)) << name;
}

TEST(DrawThumbnailTest, DrawsOurBmpScaledIntoTheBox)
{
    InitOnce();
    TempDir dir;
    const std::string path = dir.File("wide.bmp");
    SaveBmp(Halves(300, 100), path);
    TThumbnail tile;
    tile.FileName = path;
    DrawThumbnail(tile, path);
    ASSERT_EQ(tile.State, TThumbState::Drawn) << tile.Error;
    EXPECT_EQ(tile.PictureWidth, 300);
    EXPECT_EQ(tile.PictureHeight, 100);
    EXPECT_EQ(tile.Size, (TThumbSize{100, 33}));
    EXPECT_EQ(tile.Offset, (TPoint{5, 38}));
    ASSERT_TRUE(tile.Picture);
    EXPECT_EQ(tile.Picture->Width(), 100);
    EXPECT_EQ(tile.Picture->Height(), 33);
    EXPECT_TRUE(IsRed(*tile.Picture, 10, 16));
    EXPECT_TRUE(IsRed(*tile.Picture, 48, 32));
    EXPECT_TRUE(IsBlue(*tile.Picture, 52, 0));
    EXPECT_TRUE(IsBlue(*tile.Picture, 99, 16));
    EXPECT_EQ(tile.Hint, ThumbnailHint(path, fs::file_size(path), 300, 100));
}

TEST(DrawThumbnailTest, DrawsPicturesWrittenByImageMagick)
{
    InitOnce();
    TempDir dir;
    const std::string jpeg = dir.File("photo.jpg");
    ASSERT_TRUE(Convert("-size 640x480 xc:red -fill blue -draw \"rectangle 320,0 639,479\"", jpeg));
    const std::string png = dir.File("tall.png");
    ASSERT_TRUE(Convert("-size 50x200 xc:blue -fill red -draw \"rectangle 0,0 49,99\"", png));

    TThumbnail a;
    a.FileName = jpeg;
    DrawThumbnail(a, jpeg);
    ASSERT_EQ(a.State, TThumbState::Drawn) << a.Error;
    EXPECT_EQ(a.Size, (TThumbSize{100, 75}));
    EXPECT_EQ(a.Offset, (TPoint{5, 17}));
    EXPECT_TRUE(IsRed(*a.Picture, 20, 37));
    EXPECT_TRUE(IsBlue(*a.Picture, 80, 37));
    EXPECT_NE(a.Hint.find("\n640 x 480"), std::string::npos);

    TThumbnail b;
    b.FileName = png;
    DrawThumbnail(b, png);
    ASSERT_EQ(b.State, TThumbState::Drawn) << b.Error;
    EXPECT_EQ(b.Size, (TThumbSize{25, 100}));
    EXPECT_EQ(b.Offset, (TPoint{42, 5}));
    EXPECT_TRUE(IsRed(*b.Picture, 12, 20));
    EXPECT_TRUE(IsBlue(*b.Picture, 12, 80));
}

TEST(DrawThumbnailTest, DrawsGifFilesThroughTheRegistry)
{
    InitOnce();
    TempDir dir;
    const std::string gif = dir.File("wide.gif");
    ASSERT_TRUE(Convert("-size 200x50 xc:blue -fill red -draw \"rectangle 0,0 99,49\"", gif));
    const TThumbnail tile = DrawnTile(gif);
    ASSERT_EQ(tile.State, TThumbState::Drawn) << tile.Error;
    EXPECT_EQ(tile.Size, (TThumbSize{100, 25}));
    EXPECT_TRUE(IsRed(*tile.Picture, 20, 12));
    EXPECT_TRUE(IsBlue(*tile.Picture, 80, 12));
    EXPECT_NE(tile.Hint.find("\n200 x 50"), std::string::npos);

    // A long animation, 40 whole frames of 64 x 48 written by PIL, red then
    // shades of blue, past a budget of four frames: its first frame.
    const std::string script = "from PIL import Image\n"
                               "colours = [(255, 0, 0)] + [(0, 0, 255 - i) for i in range(39)]\n"
                               "frames = [Image.new('RGB', (64, 48), c) for c in colours]\n"
                               "frames[0].save('" + gif + "', save_all=True, append_images=frames[1:])\n";
    const testutil::CommandResult made =
        testutil::Run(testutil::PythonWithPil() + " -c " + testutil::Quote(script));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    {
        const TPixelBudgetScope budget(4 * 64 * 48);
        const TThumbnail animation = DrawnTile(gif);
        ASSERT_EQ(animation.State, TThumbState::Drawn) << animation.Error;
        EXPECT_EQ(animation.Size, (TThumbSize{100, 75}));
        EXPECT_TRUE(IsRed(*animation.Picture, 50, 37));
        EXPECT_EQ(animation.Hint, ThumbnailHint(gif, fs::file_size(gif), 64, 48));
        // The editor's road reads every frame under the same budget.
        TPicture picture;
        picture.LoadFromFile(gif);
        const auto* image = dynamic_cast<const TGifPicture*>(picture.Graphic());
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->Frames.Count(), 40);
    }

    WriteBytes(gif, "GIF89a\x02");
    const TThumbnail broken = DrawnTile(gif);
    EXPECT_EQ(broken.State, TThumbState::Failed);
    EXPECT_FALSE(broken.Error.empty());
}

TEST(DrawThumbnailTest, GifsWhoseFramesPaintNothingShowTheirFirstFrame)
{
    InitOnce();
    TempDir dir;
    for (const std::string& gif : gifanim::WriteDisposalsGifs(dir)) {
        SCOPED_TRACE(gif);
        const TThumbnail tile = DrawnTile(gif);
        ASSERT_EQ(tile.State, TThumbState::Drawn) << tile.Error;
        ASSERT_EQ(tile.Size, (TThumbSize{100, 100}));
        EXPECT_TRUE(IsRed(*tile.Picture, 20, 20));
        EXPECT_TRUE(IsRed(*tile.Picture, 80, 20));
        EXPECT_TRUE(IsBlue(*tile.Picture, 80, 80));
    }
}

TEST(DrawThumbnailTest, AnAnimationWhoseSecondFrameCannotBeReadShowsItsFirst)
{
    InitOnce();
    TempDir dir;
    // A red 40 x 30 frame written by PIL, its trailer replaced by a second
    // frame that no reader of every frame gets through: a descriptor cut
    // short, or a 30000 x 30000 frame, past every pixel budget.
    const std::string broken = dir.File("coupee.gif");
    const std::string oversized = dir.File("enorme.gif");
    const std::string script =
        "import struct, sys\n"
        "from PIL import Image\n"
        "Image.new('RGB', (40, 30), (255, 0, 0)).save(sys.argv[1])\n"
        "first = open(sys.argv[1], 'rb').read()\n"
        "assert first[-1:] == b';'\n"
        "first = first[:-1]\n"
        "open(sys.argv[1], 'wb').write(first + b',' + struct.pack('<HH', 0, 0))\n"
        "big = b',' + struct.pack('<HHHHB', 0, 0, 30000, 30000, 0) + bytes([2, 1, 0x44, 0, 0x3B])\n"
        "open(sys.argv[2], 'wb').write(first + big)\n";
    const testutil::CommandResult made = testutil::Run(testutil::PythonWithPil() + " -c " + testutil::Quote(script) +
                                                       " " + testutil::Quote(broken) + " " + testutil::Quote(oversized));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    for (const std::string& gif : {broken, oversized}) {
        SCOPED_TRACE(gif);
        // The editor reads every frame and refuses the file.
        TPicture whole;
        EXPECT_THROW(whole.LoadFromFile(gif), Exception);
        const TThumbnail tile = DrawnTile(gif);
        ASSERT_EQ(tile.State, TThumbState::Drawn) << tile.Error;
        EXPECT_EQ(tile.Size, (TThumbSize{100, 75}));
        EXPECT_TRUE(IsRed(*tile.Picture, 50, 37));
        EXPECT_TRUE(IsRed(*tile.Picture, 99, 74));
        EXPECT_EQ(tile.Hint, ThumbnailHint(gif, fs::file_size(gif), 40, 30));
    }
}

TEST(DrawThumbnailTest, FilesThatCannotBeShownGetAPlaceholder)
{
    InitOnce();
    TempDir dir;
    WriteBytes(dir.File("empty.jpg"), "");
    WriteBytes(dir.File("broken.png"), "\x89PNG\r\n\x1a\n this is no picture at all");
    WriteBytes(dir.File("zero.bmp"), ZeroWidthBmp());
    WriteBytes(dir.File("cut.jpg"), "\xFF\xD8\xFF\xE0");
    for (const char* name : {"empty.jpg", "broken.png", "zero.bmp", "cut.jpg", "missing.bmp"}) {
        const std::string path = dir.File(name);
        const std::uint64_t size = fs::exists(path) ? fs::file_size(path) : 0;
        TThumbnail tile;
        tile.FileName = path;
        DrawThumbnail(tile, tile.FileName);
        EXPECT_EQ(tile.State, TThumbState::Failed) << name;
        EXPECT_FALSE(tile.Picture) << name;
        EXPECT_EQ(tile.Size, (TThumbSize{100, 100})) << name;
        EXPECT_EQ(tile.Offset, (TPoint{5, 5})) << name;
        EXPECT_FALSE(tile.Error.empty()) << name;
        EXPECT_EQ(tile.Hint.rfind(path + ". \n" + std::to_string(size) + " octets.\n", 0), 0u)
            << name << ": " << tile.Hint;
    }
}

TEST(DrawThumbnailTest, ATruncatedJpegShowsWhatItHoldsAndSaysSoInItsHint)
{
    InitOnce();
    TempDir dir;
    const std::string whole = dir.File("entier.jpg");
    const std::string cut = dir.File("coupe.jpg");
    const std::vector<std::uint8_t> bytes = testutil::MakeJpegAndCutCopy(whole, cut, 7);

    TThumbnail a;
    a.FileName = whole;
    DrawThumbnail(a, whole);
    ASSERT_EQ(a.State, TThumbState::Drawn) << a.Error;
    EXPECT_EQ(a.Hint, ThumbnailHint(whole, fs::file_size(whole), 320, 240));

    TThumbnail b;
    b.FileName = cut;
    DrawThumbnail(b, cut);
    ASSERT_EQ(b.State, TThumbState::Drawn) << b.Error;
    EXPECT_EQ(b.Size, (TThumbSize{100, 75}));
    EXPECT_EQ(b.Hint, ThumbnailHint(cut, bytes.size(), 320, 240) + "\nFichier incomplet");
}

TEST(DrawThumbnailTest, ASmallFileDescribingAHugePictureIsRefusedAtOnce)
{
    InitOnce();
    TempDir dir;
    // 12,000 x 12,000 pixels: over the thumbnails' budget, under the editor's.
    const std::string path = dir.File("huge.bmp");
    testutil::WriteFile(path, testutil::TinyRleBmp(12000, 12000));
    TThumbnail tile;
    tile.FileName = path;
    DrawThumbnail(tile, tile.FileName);
    EXPECT_EQ(tile.State, TThumbState::Failed);
    EXPECT_NE(tile.Error.find("Image trop grande"), std::string::npos) << tile.Error;
    // The budget was the browser's own: the editor still opens the file.
    TPicture picture;
    picture.LoadFromFile(path);
    EXPECT_EQ(picture.Width(), 12000);
    EXPECT_EQ(picture.Height(), 12000);
}

TEST(ThumbnailListTest, RebuildGoesOnPastBadFilesAndLeavesNoStaleTile)
{
    InitOnce();
    TempDir dir;
    for (int i = 0; i < 7; ++i)
        SaveBmp(Halves(20 + i, 10), dir.File("old" + std::to_string(i) + ".bmp"));
    SaveBmp(Halves(40, 20), dir.File("a.bmp"));
    WriteBytes(dir.File("b.jpg"), "");
    WriteBytes(dir.File("c.png"), "garbage");
    WriteBytes(dir.File("d.bmp"), ZeroWidthBmp());
    SaveBmp(Halves(20, 40), dir.File("e.bmp"));

    TThumbnailList list;
    std::vector<std::string> old;
    for (int i = 0; i < 7; ++i)
        old.push_back("old" + std::to_string(i) + ".bmp");
    list.BeginRebuild(Listed(dir.Path(), old));
    BuildAll(list);
    ASSERT_EQ(list.Count(), 7);

    list.BeginRebuild(Listed(dir.Path(), {"a.bmp", "b.jpg", "c.png", "d.bmp", "e.bmp"}));
    EXPECT_TRUE(list.Building());
    BuildAll(list);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.ListedCount(), 5);
    const TThumbState expected[] = {TThumbState::Drawn, TThumbState::Failed, TThumbState::Failed,
                                    TThumbState::Failed, TThumbState::Drawn};
    const char* names[] = {"a.bmp", "b.jpg", "c.png", "d.bmp", "e.bmp"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].State, expected[i]) << i;
        EXPECT_EQ(list[i].Caption, names[i]);
        EXPECT_EQ(list[i].FileName, dir.File(names[i]));
    }
    EXPECT_EQ(list[0].Size, (TThumbSize{100, 50}));
    EXPECT_EQ(list[4].Size, (TThumbSize{50, 100}));
}

TEST(ThumbnailListTest, TilesKeepAbsolutePaths)
{
    InitOnce();
    TempDir dir;
    fs::create_directories(dir.File("sub"));
    SaveBmp(Halves(10, 10), dir.File("sub/x.bmp"));
    TThumbnailList list;
    int appended = -1;
    {
        const testutil::CurrentDirGuard here(dir.Path());
        list.BeginRebuild({{"sub/x.bmp", "x.bmp"}, {"./sub/../sub/x.bmp", "x.bmp"}});
        appended = list.Append("sub/x.bmp");
    }
    // Drawn after the current folder changed: the paths do not depend on it.
    BuildAll(list);
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list[i].FileName, dir.File("sub/x.bmp")) << i;
        EXPECT_EQ(list[i].State, TThumbState::Drawn) << i;
    }
    // The appended tile's hint names the file as given, its caption the name.
    EXPECT_EQ(list[appended].Caption, "x.bmp");
    EXPECT_EQ(list[appended].Hint.rfind("sub/x.bmp. \n", 0), 0u);
}

TEST(ThumbnailListTest, NoFixedLimitOnTheNumberOfTiles)
{
    TThumbnailList list;
    int drawn = 0;
    list.Draw = [&drawn](TThumbnail& tile, const std::string&) {
        ++drawn;
        tile.State = TThumbState::Drawn;
        tile.Size = {100, 100};
    };
    std::vector<TListedFile> files;
    for (int i = 0; i < 10050; ++i)
        files.push_back({"/p/f" + std::to_string(i) + ".jpg", "f" + std::to_string(i) + ".jpg"});
    list.BeginRebuild(files);
    BuildAll(list);
    EXPECT_EQ(list.Count(), 10050);
    EXPECT_EQ(drawn, 10050);
    EXPECT_EQ(list[10049].FileName, "/p/f10049.jpg");
    EXPECT_EQ(list.Append("/p/new.jpg"), 10050);
    EXPECT_EQ(list.Append("/p/new2.jpg"), 10051);
    EXPECT_EQ(list[10051].Caption, "new2.jpg");
    list.SetColumns(4);
    EXPECT_EQ(list.Origin(10051), (TPoint{350, 2512 * 135 + 5}));
}

TEST(ThumbnailListTest, RebuildStartedWhileAFileLoadsReplacesTheList)
{
    TThumbnailList list;
    std::vector<std::string> drawnPaths;
    bool restarted = false;
    list.Draw = [&](TThumbnail& tile, const std::string& hintPath) {
        drawnPaths.push_back(tile.FileName);
        // Events handled while the second file of A loads choose folder B.
        if (!restarted && tile.FileName == "/A/2.jpg") {
            restarted = true;
            list.BeginRebuild(Listed("/B", {"x.jpg", "y.jpg"}));
        }
        tile.State = TThumbState::Drawn;
        tile.Hint = hintPath;
    };
    list.BeginRebuild(Listed("/A", {"1.jpg", "2.jpg", "3.jpg", "4.jpg"}));
    EXPECT_EQ(list.BuildNext(), 0);
    // The drawing of A's second file belongs to no tile any more.
    EXPECT_EQ(list.BuildNext(), -1);
    EXPECT_TRUE(list.Building());
    BuildAll(list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.ListedCount(), 2);
    EXPECT_EQ(list[0].FileName, "/B/x.jpg");
    EXPECT_EQ(list[1].FileName, "/B/y.jpg");
    EXPECT_EQ(list[0].Hint, "/B/x.jpg");
    EXPECT_EQ(list[1].State, TThumbState::Drawn);
    EXPECT_EQ(drawnPaths, (std::vector<std::string>{"/A/1.jpg", "/A/2.jpg", "/B/x.jpg", "/B/y.jpg"}));
}

TEST(ThumbnailListTest, ClearOrAppendWhileAFileLoads)
{
    TThumbnailList list;
    std::function<void(const std::string&)> during;
    list.Draw = [&](TThumbnail& tile, const std::string&) {
        if (during) {
            auto act = std::move(during);
            during = nullptr;
            act(tile.FileName);
        }
        tile.State = TThumbState::Drawn;
        tile.Hint = "drawn " + tile.FileName;
    };
    // A file saved while a tile loads: its tile comes after the listed ones
    // and the tile being loaded still lands in its own place.
    list.BeginRebuild(Listed("/A", {"1.jpg", "2.jpg", "3.jpg"}));
    during = [&](const std::string&) { list.Append("/elsewhere/new.jpg"); };
    EXPECT_EQ(list.BuildNext(), 0);
    BuildAll(list);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[0].Hint, "drawn /A/1.jpg");
    EXPECT_EQ(list[0].FileName, "/A/1.jpg");
    EXPECT_EQ(list[2].Hint, "drawn /A/3.jpg");
    EXPECT_EQ(list[3].FileName, "/elsewhere/new.jpg");
    EXPECT_EQ(list[3].Hint, "drawn /elsewhere/new.jpg");

    // Cleared while a tile loads: nothing comes back.
    list.BeginRebuild(Listed("/A", {"1.jpg", "2.jpg"}));
    during = [&](const std::string&) { list.Clear(); };
    EXPECT_EQ(list.BuildNext(), -1);
    EXPECT_FALSE(list.Building());
    EXPECT_EQ(list.Count(), 0);
}

TEST(ThumbnailListTest, RefreshRedrawsListedTilesOfThatFileOnly)
{
    InitOnce();
    TempDir dir;
    SaveBmp(Halves(40, 20), dir.File("a.bmp"));
    SaveBmp(Halves(20, 20), dir.File("b.bmp"));
    TThumbnailList list;
    list.BeginRebuild(Listed(dir.Path(), {"a.bmp", "b.bmp"}));
    BuildAll(list);
    const int appended = list.Append(dir.File("a.bmp"));
    ASSERT_EQ(appended, 2);

    // The file is written again with another size.
    SaveBmp(Halves(10, 30), dir.File("a.bmp"));
    // The name as the save gives it, in other letters: the listed tile is
    // drawn again, the appended one waits for the next rebuild.
    std::string upper = dir.File("A.BMP");
    const std::vector<int> drawn = list.Refresh(upper);
    EXPECT_EQ(drawn, std::vector<int>{0});
    EXPECT_EQ(list[0].PictureWidth, 10);
    EXPECT_EQ(list[0].PictureHeight, 30);
    EXPECT_EQ(list[0].Size, (TThumbSize{33, 100}));
    EXPECT_EQ(list[0].Caption, "a.bmp");
    EXPECT_NE(list[0].Hint.find("\n10 x 30"), std::string::npos);
    EXPECT_EQ(list[2].PictureWidth, 40);
    // No tile of that file: nothing changes.
    EXPECT_TRUE(list.Refresh(dir.File("c.bmp")).empty());
}

TEST(ThumbnailListTest, AppendAfterAnEmptyFolderStartsAtTheFirstPlace)
{
    TThumbnailList list;
    list.Draw = [](TThumbnail& tile, const std::string&) { tile.State = TThumbState::Drawn; };
    list.BeginRebuild(Listed("/A", {"1.jpg", "2.jpg", "3.jpg"}));
    BuildAll(list);
    list.BeginRebuild({});
    EXPECT_FALSE(list.Building());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Append("/A/new.jpg"), 0);
    EXPECT_EQ(list.Origin(0), (TPoint{5, 5}));
}
