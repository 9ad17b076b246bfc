// Compiled as a file of loader/: the folders below it are in view.
#include "fieldmodel/fieldutils.h"
#include "model/maincontext.h"
