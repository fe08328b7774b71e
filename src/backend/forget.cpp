// Forgetting what this computer keeps of the host and of the account.
#include "forget.h"

#include "settingskeys.h"
#include "userdefaults.h"

namespace vennacott {

void forgetHost()
{
    UserDefaults::standard().removeObjectForKey(keys::kHostname);
    UserDefaults::standard().removeObjectForKey(keys::kDnsLink);
}

void forgetAccount()
{
    forgetHost();
    UserDefaults::standard().removeObjectForKey(keys::kToken);
}

} // namespace vennacott
