// An error as the platform's services report it: where it comes from, a code and a text for people.
#pragma once

#include <QString>

namespace vennacott {

struct Error
{
    QString domain; // the service that reports it, e.g. the local store
    int code = 0;
    QString localizedDescription; // one sentence, shown to the user as it stands

    // The printed form, for logs and fatal messages: Error Domain=<domain> Code=<code> "<description>"
    QString description() const;
};

} // namespace vennacott
