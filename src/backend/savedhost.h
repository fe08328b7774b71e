// The saved host as the backend returns it, cut into the host name and the update link.
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

// The saved host to store from a saved-host reply, or nothing: only a link of the form
// "/update/<name>/<key>" the update server hands out (the name a DNS label, the link at most 512 characters)
// is taken, so a reply of any other size or shape never reaches the settings file.
std::optional<SavedHost> acceptedSavedHost(const QString &text);

} // namespace vennacott
