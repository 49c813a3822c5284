// One backend may not see another: this must not compile.
#include "backend/headless/ScriptedEngine.h"
