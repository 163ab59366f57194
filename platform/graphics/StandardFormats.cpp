#include "StandardFormats.h"

#include "Bitmap.h"
#include "Icon.h"
#include "Jpeg.h"
#include "Picture.h"

void RegisterStandardGraphics()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    TPicture::RegisterFileFormat("ico", "Icônes", TIcon::Class());
    TPicture::RegisterFileFormat("bmp", "Bitmaps", TBitmap::Class());
    TPicture::RegisterFileFormat("dib", "Bitmaps", TBitmap::Class());
    TPicture::RegisterFileFormat("jpeg", "Fichier image JPEG", TJPEGImage::Class());
    TPicture::RegisterFileFormat("jpg", "Fichier image JPEG", TJPEGImage::Class());
    TPicture::RegisterClipboardFormat(CF_BITMAP, TBitmap::Class());
}
