#include "GifSaveEncoder.h"

#include "Bitmap.h"
#include "Exceptions.h"

#if HAVE_GIFPICTURE
#include "GifPicture.h"
#endif

bool GifEncoderAvailable()
{
#if HAVE_GIFPICTURE
    return true;
#else
    return false;
#endif
}

std::unique_ptr<TGraphic> MakeGifEncoder(const TBitmap& picture, bool sixteenColours)
{
#if HAVE_GIFPICTURE
    auto gif = std::make_unique<TGifPicture>();
    gif->ReductionMethod = rdOctree;
    gif->SetPaletteBits(sixteenColours ? 4 : 8);
    gif->DitherMethod = dtFloydSteinberg;
    gif->Assign(picture);
    return gif;
#else
    (void)picture;
    (void)sixteenColours;
    throw Exception("L'enregistrement au format GIF n'est pas disponible dans cette version");
#endif
}
