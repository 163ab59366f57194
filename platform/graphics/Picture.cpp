#include "Picture.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Jpeg.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

namespace {

struct Registry {
    std::mutex Lock;
    std::vector<TFileFormat> Formats;
    std::vector<std::pair<TClipboardFormat, TGraphicClass>> Clipboard;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string CleanExtension(const std::string& ext)
{
    std::string e = ext;
    if (!e.empty() && e[0] == '.')
        e.erase(0, 1);
    return Lower(e);
}

// A class known to the registry (or the bitmap) with this name.
TGraphicClass FindClassByName(const std::string& name)
{
    if (name == TBitmap::Class()->ClassName)
        return TBitmap::Class();
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    for (auto it = r.Formats.rbegin(); it != r.Formats.rend(); ++it)
        if (it->GraphicClass->ClassName == name)
            return it->GraphicClass;
    for (auto& entry : r.Clipboard)
        if (entry.second->ClassName == name)
            return entry.second;
    return nullptr;
}

} // namespace

std::string ExtractExtension(const std::string& fileName)
{
    auto slash = fileName.find_last_of('/');
    auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    return Lower(fileName.substr(dot + 1));
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

namespace {

// A new graphic of the class registered for an extension; an unknown one
// raises EInvalidGraphic.
std::unique_ptr<TGraphic> CreateForExtension(const std::string& extension)
{
    const std::string ext = CleanExtension(extension);
    TGraphicClass cls = TPicture::FindGraphicClass(ext);
    if (!cls)
        throw EInvalidGraphic("Extension de fichier graphique inconnue (." + ext + ")");
    return cls->Create();
}

} // namespace

void TPicture::LoadFromFile(const std::string& fileName)
{
    std::unique_ptr<TGraphic> graphic = CreateForExtension(ExtractExtension(fileName));
    graphic->LoadFromFile(fileName);
    FGraphic = std::move(graphic);
}

void TPicture::LoadFromStream(TStream& stream, const std::string& extension)
{
    std::unique_ptr<TGraphic> graphic = CreateForExtension(extension);
    graphic->LoadFromStream(stream);
    FGraphic = std::move(graphic);
}

void TPicture::SaveToFile(const std::string& fileName) const
{
    if (FGraphic)
        FGraphic->SaveToFile(fileName);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    FGraphic = std::move(graphic);
}

TBitmap& TPicture::Bitmap()
{
    auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get());
    if (!bitmap) {
        auto fresh = std::make_unique<TBitmap>();
        bitmap = fresh.get();
        FGraphic = std::move(fresh);
    }
    return *bitmap;
}

int TPicture::Width() const
{
    return FGraphic ? FGraphic->Width() : 0;
}

int TPicture::Height() const
{
    return FGraphic ? FGraphic->Height() : 0;
}

void TPicture::Assign(const TPersistent& source)
{
    const TGraphic* graphic = nullptr;
    if (auto* picture = dynamic_cast<const TPicture*>(&source)) {
        graphic = picture->Graphic();
        if (!graphic) {
            FGraphic.reset();
            return;
        }
    } else {
        graphic = dynamic_cast<const TGraphic*>(&source);
    }
    if (!graphic) {
        TPersistent::Assign(source);
        return;
    }
    TGraphicClass cls = FindClassByName(graphic->ClassName());
    if (!cls)
        throw EConvertError(std::string("Impossible d'affecter ") + graphic->ClassName() + " à TPicture");
    std::unique_ptr<TGraphic> copy = cls->Create();
    copy->Assign(*graphic);
    FGraphic = std::move(copy);
}

void TPicture::AssignTo(TPersistent& dest) const
{
    if (FGraphic && std::string(FGraphic->ClassName()) == dest.ClassName()) {
        dest.Assign(*FGraphic);
        return;
    }
    TPersistent::AssignTo(dest);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    r.Formats.push_back(TFileFormat{CleanExtension(extension), description, graphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    std::erase_if(r.Formats, [&](const TFileFormat& f) { return f.GraphicClass == graphicClass; });
    std::erase_if(r.Clipboard, [&](const auto& e) { return e.second == graphicClass; });
}

const std::vector<TFileFormat>& TPicture::FileFormats()
{
    return TheRegistry().Formats;
}

TGraphicClass TPicture::FindGraphicClass(const std::string& extension)
{
    std::string ext = CleanExtension(extension);
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    for (auto it = r.Formats.rbegin(); it != r.Formats.rend(); ++it)
        if (it->Extension == ext)
            return it->GraphicClass;
    return nullptr;
}

void TPicture::RegisterClipboardFormat(TClipboardFormat format, TGraphicClass graphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    r.Clipboard.emplace_back(format, graphicClass);
}

TGraphicClass TPicture::FindClipboardClass(TClipboardFormat format)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Lock);
    for (auto it = r.Clipboard.rbegin(); it != r.Clipboard.rend(); ++it)
        if (it->first == format)
            return it->second;
    return nullptr;
}

std::string GraphicFilter()
{
    // Each extension once, described by the registration that wins it.
    std::vector<TFileFormat> shown;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.Lock);
        for (std::size_t i = 0; i < r.Formats.size(); ++i) {
            bool overridden = false;
            for (std::size_t j = i + 1; j < r.Formats.size(); ++j)
                if (r.Formats[j].Extension == r.Formats[i].Extension)
                    overridden = true;
            if (!overridden)
                shown.push_back(r.Formats[i]);
        }
    }
    std::string all;
    for (const auto& f : shown) {
        if (!all.empty())
            all += ";";
        all += "*." + f.Extension;
    }
    std::string filter = "Tous (" + all + ")|" + all;
    for (const auto& f : shown)
        filter += "|" + f.Description + " (*." + f.Extension + ")|*." + f.Extension;
    return filter;
}

namespace {

// A bitmap that draws onto a white 24-bit bitmap of its size as it is.
bool DrawsUnchanged(const TBitmap& bitmap)
{
    return bitmap.PixelFormat() == pf24bit && !bitmap.Transparent();
}

// Pixels taken from a graphic, made what a drawing onto a new white bitmap
// gives: no palette, no transparency settings, white row padding.
TBitmap AsDrawn(TBitmap&& pixels)
{
    TBitmap flat(std::move(pixels));
    if (!flat.GetPalette().empty())
        flat.SetPalette(TPalette{});
    flat.SetTransparentMode(tmAuto);
    const std::size_t rowBytes = static_cast<std::size_t>(flat.Width()) * 3;
    const std::size_t stride = flat.RowStride();
    if (rowBytes < stride)
        for (int y = 0; y < flat.Height(); ++y)
            std::memset(flat.ScanLine(y) + rowBytes, 0xFF, stride - rowBytes);
    return flat;
}

} // namespace

TBitmap FlattenPicture(TPicture& picture)
{
    TGraphic* graphic = picture.Graphic();
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(graphic)) {
        if (!jpeg->Empty() && DrawsUnchanged(jpeg->Bitmap()))
            return AsDrawn(std::move(*jpeg->TakeBitmap()));
    } else if (auto* bitmap = dynamic_cast<TBitmap*>(graphic)) {
        if (!bitmap->Empty() && DrawsUnchanged(*bitmap))
            return AsDrawn(std::move(*bitmap));
    } else if (graphic && !graphic->Empty()) {
        if (std::unique_ptr<TBitmap> pixels = graphic->TakeOpaquePixels())
            return AsDrawn(std::move(*pixels));
    }
    TBitmap flat(picture.Width(), picture.Height(), pf24bit);
    if (graphic)
        flat.Canvas().Draw(0, 0, *graphic);
    return flat;
}
