// File > History: what the updater saw change, as a timeline and a table per address family.
#include "historywindow.h"

#include "addressfamilies.h"
#include "updater.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include <functional>

namespace vennacott {
namespace {

// Results as the band shows them; not running is the time nothing was written (before the first entry).
enum class Band { Updated, Refused, NoAnswer, NotRunning };

Band bandOf(UpdateResult result)
{
    switch (result) {
    case UpdateResult::Updated:
        return Band::Updated;
    case UpdateResult::Refused:
        return Band::Refused;
    case UpdateResult::NoAnswer:
        break;
    }
    return Band::NoAnswer;
}

// Mid tones that stand out on light and on dark backgrounds alike.
QColor bandColour(Band band)
{
    switch (band) {
    case Band::Updated:
        return QColor(0x2e, 0x9b, 0x48);
    case Band::Refused:
        return QColor(0xd0, 0x45, 0x3a);
    case Band::NoAnswer:
        return QColor(0xe0, 0x98, 0x1e);
    case Band::NotRunning:
        break;
    }
    return QColor(0x9a, 0x9a, 0x9a);
}

QString bandName(Band band)
{
    switch (band) {
    case Band::Updated:
        return QCoreApplication::translate("HistoryWindow", "updated");
    case Band::Refused:
        return QCoreApplication::translate("HistoryWindow", "refused");
    case Band::NoAnswer:
        return QCoreApplication::translate("HistoryWindow", "no answer");
    case Band::NotRunning:
        break;
    }
    return QCoreApplication::translate("HistoryWindow", "not running");
}

QString familyName(AddressFamily family)
{
    return family == AddressFamily::Any ? QCoreApplication::translate("HistoryWindow", "Either family")
                                        : familyLabel(family);
}

QString shownTime(const QDateTime &time)
{
    return QLocale().toString(time.toLocalTime(), QLocale::ShortFormat);
}

QString shownDuration(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QCoreApplication::translate("HistoryWindow", "%1 min").arg(minutes);
    if (minutes < 48 * 60)
        return QCoreApplication::translate("HistoryWindow", "%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    return QCoreApplication::translate("HistoryWindow", "%1 days %2 h").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
}

struct FamilyRow
{
    AddressFamily family;
    QList<HistoryEntry> entries;
};

} // namespace

QList<AddressSpan> addressSpans(const QList<HistoryEntry> &entries, const QDateTime &now)
{
    QList<AddressSpan> spans;
    for (const HistoryEntry &entry : entries) {
        if (entry.address.isEmpty())
            continue;
        if (!spans.isEmpty() && spans.last().address == entry.address)
            continue;
        if (!spans.isEmpty()) {
            spans.last().lastSeen = entry.time;
            spans.last().current = false;
        }
        spans.append({entry.address, entry.time, now, true});
    }
    return spans;
}

// One band per family over the chosen period, a mark where the address changed; says what lies under the
// pointer through `pointed`.
class HistoryTimeline final : public QWidget
{
public:
    explicit HistoryTimeline(QWidget *parent)
        : QWidget(parent)
    {
        setMouseTracking(true);
        setMinimumSize(480, 0);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(QCoreApplication::translate("HistoryWindow", "Timeline"));
        setAccessibleDescription(
            QCoreApplication::translate("HistoryWindow", "The same changes are listed in the tables below."));
    }

    void show(QList<FamilyRow> rows, const QDateTime &from, const QDateTime &to)
    {
        m_rows = std::move(rows);
        m_from = from;
        m_to = to;
        setFixedHeight(std::max<int>(1, int(m_rows.size())) * kRowHeight + fontMetrics().height() + 6);
        update();
    }

