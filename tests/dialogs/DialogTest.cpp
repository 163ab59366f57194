#include "DialogTest.h"

#include "QtTestApp.h"
#include "Numeric.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dlgtest {

void InitOnce()
{
    testqt::InitOnce();
}

TApplication& App()
{
    return testqt::App("Corvinel");
}

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TBitmap Pattern(int width, int height)
{
    TBitmap b(width, height, pf24bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 37 + y * 11);
            row[3 * x + 1] = static_cast<std::uint8_t>(x * 5 + y * 71 + 9);
            row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) * 23 + 40);
        }
    }
    return b;
}

TTestDocument::TTestDocument(const TBitmap& picture, const std::string& fileName)
    : Document(std::make_unique<TDocument>(States))
{
    InitOnce();
    Document->SetPicture(picture);
    Document->FileName = fileName;
    Document->Aspect = StoreSingle(static_cast<Extended>(picture.Height()) / picture.Width());
    Document->SetXorPen();
    Document->View = &View;
    Document->Affiche(0, 0);
}

void DrawSelection(TDocument& document, const TRect& selection)
{
    document.Selection = selection;
    document.Trace();
    document.SelVisible = true;
}

} // namespace dlgtest
