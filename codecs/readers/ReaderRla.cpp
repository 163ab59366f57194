// Wavefront RLA reading. Not provided yet: the loader refuses with a clear message.

#include "ImageReaders.h"
#include "ReaderSupport.h"

void TRLAGraphic::LoadFromStream(TStream&)
{
    RefuseLoad("Wavefront RLA");
}

