#pragma once

// Registers every picture format of the programs with the picture registry,
// in start-up order: the graphics layer's own formats, then PNG, the other
// readers and GIF. Later registrations win an extension. Idempotent.
void RegisterPictureFormats();
