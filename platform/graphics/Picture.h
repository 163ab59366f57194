#pragma once
// TPicture holds one graphic of any registered class, and the process-wide
// picture-format registry that chooses a class by file extension.

#include "Graphic.h"

#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TStream;

struct TFileFormat {
    std::string Extension; // lower case, without the dot
    std::string Description;
    TGraphicClass GraphicClass;
};

class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    const char* ClassName() const override { return "TPicture"; }

    // Chooses the class by the file's extension (newest registration first)
    // and loads the file; an unknown extension raises EInvalidGraphic
    // "Extension de fichier graphique inconnue (.ext)".
    void LoadFromFile(const std::string& fileName);
    // The same from a stream, the class chosen by an extension as above.
    void LoadFromStream(TStream& stream, const std::string& extension);
    void SaveToFile(const std::string& fileName) const;

    TGraphic* Graphic() const { return FGraphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap; a picture holding another class or nothing
    // gets an empty bitmap first.
    TBitmap& Bitmap();
    int Width() const;
    int Height() const;
    void Assign(const TPersistent& source) override;
    // A graphic of the held graphic's class receives a copy of it.
    void AssignTo(TPersistent& dest) const override;

    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicClass graphicClass);
    static void UnregisterGraphicClass(TGraphicClass graphicClass);
    // The registered formats, oldest first.
    static const std::vector<TFileFormat>& FileFormats();
    // The class for an extension (with or without the dot, any case), or null.
    static TGraphicClass FindGraphicClass(const std::string& extension);
    static void RegisterClipboardFormat(TClipboardFormat format, TGraphicClass graphicClass);
    static TGraphicClass FindClipboardClass(TClipboardFormat format);

private:
    std::unique_ptr<TGraphic> FGraphic;
};

// The picture as a document holds it: drawn at its own size onto a new white
// 24-bit bitmap. Where that drawing would change no pixel (an opaque 24-bit
// bitmap: what a colour JPEG decodes to, what BMP, TIFF and the other
// readers give for a 24-bit file, and an RGB PNG without transparency) the
// graphic's own pixels are taken over instead of copied, row padding and all
// made as the drawing makes them, and the picture is left without them.
TBitmap FlattenPicture(TPicture& picture);

// The open-dialog filter of the registered formats:
// "Tous (*.a;*.b)|*.a;*.b|Desc A (*.a)|*.a|Desc B (*.b)|*.b".
std::string GraphicFilter();
// The lower-case extension of a file name without the dot ("" when none).
std::string ExtractExtension(const std::string& fileName);
