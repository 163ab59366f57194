#include "Formats.h"

#include "StandardFormats.h"

#if HAVE_GIFPICTURE
#include "GifPicture.h"
#endif
#if HAVE_PNGCODEC
#include "PngCodec.h"
#endif
#if HAVE_READERS
#include "ImageReaders.h"
#endif

void RegisterPictureFormats()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    RegisterStandardGraphics();
#if HAVE_PNGCODEC
    RegisterPngFormat();
#endif
#if HAVE_READERS
    RegisterReaderFormats();
#endif
    // Last, so that the GIF image class answers "gif" before the readers'
    // own GIF reader: lookups run from the newest registration.
#if HAVE_GIFPICTURE
    RegisterGifFormat();
#endif
}
