// Core dumps of the client's programs hold the update key and the sign-in token.
#pragma once

namespace vennacott {

// Called first in main(): this process leaves no core dump. RLIMIT_CORE 0, soft and hard, which the kernel
// honours for a core file and systemd-coredump for the core a pipe hands it; unlike PR_SET_DUMPABLE it
// keeps the process's /proc files readable to its user. A developer build may keep them
// (VENNACOTT_ALLOW_CORE_DUMPS).
void turnCoreDumpsOff();

} // namespace vennacott
