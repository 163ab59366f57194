#pragma once
// The desktop clipboard behind a small interface, so that tests use their own
// clipboard and the programs the system's. Pictures go on it and come off it
// as 24-bit bitmaps.

#include "Bitmap.h"

#include <QImage>

#include <memory>
#include <string>

class IClipboard {
public:
    virtual ~IClipboard() = default;
    // True when the clipboard holds a picture (a GIF stream counts, read by
    // the picture class registered for "GIF Image").
    virtual bool HasBitmap() = 0;
    // The picture on the clipboard as a new 24-bit bitmap, or null when it
    // holds none.
    virtual std::unique_ptr<TBitmap> GetBitmap() = 0;
    // Puts a copy of the picture on the clipboard in place of its contents.
    virtual void SetBitmap(const TBitmap& bitmap) = 0;
    // Empties the clipboard.
    virtual void Clear() = 0;
};

// QImage <-> TBitmap, both ways through 24 bits.
std::unique_ptr<TBitmap> BitmapFromImage(const QImage& image);
QImage ImageFromBitmap(const TBitmap& bitmap);

// The system clipboard through QClipboard.
class TQtClipboard : public IClipboard {
public:
    bool HasBitmap() override;
    std::unique_ptr<TBitmap> GetBitmap() override;
    void SetBitmap(const TBitmap& bitmap) override;
    void Clear() override;
};

// A clipboard of the process's own, for tests.
class TMemoryClipboard : public IClipboard {
public:
    bool HasBitmap() override { return FBitmap != nullptr; }
    std::unique_ptr<TBitmap> GetBitmap() override;
    void SetBitmap(const TBitmap& bitmap) override;
    void Clear() override { FBitmap.reset(); }

private:
    std::unique_ptr<TBitmap> FBitmap;
};

// Registered clipboard formats beside the bitmap: "GIF Image" travels on the
// desktop clipboard under its name and as image/gif.
class QMimeData;
// The MIME type of a registered format's name; empty when there is none.
std::string ClipboardMimeType(const std::string& formatName);
// Adds the bytes of a registered clipboard format to what the system
// clipboard holds, under the format's name and its MIME type. False when
// there is no clipboard to take them.
bool PlaceClipboardFormat(TClipboardFormat format, const TClipboardData& data);
// Whether the data holds a picture in a format a registered picture class
// reads, and that picture drawn on white (null when none can be read).
bool HasRegisteredPicture(const QMimeData& data);
std::unique_ptr<TBitmap> RegisteredPicture(const QMimeData& data);
