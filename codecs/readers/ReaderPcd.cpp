// Kodak Photo-CD reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TPCDGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("Kodak Photo-CD");
}

TPCDGraphic::TPCDGraphic() = default;

void TPCDGraphic::SaveToStream(TStream&) const {}

void TPCDGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("Kodak Photo-CD");
}
