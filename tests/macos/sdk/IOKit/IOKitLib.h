#include <CoreFoundation/CoreFoundation.h>  // the whole stand-in
