#pragma once
// Registration of the graphics layer's own picture formats.

// Registers, in this order: icons (.ico), bitmaps (.bmp, .dib) and JPEG
// (.jpeg, .jpg). Called once at program start-up, before the codecs add
// theirs; a second call does nothing.
void RegisterStandardGraphics();
