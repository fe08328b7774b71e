// The saved host as the backend returns it, cut into the host name and the update link, and stored; and
// the other ways the host name and its link are stored and forgotten.
#pragma once

#include <QString>

#include <optional>

namespace vennacott {

struct SavedHost
{
    QString hostname;
    QString link;
};

// The backend answers with the update link ("/update/<name>/<key>") as a JSON string. When the text,
// without surrounding white space, is one JSON string, the link is its value and the host name runs from
// the link's ninth character to its last "/". Any other text is cut as the quoted link it should be: the
// link without its first and last character, the host name from the tenth character to the last "/".
// Offsets count characters as a reader sees them. Nothing when the text holds no "/".
std::optional<SavedHost> cutSavedHost(const QString &text);

// The saved-host callback: stores the cut host name, then the link. Nothing on failure, on an empty text
// or on a text without "/". Any thread.
void storeSavedHost(bool success, const QString &text);

// After a granted registration: the host name as asked for, then the link the update server handed out.
// The updater reads the link, so it is written last. Any thread.
void storeRegisteredHost(const QString &hostname, const QString &link);

// The Reset button: forgets the host name, then its link; the sign-in stays.
void forgetHost();

// Signing out: forgets the token, then the host name and its link.
void forgetSignIn();

} // namespace vennacott
