#pragma once
// TPersistent and TGraphic: the common interface of every picture class (the
// bitmap, the icon, JPEG and the codecs), and the clipboard format ids.

#include "Types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TCanvas;
class TStream;

class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual const char* ClassName() const { return "TPersistent"; }
    // Copies source into this object; the default asks source.AssignTo.
    virtual void Assign(const TPersistent& source);
    // Copies this object into dest; the default raises EConvertError.
    virtual void AssignTo(TPersistent& dest) const;
};

// Clipboard formats: the predefined ids and the registered ones (0xC000 up).
using TClipboardFormat = std::uint32_t;
constexpr TClipboardFormat CF_BITMAP = 2;
constexpr TClipboardFormat CF_DIB = 8;
constexpr TClipboardFormat CF_PALETTE = 9;
// Answers the id of a named format, the same id for the same name.
TClipboardFormat RegisterClipboardFormat(const std::string& name);
std::string ClipboardFormatName(TClipboardFormat format);
// The bytes of one clipboard format. For CF_BITMAP and CF_DIB: a DIB
// (BITMAPINFOHEADER, colour table, bottom-up rows) without file header.
using TClipboardData = std::vector<std::uint8_t>;

enum class TProgressStage { psStarting, psRunning, psEnding };
using enum TProgressStage;

class TGraphic : public TPersistent {
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;
    const char* ClassName() const override { return "TGraphic"; }

    // Called after every change of the picture: sets Modified, fires OnChange.
    virtual void Changed();
    // Draws the picture stretched into rect of canvas.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
    // Two graphics are equal when they are of one class and save the same bytes.
    virtual bool Equals(const TGraphic& other) const;
    // For a caller that keeps the pixels in place of the picture: a 24-bit
    // bitmap whose pixels are those that drawing the picture at its own size
    // onto a new white 24-bit bitmap gives, handed over instead of copied
    // (palette, transparency settings and row padding as they are). Null,
    // the picture left as it is, when the drawing would change them or the
    // class does not hand its pixels over.
    virtual std::unique_ptr<TBitmap> TakeOpaquePixels();

    virtual bool GetEmpty() const = 0;
    virtual int GetHeight() const = 0;
    virtual int GetWidth() const = 0;
    virtual TPalette GetPalette() const { return {}; }
    virtual bool GetTransparent() const { return FTransparent; }
    // A fault met while reading the pixels that left the picture incomplete
    // (what the file held is shown, the rest is filled), in the codec's own
    // words; "" when the picture is whole or not read yet.
    virtual std::string ReadWarning() const { return {}; }
    virtual void SetHeight(int value) = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetPalette(const TPalette&) {}
    virtual void SetTransparent(bool value);

    // Form storage of the picture; by default the stream format itself.
    virtual void ReadData(TStream& stream);
    virtual void WriteData(TStream& stream) const;

    virtual void LoadFromFile(const std::string& fileName);
    // Saves through atomic writing.
    virtual void SaveToFile(const std::string& fileName) const;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    virtual void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                         const TPalette& palette);
    virtual void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const;

    bool Empty() const { return GetEmpty(); }
    int Width() const { return GetWidth(); }
    int Height() const { return GetHeight(); }
    bool Transparent() const { return GetTransparent(); }

    bool Modified = false;
    bool PaletteModified = false;
    std::function<void(TGraphic&)> OnChange;
    std::function<void(TGraphic&, TProgressStage, int percent, bool redrawNow, const TRect&, const std::string&)>
        OnProgress;

protected:
    void Progress(TProgressStage stage, int percent, bool redrawNow, const TRect& r, const std::string& msg);
    bool FTransparent = false;
};

// What the registry knows of a graphic class: its name and how to make one.
struct TGraphicClassInfo {
    std::string ClassName;
    std::function<std::unique_ptr<TGraphic>()> Create;
};
using TGraphicClass = const TGraphicClassInfo*;
