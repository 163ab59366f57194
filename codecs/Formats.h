#pragma once

// Registers every picture format of the programs with the picture registry,
// in start-up order: the graphics layer's own formats, then GIF, PNG and the
// other readers. Later registrations win an extension. Idempotent.
void RegisterPictureFormats();
