// ZSoft PCX reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TPCXGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("ZSoft PCX");
}

void TPCXGraphic::SaveToStream(TStream&) const {}

void TPCXGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("ZSoft PCX");
}
