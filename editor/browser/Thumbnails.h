#pragma once
// The thumbnail tiles of the browser apart from their widget: the mask of
// the picture files, the tile grid, the size of a thumbnail in its 100 x 100
// box, and the list of tiles that a rebuild fills one file at a time.
//
// A tile k of a grid of c columns is 110 x 130 at ((k mod c) * 115 + 5,
// (k div c) * 135 + 5): the photo centred in the upper 110 x 110, the file's
// name on the 20 pixels below it.

#include "Bitmap.h"
#include "Types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The files the browser shows: "*." and each extension, joined with ";".
extern const char* const BrowseMask;

constexpr int TileWidth = 110;
constexpr int TileHeight = 130;
constexpr int TileStepX = 115;
constexpr int TileStepY = 135;
constexpr int TileMargin = 5;
// The box a thumbnail is fitted into, and the caption below it.
constexpr int ThumbBox = 100;
constexpr int CaptionTop = 110;
constexpr int CaptionHeight = 20;

// Tiles a row holds in a client area this wide; at least one.
int ColumnsFor(int clientWidth);
// The top-left corner of tile k in a grid of that many columns.
TPoint TileOrigin(int index, int columns);
// The height the grid of count tiles takes (0 for none).
std::int64_t GridHeight(int count, int columns);

// The thumbnail of a picture: the height / width ratio in single precision;
// the longer side gets 100 pixels and the other one 100 times the ratio (or
// 100 by the ratio), worked out in single precision and truncated.
struct TThumbSize {
    int Width = 0;
    int Height = 0;
    friend bool operator==(const TThumbSize&, const TThumbSize&) = default;
};
TThumbSize ThumbnailSize(int pictureWidth, int pictureHeight);
// Where the thumbnail sits in its tile: centred in the width and in the
// upper 110 pixels.
TPoint ThumbnailOffset(const TThumbSize& size);

// The tool tip of a tile: the path, the file's size in bytes and the
// picture's size, on three lines.
std::string ThumbnailHint(const std::string& path, std::uint64_t fileSize, int width, int height);
// The fourth line of the tool tip of a tile whose file is damaged but shows
// part of its picture.
extern const char* const IncompleteHint; // "Fichier incomplet"

enum class TThumbState {
    Pending, // listed, not drawn yet
    Drawn,   // the photo is drawn
    Failed,  // the file could not be shown: a placeholder stands for it
};

struct TThumbnail {
    // The file, as an absolute path.
    std::string FileName;
    // The text under the photo: the name as listed.
    std::string Caption;
    std::string Hint;
    TThumbState State = TThumbState::Pending;
    // The picture's own size (0 x 0 when it could not be read).
    int PictureWidth = 0;
    int PictureHeight = 0;
    // The thumbnail and its place in the tile. A failed tile's placeholder
    // takes the whole 100 x 100 box.
    TThumbSize Size;
    TPoint Offset;
    // The photo drawn at Size over white (null unless Drawn).
    std::shared_ptr<const TBitmap> Picture;
    // Why a failed tile failed.
    std::string Error;
};

// Loads a picture file and draws its thumbnail into the tile; hintPath is
// the path the tool tip names. A file that cannot be shown (unreadable,
// empty, of no width or height, of an unknown format) makes a placeholder
// tile instead: this never raises for the file's faults.
void DrawThumbnail(TThumbnail& tile, const std::string& hintPath);

// One listed file: its absolute path and the name the list shows.
struct TListedFile {
    std::string Path;
    std::string Caption;
};

// The tiles, in the grid's order: the files of the last rebuild first, then
// those appended since.
class TThumbnailList {
public:
    TThumbnailList();

    int Count() const { return static_cast<int>(FTiles.size()); }
    const TThumbnail& operator[](int index) const { return FTiles.at(static_cast<std::size_t>(index)); }
    // The number of tiles the last rebuild made (the listed files).
    int ListedCount() const { return FListed; }

    // Tiles a row holds; SetColumns answers whether that changed.
    int Columns() const { return FColumns; }
    bool SetColumns(int columns);
    TPoint Origin(int index) const { return TileOrigin(index, FColumns); }

    // Removes every tile and ends a running rebuild.
    void Clear();
    // Starts a rebuild: every tile goes and each listed file gets a pending
    // tile, in the list's order; BuildNext draws them.
    void BeginRebuild(const std::vector<TListedFile>& files);
    // Draws the next pending tile of the running rebuild and answers its
    // index; -1 when none was drawn: the rebuild is over, or the list was
    // rebuilt or cleared while the file loaded (that drawing is dropped).
    int BuildNext();
    // Whether a rebuild still has tiles to draw.
    bool Building() const;

    // A tile for a newly written file, after the others: named by the last
    // part of the name, the hint naming it as given. Answers its index.
    int Append(const std::string& fileName);
    // Draws again the tiles of the last rebuild whose file is this one (the
    // name compared without regard to case); tiles appended since are left
    // alone. Answers the indices drawn.
    std::vector<int> Refresh(const std::string& fileName);

    // How a tile is drawn; DrawThumbnail unless replaced (tests do).
    std::function<void(TThumbnail& tile, const std::string& hintPath)> Draw;

private:
    // Draws a tile apart from the list and stores it back unless the list
    // changed under it.
    bool DrawInto(int index, const std::string& hintPath);

    std::vector<TThumbnail> FTiles;
    int FListed = 0;
    int FNext = 0;
    int FColumns = 1;
    // Changes with every rebuild and clear.
    std::uint64_t FGeneration = 0;
};
