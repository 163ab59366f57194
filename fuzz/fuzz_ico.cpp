// Loads arbitrary bytes as an icon file and draws it, plain and stretched.
// Only the graphics layer's exceptions are expected. The picture formats are
// registered, so that PNG entries reach the PNG codec.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "FuzzSetup.h"
#include "Icon.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PrepareFuzzing();
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        TIcon icon;
        icon.LoadFromStream(stream);
        TBitmap canvas(16, 16, pf24bit);
        icon.Draw(canvas.Canvas(), Rect(0, 0, icon.Width(), icon.Height()));
        icon.Draw(canvas.Canvas(), Rect(-3, 15, 20, 2));
    } catch (const Exception&) {
    }
    return 0;
}
