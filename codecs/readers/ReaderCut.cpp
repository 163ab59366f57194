// Dr. Halo CUT reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TCUTGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("Dr. Halo CUT");
}

void TCUTGraphic::LoadFromFile(const std::string& fileName)
{
    PaletteFile.clear();
    TBitmap::LoadFromFile(fileName);
}
