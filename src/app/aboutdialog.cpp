// Help > About: the version, the service, the licence, where the files are and the File menu's keys.
#include "aboutdialog.h"

#include "buildconfig.h"
#include "endpoints.h"
#include "setuppaths.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace vennacott {
namespace {

QLabel *plainLabel(const QString &text, const QString &objectName = QString())
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    label->setObjectName(objectName);
    return label;
}

QString licenceText()
{
    QFile file(QStringLiteral(":/about/LICENSE"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

QString AboutDialog::historyFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vennacott-ddns/");
}

AboutDialog::AboutDialog(const QString &settingsFile, const QList<QAction *> &menuActions, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About Vennacott DDNS"));
    auto *layout = new QVBoxLayout(this);
    QFont titleFont = font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    QLabel *title = plainLabel(QStringLiteral("Vennacott DDNS %1").arg(QString::fromUtf8(buildconfig::kVersion)),
                               QStringLiteral("version"));
    title->setFont(titleFont);
    layout->addWidget(title);

    auto *form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->addRow(tr("Service:"),
                 plainLabel(tr("API %1\nUpdates %2\nZone %3")
                                .arg(endpoints::apiBaseUrl(), endpoints::updateBaseUrl(), endpoints::zoneSuffix()),
                            QStringLiteral("service")));
    form->addRow(tr("Settings:"), plainLabel(settingsFile, QStringLiteral("settingsPath")));
    form->addRow(tr("Status:"), plainLabel(setup::statusFilePath(), QStringLiteral("statusPath")));
    const QString history = historyFolder();
    // Without a runtime folder the status file lies there too; it is not history.
    const QStringList files = QDir(history).entryList(QDir::Files);
    const bool kept = std::any_of(files.begin(), files.end(),
                                  [](const QString &name) { return !name.startsWith(QLatin1String("status-")); });
    form->addRow(tr("History:"), plainLabel(kept ? history : tr("%1 (kept once the updater writes it)").arg(history),
                                            QStringLiteral("historyPath")));
    QStringList keys;
    for (const QAction *action : menuActions) {
        if (action->shortcut().isEmpty())
            continue;
        QString name = action->text();
        // The menu's mnemonic, also in the "Name(&N)" form some languages use.
        name.remove(QRegularExpression(QStringLiteral("\\(&[^)]\\)|&(?!&)")));
        keys << tr("%1: %2").arg(name, action->shortcut().toString(QKeySequence::NativeText));
    }
    form->addRow(tr("Keys:"), plainLabel(keys.join(QLatin1Char('\n')), QStringLiteral("shortcuts")));
    layout->addLayout(form);

    layout->addWidget(plainLabel(tr("Licence:")));
    auto *licence = new QPlainTextEdit(licenceText());
    licence->setObjectName(QStringLiteral("licence"));
    licence->setReadOnly(true);
    licence->setAccessibleName(tr("Licence"));
    // The licence keeps its own line breaks; the box is as wide as its longest line.
    licence->setLineWrapMode(QPlainTextEdit::NoWrap);
    int widest = 0;
    for (const QString &line : licence->toPlainText().split(QLatin1Char('\n')))
        widest = std::max(widest, licence->fontMetrics().horizontalAdvance(line));
    licence->setMinimumWidth(widest + licence->verticalScrollBar()->sizeHint().width() +
                             2 * (licence->frameWidth() + int(licence->document()->documentMargin())));
    layout->addWidget(licence, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace vennacott
