#include "ImageReaders.h"
#include "ReaderSupport.h"

TTIFFGraphic::TTIFFGraphic()
{
    SetPixelFormat(pf24bit);
}

void TTIFFGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("TIFF");
}

void TTIFFGraphic::SaveToStream(TStream&) const {}

void TTIFFGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("TIFF");
}
