#include "kit/View.h"
#include "app/Util.h"
