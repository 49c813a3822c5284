// The kit may not see the app: this must not compile.
#include "app/Util.h"