    std::function<void(const QString &)> pointed;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        const int labelWidth = this->labelWidth();
        const int width = this->width() - labelWidth - 4;
        if (width <= 0 || !m_from.isValid())
            return;
        const double span = double(m_from.secsTo(m_to));
        const auto xOf = [&](const QDateTime &time) {
            return labelWidth + int(std::clamp(m_from.secsTo(time) / span, 0.0, 1.0) * width);
        };
        for (int row = 0; row < m_rows.size(); ++row) {
            const QRect band(labelWidth, row * kRowHeight + 4, width, kRowHeight - 8);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(QRect(2, band.top(), labelWidth - 6, band.height()), Qt::AlignVCenter | Qt::AlignRight,
                             familyName(m_rows[row].family));
            const QList<HistoryEntry> &entries = m_rows[row].entries;
            painter.fillRect(band, bandColour(Band::NotRunning));
            QString address;
            for (int i = 0; i < entries.size(); ++i) {
                const QDateTime end = i + 1 < entries.size() ? entries[i + 1].time : m_to;
                if (end < m_from)
                    continue;
                const int left = xOf(entries[i].time);
                painter.fillRect(QRect(left, band.top(), std::max(1, xOf(end) - left), band.height()),
                                 bandColour(bandOf(entries[i].result)));
                const bool changed = !entries[i].address.isEmpty() && entries[i].address != address && i > 0;
                if (!entries[i].address.isEmpty())
                    address = entries[i].address;
                if (changed && entries[i].time >= m_from) {
                    painter.setPen(QPen(palette().color(QPalette::Text), 2));
                    painter.drawLine(left, band.top() - 3, left, band.bottom() + 3);
                }
            }
        }
        painter.setPen(palette().color(QPalette::Text));
        const QRect axis(labelWidth, int(m_rows.size()) * kRowHeight, width, fontMetrics().height() + 4);
        painter.drawText(axis, Qt::AlignLeft | Qt::AlignVCenter, shownTime(m_from));
        painter.drawText(axis, Qt::AlignRight | Qt::AlignVCenter, QCoreApplication::translate("HistoryWindow", "now"));
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QString text = textAt(event->position().toPoint());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPosition().toPoint(), text, this);
        if (pointed)
            pointed(text);
    }

    void leaveEvent(QEvent *) override
    {
        if (pointed)
            pointed(QString());
    }

private:
    static constexpr int kRowHeight = 28;

    int labelWidth() const
    {
        int widest = 0;
        for (const FamilyRow &row : m_rows)
            widest = std::max(widest, fontMetrics().horizontalAdvance(familyName(row.family)));
        return widest + 10;
    }

    QString textAt(const QPoint &point) const
    {
        const int row = point.y() / kRowHeight;
        const int labelWidth = this->labelWidth();
        const int width = this->width() - labelWidth - 4;
        if (row < 0 || row >= m_rows.size() || point.x() < labelWidth || width <= 0)
            return {};
        const QDateTime time =
            m_from.addSecs(qint64(double(point.x() - labelWidth) / width * double(m_from.secsTo(m_to))));
        Band band = Band::NotRunning;
        QString address;
        for (const HistoryEntry &entry : m_rows[row].entries) {
            if (entry.time > time)
                break;
            band = bandOf(entry.result);
            if (!entry.address.isEmpty())
                address = entry.address;
        }
        return QCoreApplication::translate("HistoryWindow", "%1  %2: %3, %4")
            .arg(shownTime(time), familyName(m_rows[row].family), bandName(band),
                 address.isEmpty() ? QCoreApplication::translate("HistoryWindow", "no address") : address);
    }

    QList<FamilyRow> m_rows;
    QDateTime m_from;
    QDateTime m_to;
};

