#include "Thumbnails.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Document.h"
#include "EditorFrame.h"
#include "Exceptions.h"
#include "Numeric.h"
#include "Picture.h"

#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <exception>

const char* const BrowseMask =
    "*.png;*.bw;*.cel;*.cut;*.dib;*.gif;*.icb;*.pcc;*.pcd;*.pcx;*.pic;*.pbm;*.pgm;*.ppm;*.psd;*.rgb;*.rgba;"
    "*.rla;*.rle;*.rpf;*.scr;*.sgi;*.tga;*.tif;*.tiff;*.vda;*.vst;*.win;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf";

int ColumnsFor(int clientWidth)
{
    // The area is never narrower than one tile; a hidden one may be.
    return std::max(1, (clientWidth - TileMargin) / TileStepX);
}

TPoint TileOrigin(int index, int columns)
{
    columns = std::max(1, columns);
    return TPoint{(index % columns) * TileStepX + TileMargin, (index / columns) * TileStepY + TileMargin};
}

std::int64_t GridHeight(int count, int columns)
{
    if (count <= 0)
        return 0;
    columns = std::max(1, columns);
    const std::int64_t rows = (static_cast<std::int64_t>(count) + columns - 1) / columns;
    return rows * TileStepY;
}

TThumbSize ThumbnailSize(int pictureWidth, int pictureHeight)
{
    const float ratio = StoreSingle(static_cast<Extended>(pictureHeight) / pictureWidth);
    // The other side is worked out in single precision, as all pixel
    // arithmetic, then cut: a 3000 x 4000 photo gets a 75-pixel width.
    const float box = static_cast<float>(ThumbBox);
    TThumbSize size;
    if (ratio >= 1.0f) {
        size.Height = ThumbBox;
        size.Width = static_cast<int>(Trunc(box / ratio));
    } else {
        size.Width = ThumbBox;
        size.Height = static_cast<int>(Trunc(ratio * box));
    }
    return size;
}

TPoint ThumbnailOffset(const TThumbSize& size)
{
    return TPoint{(ThumbBox - size.Width) / 2 + TileMargin, (ThumbBox - size.Height) / 2 + TileMargin};
}

const char* const IncompleteHint = "Fichier incomplet";

std::string ThumbnailHint(const std::string& path, std::uint64_t fileSize, int width, int height)
{
    return path + ". \n" + std::to_string(fileSize) + " octets.\n" + std::to_string(width) + " x " +
           std::to_string(height);
}

namespace {

// The file's size, or false when it is no file that can be read.
bool FileSize(const std::string& path, std::uint64_t& size)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void MakePlaceholder(TThumbnail& tile, const std::string& hintPath, std::uint64_t fileSize, const std::string& why)
{
    tile.State = TThumbState::Failed;
    tile.Picture.reset();
    tile.PictureWidth = 0;
    tile.PictureHeight = 0;
    tile.Size = TThumbSize{ThumbBox, ThumbBox};
    tile.Offset = ThumbnailOffset(tile.Size);
    tile.Error = why;
    tile.Hint = hintPath + ". \n" + std::to_string(fileSize) + " octets.\n" + why;
}

} // namespace

