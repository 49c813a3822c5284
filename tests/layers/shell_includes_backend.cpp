// The shell is shared by the backends and may see none of them: this must not compile.
#include "backend/headless/ScriptedEngine.h"