HistoryWindow::HistoryWindow(Updater &updater, QString historyFile, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_historyFile(std::move(historyFile))
{
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QCoreApplication::translate("HistoryWindow", "History"));
    auto *layout = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    auto *periodLabel = new QLabel(QCoreApplication::translate("HistoryWindow", "&Show:"));
    m_period = new QComboBox;
    m_period->setObjectName(QStringLiteral("historyPeriod"));
    m_period->addItem(QCoreApplication::translate("HistoryWindow", "Last day"), 1);
    m_period->addItem(QCoreApplication::translate("HistoryWindow", "Last week"), 7);
    m_period->addItem(QCoreApplication::translate("HistoryWindow", "Last month"), 31);
    periodLabel->setBuddy(m_period);
    top->addWidget(periodLabel);
    top->addWidget(m_period);
    top->addStretch(1);
    // The legend: a coloured square before each result's name.
    for (const Band band : {Band::Updated, Band::Refused, Band::NoAnswer, Band::NotRunning}) {
        auto *legend = new QLabel(QStringLiteral("<span style=\"color:%1\">&#9632;</span> %2")
                                      .arg(bandColour(band).name(), bandName(band).toHtmlEscaped()));
        legend->setTextFormat(Qt::RichText);
        top->addWidget(legend);
    }
    layout->addLayout(top);

    m_timeline = new HistoryTimeline(this);
    layout->addWidget(m_timeline);
    m_pointed = new QLabel;
    m_pointed->setObjectName(QStringLiteral("historyPointed"));
    m_pointed->setTextFormat(Qt::PlainText);
    m_pointed->setMinimumHeight(m_pointed->fontMetrics().height());
    m_timeline->pointed = [this](const QString &text) { m_pointed->setText(text); };
    layout->addWidget(m_pointed);

    m_empty = new QLabel(QCoreApplication::translate(
        "HistoryWindow", "Nothing kept yet: the history starts with the updater's first update."));
    m_empty->setWordWrap(true);
    layout->addWidget(m_empty);
    m_tables = new QVBoxLayout;
    layout->addLayout(m_tables, 1);

    connect(m_period, &QComboBox::currentIndexChanged, this, &HistoryWindow::reload);
    connect(&updater, &Updater::statusChanged, this, &HistoryWindow::reload);
    reload();
    resize(720, 480);
}

void HistoryWindow::reload()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<HistoryEntry> entries = History(m_historyFile).read();
    QList<FamilyRow> rows;
    for (const AddressFamily family : {AddressFamily::IPv4, AddressFamily::IPv6, AddressFamily::Any}) {
        FamilyRow row{family, {}};
        for (const HistoryEntry &entry : entries)
            if (entry.family == family)
                row.entries.append(entry);
        if (!row.entries.isEmpty())
            rows.append(row);
    }
    m_timeline->show(rows, now.addDays(-m_period->currentData().toInt()), now);
    m_empty->setVisible(rows.isEmpty());

    while (QLayoutItem *item = m_tables->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QStringList headers{QCoreApplication::translate("HistoryWindow", "Address"),
                              QCoreApplication::translate("HistoryWindow", "First seen"),
                              QCoreApplication::translate("HistoryWindow", "Last seen"),
                              QCoreApplication::translate("HistoryWindow", "How long")};
    for (const FamilyRow &row : rows) {
        auto *heading = new QLabel(familyName(row.family));
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        m_tables->addWidget(heading);
        const QList<AddressSpan> spans = addressSpans(row.entries, now);
        auto *table = new QTableWidget(int(spans.size()), int(headers.size()));
        table->setObjectName(QStringLiteral("historyTable_") + familyKey(row.family));
        table->setAccessibleName(
            QCoreApplication::translate("HistoryWindow", "%1 addresses").arg(familyName(row.family)));
        table->setHorizontalHeaderLabels(headers);
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->horizontalHeader()->setStretchLastSection(true);
        // Newest first: the address in use heads the table.
        for (int i = 0; i < spans.size(); ++i) {
            const AddressSpan &span = spans[spans.size() - 1 - i];
            const QStringList cells{span.address, shownTime(span.firstSeen),
                                    span.current ? QCoreApplication::translate("HistoryWindow", "still in use")
                                                 : shownTime(span.lastSeen),
                                    shownDuration(span.firstSeen.secsTo(span.lastSeen))};
            for (int column = 0; column < cells.size(); ++column)
                table->setItem(i, column, new QTableWidgetItem(cells[column]));
        }
        table->resizeColumnsToContents();
        m_tables->addWidget(table, 1);
    }
}

} // namespace vennacott
