// The window module maps before WebKit is loaded, so it must not be able to name it.
#include <webkit2/webkit2.h>