void DrawThumbnail(TThumbnail& tile, const std::string& hintPath)
{
    std::uint64_t fileSize = 0;
    if (!FileSize(tile.FileName, fileSize)) {
        MakePlaceholder(tile, hintPath, 0, "Fichier introuvable");
        return;
    }
    // An empty file holds no picture; no reader need be asked.
    if (fileSize == 0) {
        MakePlaceholder(tile, hintPath, 0, "Fichier vide");
        return;
    }
    try {
        // A thumbnail never waits on a small file that describes a huge
        // picture, nor on the frames of an animation after its first.
        const TThumbnailBudgetScope budget;
        const TFirstPictureScope first;
        TPicture picture;
        picture.LoadFromFile(tile.FileName);
        TGraphic* graphic = picture.Graphic();
        if (!graphic || graphic->Empty() || picture.Width() <= 0 || picture.Height() <= 0) {
            MakePlaceholder(tile, hintPath, fileSize, "Image vide");
            return;
        }
        const int width = picture.Width();
        const int height = picture.Height();
        const TThumbSize size = ThumbnailSize(width, height);
        std::shared_ptr<TBitmap> thumb;
        if (size.Width > 0 && size.Height > 0) {
            // A new bitmap is white: what the photo leaves uncovered (a
            // transparent part) stays white as the tile around it.
            thumb = std::make_shared<TBitmap>(size.Width, size.Height, pf24bit);
            thumb->Canvas().StretchDraw(Rect(0, 0, size.Width, size.Height), *graphic);
        }
        tile.State = TThumbState::Drawn;
        tile.Picture = std::move(thumb);
        tile.PictureWidth = width;
        tile.PictureHeight = height;
        tile.Size = size;
        tile.Offset = ThumbnailOffset(size);
        tile.Error.clear();
        tile.Hint = ThumbnailHint(hintPath, fileSize, width, height);
        // A damaged file shows what it holds; its tool tip says so, quietly
        // (a folder of them raises no boxes).
        if (!graphic->ReadWarning().empty())
            tile.Hint += "\n" + std::string(IncompleteHint);
    } catch (const Exception& e) {
        MakePlaceholder(tile, hintPath, fileSize, e.Message);
    } catch (const std::bad_alloc&) {
        MakePlaceholder(tile, hintPath, fileSize, "Mémoire insuffisante");
    } catch (const std::exception& e) {
        MakePlaceholder(tile, hintPath, fileSize, e.what());
    }
}

TThumbnailList::TThumbnailList() : Draw(DrawThumbnail)
{
}

bool TThumbnailList::SetColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == FColumns)
        return false;
    FColumns = columns;
    return true;
}

void TThumbnailList::Clear()
{
    ++FGeneration;
    FTiles.clear();
    FListed = 0;
    FNext = 0;
}

void TThumbnailList::BeginRebuild(const std::vector<TListedFile>& files)
{
    Clear();
    FTiles.reserve(files.size());
    for (const TListedFile& file : files) {
        TThumbnail tile;
        tile.FileName = ExpandFileName(file.Path);
        tile.Caption = file.Caption;
        FTiles.push_back(std::move(tile));
    }
    FListed = static_cast<int>(FTiles.size());
}

bool TThumbnailList::Building() const
{
    for (int i = FNext; i < FListed; ++i)
        if (FTiles[static_cast<std::size_t>(i)].State == TThumbState::Pending)
            return true;
    return false;
}

bool TThumbnailList::DrawInto(int index, const std::string& hintPath)
{
    const std::uint64_t generation = FGeneration;
    // The tile is drawn apart: whatever runs while the file loads may
    // change the list, and then this drawing belongs to no tile.
    TThumbnail work = FTiles[static_cast<std::size_t>(index)];
    Draw(work, hintPath);
    if (generation != FGeneration || index >= Count())
        return false;
    TThumbnail& tile = FTiles[static_cast<std::size_t>(index)];
    work.FileName = tile.FileName;
    work.Caption = tile.Caption;
    tile = std::move(work);
    return true;
}

int TThumbnailList::BuildNext()
{
    while (FNext < FListed) {
        const int index = FNext++;
        const TThumbnail& tile = FTiles[static_cast<std::size_t>(index)];
        // A tile drawn since the rebuild began (a refresh) stands.
        if (tile.State != TThumbState::Pending)
            continue;
        const std::string path = tile.FileName;
        if (DrawInto(index, path))
            return index;
        return -1;
    }
    return -1;
}

int TThumbnailList::Append(const std::string& fileName)
{
    TThumbnail tile;
    tile.FileName = ExpandFileName(fileName);
    tile.Caption = ExtractFileName(fileName);
    FTiles.push_back(std::move(tile));
    const int index = Count() - 1;
    DrawInto(index, fileName);
    return index;
}

std::vector<int> TThumbnailList::Refresh(const std::string& fileName)
{
    const QString wanted = QString::fromStdString(ExpandFileName(fileName));
    std::vector<int> drawn;
    for (int i = 0; i < FListed && i < Count(); ++i) {
        const std::string path = FTiles[static_cast<std::size_t>(i)].FileName;
        if (QString::compare(QString::fromStdString(path), wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (!DrawInto(i, path))
            break;
        drawn.push_back(i);
    }
    return drawn;
}
