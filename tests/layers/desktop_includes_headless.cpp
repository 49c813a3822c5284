// The window may not see the headless backend: this must not compile.
#include "backend/headless/ScriptedEngine.h"
