// Core dumps of the client's programs hold the update key and the sign-in token.
#include "coredumps.h"

#include <sys/resource.h>

namespace vennacott {

void turnCoreDumpsOff()
{
#ifndef VENNACOTT_ALLOW_CORE_DUMPS
    // The hard limit too: another process of the same user could otherwise raise the soft one again.
    const rlimit none = {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#endif
}

} // namespace vennacott
