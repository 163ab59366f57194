#include "Graphic.h"

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Exceptions.h"
#include "Streams.h"

#include <map>
#include <mutex>

void TPersistent::Assign(const TPersistent& source)
{
    source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const
{
    throw EConvertError(std::string("Impossible d'affecter ") + ClassName() + " à " + dest.ClassName());
}

namespace {

struct ClipboardFormats {
    std::mutex Lock;
    std::map<std::string, TClipboardFormat> ByName;
    std::map<TClipboardFormat, std::string> ById;
    TClipboardFormat Next = 0xC000;
};

ClipboardFormats& Formats()
{
    static ClipboardFormats formats;
    return formats;
}

} // namespace

TClipboardFormat RegisterClipboardFormat(const std::string& name)
{
    ClipboardFormats& f = Formats();
    std::lock_guard<std::mutex> guard(f.Lock);
    auto it = f.ByName.find(name);
    if (it != f.ByName.end())
        return it->second;
    TClipboardFormat id = f.Next++;
    f.ByName.emplace(name, id);
    f.ById.emplace(id, name);
    return id;
}

std::string ClipboardFormatName(TClipboardFormat format)
{
    ClipboardFormats& f = Formats();
    std::lock_guard<std::mutex> guard(f.Lock);
    auto it = f.ById.find(format);
    return it == f.ById.end() ? std::string() : it->second;
}

void TGraphic::Changed()
{
    Modified = true;
    if (OnChange)
        OnChange(*this);
}

bool TGraphic::Equals(const TGraphic& other) const
{
    if (&other == this)
        return true;
    if (std::string(ClassName()) != other.ClassName())
        return false;
    if (GetEmpty() || other.GetEmpty())
        return GetEmpty() == other.GetEmpty();
    TMemoryStream a, b;
    SaveToStream(a);
    other.SaveToStream(b);
    return a.Data() == b.Data();
}

std::unique_ptr<TBitmap> TGraphic::TakeOpaquePixels()
{
    return nullptr;
}

void TGraphic::SetTransparent(bool value)
{
    if (value == FTransparent)
        return;
    FTransparent = value;
    Changed();
}

void TGraphic::ReadData(TStream& stream)
{
    LoadFromStream(stream);
}

void TGraphic::WriteData(TStream& stream) const
{
    SaveToStream(stream);
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) const
{
    AtomicWriteFile(fileName, [this](TStream& stream) { SaveToStream(stream); });
}

void TGraphic::LoadFromClipboardFormat(TClipboardFormat, const TClipboardData&, const TPalette&)
{
    throw EInvalidGraphic("Format de presse-papiers non supporté");
}

void TGraphic::SaveToClipboardFormat(TClipboardFormat&, TClipboardData&, TPalette&) const
{
    throw EInvalidGraphic("Format de presse-papiers non supporté");
}

void TGraphic::Progress(TProgressStage stage, int percent, bool redrawNow, const TRect& r, const std::string& msg)
{
    if (OnProgress)
        OnProgress(*this, stage, percent, redrawNow, r, msg);
}
