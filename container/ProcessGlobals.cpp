#include "container/ProcessGlobals.h"

int numInstances = 0;
