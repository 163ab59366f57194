#pragma once

// Registers every picture format of the programs with the picture registry,
// in start-up order: the graphics layer's own formats, PNG, the other
// readers, then GIF. Later registrations win an extension. Idempotent.
void RegisterPictureFormats();
