// The reader classes' registry entries and the registration of their
// extensions.

#include "ImageReaders.h"

#include "Picture.h"

#include <memory>

namespace {

template <class T>
TGraphicClass ClassOf(const char* name)
{
    static const TGraphicClassInfo info{name, [] { return std::unique_ptr<TGraphic>(new T); }};
    return &info;
}

int StartCount = 0;

} // namespace

TGraphicClass TSGIGraphic::Class() { return ClassOf<TSGIGraphic>("TSGIGraphic"); }
TGraphicClass TAutodeskGraphic::Class() { return ClassOf<TAutodeskGraphic>("TAutodeskGraphic"); }
TGraphicClass TTIFFGraphic::Class() { return ClassOf<TTIFFGraphic>("TTIFFGraphic"); }
TGraphicClass TTargaGraphic::Class() { return ClassOf<TTargaGraphic>("TTargaGraphic"); }
TGraphicClass TPCXGraphic::Class() { return ClassOf<TPCXGraphic>("TPCXGraphic"); }
TGraphicClass TPCDGraphic::Class() { return ClassOf<TPCDGraphic>("TPCDGraphic"); }
TGraphicClass TPPMGraphic::Class() { return ClassOf<TPPMGraphic>("TPPMGraphic"); }
TGraphicClass TCUTGraphic::Class() { return ClassOf<TCUTGraphic>("TCUTGraphic"); }
TGraphicClass TGIFGraphic::Class() { return ClassOf<TGIFGraphic>("TGIFGraphic"); }
TGraphicClass TRLAGraphic::Class() { return ClassOf<TRLAGraphic>("TRLAGraphic"); }
TGraphicClass TPSDGraphic::Class() { return ClassOf<TPSDGraphic>("TPSDGraphic"); }

void RegisterReaderFormats()
{
    if (StartCount++ > 0)
        return;
    struct Entry {
        const char* Extension;
        const char* Description;
        TGraphicClass Class;
    };
    const char* const truevision = "Truevision images";
    const char* const sgi = "SGI true color images";
    const char* const wavefront = "SGI Wavefront images";
    const char* const photoshop = "Photoshop images";
    const char* const autodesk = "Autodesk images";
    const Entry entries[] = {
        {"win", truevision, TTargaGraphic::Class()},
        {"vst", truevision, TTargaGraphic::Class()},
        {"vda", truevision, TTargaGraphic::Class()},
        {"tiff", "TIFF images", TTIFFGraphic::Class()},
        {"tif", "TIFF images", TTIFFGraphic::Class()},
        {"tga", truevision, TTargaGraphic::Class()},
        {"sgi", sgi, TSGIGraphic::Class()},
        {"scr", "Word 5.x screen capture images", TPCXGraphic::Class()},
        {"rpf", wavefront, TRLAGraphic::Class()},
        {"rle", "Windows bitmap", TBitmap::Class()},
        {"rla", wavefront, TRLAGraphic::Class()},
        {"rgba", sgi, TSGIGraphic::Class()},
        {"rgb", sgi, TSGIGraphic::Class()},
        {"psd", photoshop, TPSDGraphic::Class()},
        {"ppm", "Portable pixel map images", TPPMGraphic::Class()},
        {"pgm", "Portable grayscale images", TPPMGraphic::Class()},
        {"pbm", "Portable b&w images", TPPMGraphic::Class()},
        {"pic", autodesk, TAutodeskGraphic::Class()},
        {"pcx", "ZSoft PCX images", TPCXGraphic::Class()},
        {"pdd", photoshop, TPSDGraphic::Class()},
        {"pcd", "Kodak Photo-CD images", TPCDGraphic::Class()},
        {"pcc", "ZSoft PCC images", TPCXGraphic::Class()},
        {"icb", truevision, TTargaGraphic::Class()},
        {"gif", "CompuServe images", TGIFGraphic::Class()},
        {"dib", "Windows bitmap", TBitmap::Class()},
        {"cut", "Dr. Halo images", TCUTGraphic::Class()},
        {"cel", autodesk, TAutodeskGraphic::Class()},
        {"bw", "SGI black/white images", TSGIGraphic::Class()},
    };
    for (const Entry& e : entries)
        TPicture::RegisterFileFormat(e.Extension, e.Description, e.Class);
}

void UnregisterReaderFormats()
{
    if (StartCount == 0 || --StartCount > 0)
        return;
    for (TGraphicClass c : {TTargaGraphic::Class(), TTIFFGraphic::Class(), TSGIGraphic::Class(),
                            TPCXGraphic::Class(), TAutodeskGraphic::Class(), TPCDGraphic::Class(),
                            TPPMGraphic::Class(), TCUTGraphic::Class(), TGIFGraphic::Class(),
                            TRLAGraphic::Class(), TPSDGraphic::Class()})
        TPicture::UnregisterGraphicClass(c);
}
