#pragma once
// The unscrambling of texts kept out of plain sight in the program's data.

#include <QByteArray>

// Subtracts the key's bytes, repeated from its first, from the data's bytes
// modulo 256: result has as many bytes as data. Empty data gives an empty
// result; an empty key gives the data unchanged.
void UnscrambleText(const QByteArray& key, const QByteArray& data, QByteArray& result);
