// The app may not see a backend: this must not compile.
#include "backend/headless/HttpEngine.h"
