// SIGINT and SIGTERM delivered to the GUI thread as a Qt signal.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace vennacott {

// The handlers only write the signal number into a pipe; the notifier reads it on the thread that
// created this object, where anything may be done about it.
class TerminationSignals final : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace vennacott
