#include "runtime/number/extended.h"
