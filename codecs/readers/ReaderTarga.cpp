#include "ImageReaders.h"
#include "ReaderSupport.h"

std::function<bool(const std::string&)> TTargaGraphic::ConfirmConversion;

void TTargaGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("Targa");
}

void TTargaGraphic::SaveToStream(TStream&) const {}

void TTargaGraphic::SaveToFile(const std::string&) const {}
