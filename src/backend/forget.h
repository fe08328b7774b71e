// Forgetting what this computer keeps of the host and of the account.
#pragma once

namespace vennacott {

// Reset: the host name, then the update link. The token stays: the user stays signed in.
void forgetHost();

// Sign out: the host name, the update link and the token. The updates stop; the backend keeps the saved
// host, so signing in again brings it back.
void forgetAccount();

} // namespace vennacott
