// The bytes of a settings file through loading: never a crash; the file is either read whole or set aside
// with its bytes kept, and nothing of a file set aside is read; what the store writes reads back unchanged.
#include "fuzzsupport.h"
#include "settingskeys.h"
#include "userdefaults.h"

#include <QDir>
#include <QFile>
#include <QSettings>

using namespace vennacott;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::keepPrintedLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto contents = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    };
    QDir folder(fuzz::newPath(QStringLiteral("settings")));
    const QString path = folder.filePath(QStringLiteral("vennacott-ddns.conf"));
    QFile file(path);
    FUZZ_CHECK(folder.mkpath(".") && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    UserDefaults defaults(path);
    const QStringList copies = folder.entryList({QStringLiteral("vennacott-ddns.conf.corrupt-*")}, QDir::Files);
    const QSettings parsed(copies.isEmpty() ? path : folder.filePath(copies.value(0)), QSettings::NativeFormat);
    if (copies.isEmpty()) { // read whole: the file is as it was and every text value in it was read
        FUZZ_CHECK(contents(path) == bytes && parsed.status() == QSettings::NoError);
        for (const QString &key : parsed.allKeys())
            FUZZ_CHECK(parsed.value(key).typeId() != QMetaType::QString ||
                       defaults.stringForKey(key) == parsed.value(key).toString());
    } else { // set aside: one copy with the same bytes, and no value read from it
        FUZZ_CHECK(copies.size() == 1 && !QFile::exists(path) && contents(folder.filePath(copies[0])) == bytes);
        for (const QString &key : parsed.allKeys() + QStringList{keys::kToken, keys::kHostname, keys::kDnsLink})
            FUZZ_CHECK(!defaults.stringForKey(key));
    }

    // The input as UTF-8 and as Latin-1, written by the store, reads back unchanged from the file's bytes (as the
    // next start reads them), and nothing is set aside or reported.
    const QString utf8 = QString::fromUtf8(bytes), latin1 = QString::fromLatin1(bytes),
                  copy = fuzz::newPath("copy.conf");
    fuzz::printedLines().clear();
    defaults.setObject(utf8, keys::kToken);
    defaults.setObject(latin1, keys::kDnsLink);
    FUZZ_CHECK(QFile::copy(path, copy));
    UserDefaults reread(copy);
    FUZZ_CHECK(reread.stringForKey(keys::kToken) == utf8 && reread.stringForKey(keys::kDnsLink) == latin1);
    FUZZ_CHECK(fuzz::printedLines().isEmpty());
    folder.removeRecursively();
    QFile::remove(copy);
    return 0;
}
