// The app sees the kit: this compiles, so the other probes fail for their include alone.
#include "app/Util.h"
#include "kit/View.h"
