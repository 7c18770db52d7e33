// What the main window says about its exchanges beyond the answer's own
// lines: outcomes told apart by colour and icon, the advice of a refusal,
// a lost answer and its automatic cancellation followed to the end, the
// status line, and the reprint of the last receipt.

#include "foundation/clock.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "journal/dayview.h"
#include "journal/gui/journalwindow.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "receipt/gui/receiptprinter.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QShortcut>
#include <QStyle>

namespace sorna {
namespace {

QColor colourOf(outcome::Tone tone)
{
    switch (tone) {
    case outcome::Tone::Success:
        return QColor(0x12, 0x6b, 0x2e);
    case outcome::Tone::Refused:
        return QColor(0xb0, 0x1c, 0x14);
    case outcome::Tone::Unknown:
        return QColor(0x9a, 0x55, 0x00);
    case outcome::Tone::Plain:
        break;
    }
    return QColor(0x1e, 0x24, 0x30);
}

QIcon iconOf(outcome::Tone tone)
{
    QStyle* style = QApplication::style();
    switch (tone) {
    case outcome::Tone::Success:
        return style->standardIcon(QStyle::SP_DialogApplyButton);
    case outcome::Tone::Refused:
        return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case outcome::Tone::Unknown:
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case outcome::Tone::Plain:
        break;
    }
    return {};
}

} // namespace

void MainWindow::buildOutcome()
{
    // Beside the result heading, over the list: the last exchange and the
    // reversals waiting, read from the journal, never from the host.
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setFont(look::uiFont(9));
    lblStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    look::place(lblStatus, 1650, 7470, 7950, 330);

    auto* reprint = new QShortcut(QKeySequence(QStringLiteral("Ctrl+P")), this);
    connect(reprint, &QShortcut::activated, this, &MainWindow::reprintLastReceipt);

    ReversalSender* sender = ReversalSender::instance();
    connect(sender, &ReversalSender::settled, this, &MainWindow::reversalSettled);
    connect(sender, &ReversalSender::idle, this, [this](bool nothingOwed) {
        if (!nothingOwed) {
            noteExchange(outcome::LastExchange::What::NoConnection);
            if (m_awaitedReversal != 0 && !m_toldStillOwed) {
                m_toldStillOwed = true;
                addToned({outcome::ReversalStillOwedLine(ReversalSender::instance()->retryInterval() / 1000)},
                         outcome::Tone::Unknown);
            }
        }
        refreshStatus();
    });
    refreshStatus();
}

void MainWindow::addToned(const QStringList& lines, outcome::Tone tone)
{
    // Icons of the text's height, whatever the style's list icons are.
    const int height = lstResult->fontMetrics().height();
    lstResult->setIconSize(QSize(height, height));
    for (int i = 0; i < lines.size(); ++i) {
        auto* item = new QListWidgetItem(lines[i], lstResult);
        item->setForeground(colourOf(tone));
        // The icon on the outcome's first line only, the others indented
        // alike.
        if (i == 0)
            item->setIcon(iconOf(tone));
    }
    lstResult->scrollToItem(lstResult->item(lstResult->count() - int(lines.size())),
                            QAbstractItemView::PositionAtTop);
}

void MainWindow::showAnswerLines(const QStringList& lines, const TransactionAnswer& answer)
{
    lstResult->clear();
    const outcome::Tone tone = outcome::ToneOf(answer);
    QStringList shown = lines;
    if (tone == outcome::Tone::Refused) {
        const QString advice = outcome::AdviceLine(answer.record[tx::resp_code]);
        if (!advice.isEmpty())
            shown << advice;
    }
    addToned(shown, tone);
    noteExchange(outcome::LastExchange::What::Answered);
}

void MainWindow::showNoAnswer(TransactionMode mode, qint64 journalId, bool reversalOwed, bool sending)
{
    lstResult->clear();
    addToned(outcome::NoAnswerLines(mode, reversalOwed, sending, Clock::now().time()),
             outcome::Tone::Unknown);
    m_awaitedReversal = reversalOwed ? journalId : 0;
    m_toldStillOwed = false;
    noteExchange(outcome::LastExchange::What::NoAnswer);
}

void MainWindow::reversalSettled(qint64 rowId, ReversalState state)
{
    noteExchange(outcome::LastExchange::What::Answered);
    if (rowId != 0 && rowId == m_awaitedReversal) {
        m_awaitedReversal = 0;
        const std::optional<JournalRow> row = Journal::instance().row(rowId);
        addToned({outcome::ReversalSettledLine(state, row ? row->reversalRespCode : QString(),
                                               Clock::now().time())},
                 state != ReversalState::Delivered                            ? outcome::Tone::Refused
                 : ReversalConfirmed(row ? row->reversalRespCode : QString()) ? outcome::Tone::Plain
                                                                              : outcome::Tone::Unknown);
    }
    refreshStatus();
}

void MainWindow::noteExchange(outcome::LastExchange::What what)
{
    m_lastExchange = {what, Clock::now()};
    refreshStatus();
}

void MainWindow::refreshStatus()
{
    const int owed = Journal::instance().isOpen() ? Journal::instance().owedReversalCount() : 0;
    lblStatus->setText(outcome::StatusLine(m_lastExchange, owed));
    const bool trouble = owed != 0 || m_lastExchange.what == outcome::LastExchange::What::NoConnection ||
                         m_lastExchange.what == outcome::LastExchange::What::NoAnswer;
    QPalette pal = lblStatus->palette();
    pal.setColor(QPalette::WindowText, trouble ? colourOf(outcome::Tone::Refused) : QColor(0x55, 0x60, 0x74));
    lblStatus->setPalette(pal);
}

void MainWindow::reprintLastReceipt()
{
    const QList<JournalDayRow> rows =
        Journal::instance().dayRows(Clock::now().date().toString(QStringLiteral("yyyyMMdd")));
    const int last = dayview::LastReprintable(rows);
    if (last < 0) {
        MessageBox::show(this, QStringLiteral("오늘 다시 출력할 영수증이 없습니다"),
                         MessageBox::Icon::Information);
        return;
    }
    JournalWindow::reprint(this, rows[last], receipt::JournalPrinting());
}

} // namespace sorna
