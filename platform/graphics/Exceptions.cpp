#include "Exceptions.h"

void OutOfMemoryError()
{
    throw EOutOfMemory("Mémoire insuffisante");
}
