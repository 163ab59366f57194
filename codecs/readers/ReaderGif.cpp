// GIF reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TGIFGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("GIF");
}

