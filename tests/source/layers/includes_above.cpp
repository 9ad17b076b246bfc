// Compiled as a file of loader/: the module's top folder is above it, so
// this include must not be found.
#include "main/main.h"
