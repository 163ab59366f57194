// Portable bitmap reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TPPMGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("Portable bitmap");
}

