#pragma once

#include "journal/dayview.h"

#include <QDate>
#include <QDialog>

#include <functional>
#include <optional>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;

namespace sorna {

class DayModel;

// How the journal window prints, handed in by whoever opens it: a row's
// receipt again (both copies marked as a reprint) and the day's totals.
// Each returns true when the whole job went to the printer; when it did
// not, the printing has told the merchant why.
struct JournalPrinter
{
    std::function<bool(QWidget* parent, const ReceiptData& receipt)> reprint;
    std::function<bool(QWidget* parent, const dayview::DayTotals& totals)> totals;
};

// The journal window (거래내역): one day's approvals and cancellations,
// newest first, in plain words; rows needing the merchant stand out.  A
// receipt can be printed again, an approval cancelled (the main window then
// takes over), and the day's totals printed or saved for a spreadsheet.  It
// only shows: what a row means and what may be done with it is the day
// view's.
class JournalWindow : public QDialog
{
    Q_OBJECT
public:
    explicit JournalWindow(JournalPrinter printer, QWidget* parent = nullptr);
    ~JournalWindow() override;

    void showDay(const QDate& date);
    QDate day() const;
    const QList<JournalDayRow>& rows() const { return m_rows; }
    const dayview::DayTotals& totals() const { return m_totals; }
    // Set when the window closed for a cancellation of the chosen approval.
    const std::optional<dayview::CancelTarget>& cancelTarget() const { return m_cancel; }

    // Prints the row's receipt again, marked as a reprint, and records it;
    // false when it was not printed (the printing told why).
    static bool reprint(QWidget* parent, const JournalDayRow& row, const JournalPrinter& printer);

    // Writes the totals' CSV; a failure is told to the merchant.
    bool saveTotals(const QString& path);
    // Writes the rows shown as CSV; a failure is told to the merchant.
    bool saveRows(const QString& path);
    // What the window looks for now, and a search set and run as the
    // merchant would.
    JournalSearch search() const;
    void search(const JournalSearch& s);
    // Test seam: the next "CSV 저장" writes here without asking.
    static void setNextSavePath(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void reload();
    void selectionChanged();
    int selectedRow() const;
    void selectRowWithId(qint64 id);
    void reprintSelected();
    void cancelSelected();
    void printTotals();
    void saveTotalsAsked();
    void saveRowsAsked();
    QString askSavePath(const QString& title, const QString& name);
    bool writeCsv(const QString& path, const QByteArray& bytes, const QString& what);
    void showTotals();

    QDateEdit* dtpDay = nullptr; // the first day shown
    QDateEdit* dtpTo = nullptr;  // the last
    QLineEdit* txtLast4 = nullptr;
    QLineEdit* txtApprovalNo = nullptr;
    QLineEdit* txtStudent = nullptr;
    QPushButton* btnSearch = nullptr;
    QPushButton* btnSaveRows = nullptr;
    QLabel* lblTotals = nullptr;
    QPushButton* btnToday = nullptr;
    QLabel* lblAttention = nullptr;
    QTableView* grdJournal = nullptr;
    QLabel* lblAdvice = nullptr;
    QTableWidget* grdTotals = nullptr;
    QPushButton* btnReprint = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnPrintTotals = nullptr;
    QPushButton* btnSaveCsv = nullptr;
    QPushButton* btnClose = nullptr;

    JournalPrinter m_printer;
    DayModel* m_model = nullptr;
    QList<JournalDayRow> m_rows;
    dayview::DayTotals m_totals;
    std::optional<dayview::CancelTarget> m_cancel;
};

} // namespace sorna
