// File > History: what the updater saw change, as a timeline over the last day, week or month and, below it,
// a table per address family that a screen reader reads.
#pragma once

#include "history.h"

#include <QList>
#include <QWidget>

class QComboBox;
class QLabel;
class QVBoxLayout;

namespace vennacott {

class Updater;
class HistoryTimeline;

// One address a family kept: from the entry that brought it to the entry that replaced it (or now).
struct AddressSpan
{
    QString address;
    QDateTime firstSeen;
    QDateTime lastSeen;
    bool current = false;
};

// The addresses of `entries` (one family, oldest first) in order; entries without an address are skipped
// and do not end a span.
QList<AddressSpan> addressSpans(const QList<HistoryEntry> &entries, const QDateTime &now);

// Not modal; reads the history file again whenever the updater's status changes, never on a timer.
class HistoryWindow final : public QWidget
{
    Q_OBJECT
public:
    HistoryWindow(Updater &updater, QString historyFile, QWidget *parent = nullptr);

    void reload();

private:
    QString m_historyFile;
    QComboBox *m_period = nullptr;
    HistoryTimeline *m_timeline = nullptr;
    QLabel *m_pointed = nullptr;
    QLabel *m_empty = nullptr;
    QVBoxLayout *m_tables = nullptr;
};

} // namespace vennacott
