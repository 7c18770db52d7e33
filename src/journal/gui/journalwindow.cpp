#include "journal/gui/journalwindow.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

namespace sorna {

namespace {

QString& nextSavePath()
{
    static QString path;
    return path;
}

const QColor kAttentionBack(255, 226, 204);
const QColor kAttentionText(160, 30, 20);
const QColor kQuietText(120, 120, 120);

enum Column
{
    ColTime,
    ColKind,
    ColCard,
    ColStudent,
    ColItem,
    ColTeacher,
    ColAmount,
    ColApproval,
    ColState,
    ColumnCount
};

} // namespace

// The day's rows as the list shows them, worked out once per day shown, so
// that a day of thousands of rows scrolls without work per cell.
class DayModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<dayview::ShownRow> rows)
    {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    const dayview::ShownRow& shown(int row) const { return m_rows[row]; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : ColumnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const QStringList names = {
            QStringLiteral("시각"), QStringLiteral("구분"),     QStringLiteral("카드번호"),
            QStringLiteral("학생"), QStringLiteral("치료영역"), QStringLiteral("강사"),
            QStringLiteral("금액"), QStringLiteral("승인번호"), QStringLiteral("상태")};
        return names.value(section);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_rows.size())
            return {};
        const dayview::ShownRow& s = m_rows[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
            case ColTime:
                return s.time;
            case ColKind:
                return s.kind;
            case ColCard:
                return s.card;
            case ColStudent:
                return s.student;
            case ColItem:
                return s.item;
            case ColTeacher:
                return s.teacher;
            case ColAmount:
                return s.amount;
            case ColApproval:
                return s.approvalNo;
            case ColState:
                return s.state;
            default:
                return {};
            }
        case Qt::TextAlignmentRole:
            if (index.column() == ColAmount)
                return QVariant(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::BackgroundRole:
            if (s.look == dayview::Look::Attention)
                return kAttentionBack;
            return {};
        case Qt::ForegroundRole:
            if (s.look == dayview::Look::Attention && index.column() == ColState)
                return kAttentionText;
            if (s.look == dayview::Look::Refused || s.look == dayview::Look::Settled)
                return kQuietText;
            return {};
        case Qt::DecorationRole:
            if (s.look == dayview::Look::Attention && index.column() == ColState)
                return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            return {};
        case Qt::ToolTipRole:
            return s.advice.isEmpty() ? QVariant() : QVariant(s.advice);
        default:
            return {};
        }
    }

private:
    QList<dayview::ShownRow> m_rows;
};

JournalWindow::JournalWindow(JournalPrinter printer, QWidget* parent)
    : QDialog(parent), m_printer(std::move(printer))
{
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("거래내역"));
    setWindowIcon(artwork::appIcon());
    setFont(look::uiFont(10));
    // As large as the counter layout wants, as the screen allows.
    const QRect area = look::availableArea(this);
    resize(qMin(980, area.width() - look::kFrameAllowance.width()),
           qMin(660, area.height() - look::kFrameAllowance.height()));

    auto* top = new QHBoxLayout;
    auto* dayLabel = new QLabel(QStringLiteral("거래일자"), this);
    dayLabel->setFont(look::uiFont(11, 700));
    const auto dateBox = [this](const char* name) {
        auto* box = new QDateEdit(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        box->setCalendarPopup(true);
        // The locale and first day of the week before any date, or the
        // calendar marks the wrong cell.
        box->calendarWidget()->setLocale(QLocale(QLocale::Korean, QLocale::SouthKorea));
        box->calendarWidget()->setFirstDayOfWeek(Qt::Sunday);
        box->setFont(look::uiFont(11));
        return box;
    };
    dtpDay = dateBox("dtpDay");
    // The last day of a search over several days; the same day shows one.
    dtpTo = dateBox("dtpTo");
    btnToday = new QPushButton(QStringLiteral("오늘"), this);
    btnToday->setObjectName(QStringLiteral("btnToday"));
    lblAttention = new QLabel(this);
    lblAttention->setObjectName(QStringLiteral("lblAttention"));
    lblAttention->setFont(look::uiFont(10.5, 700));
    lblAttention->setStyleSheet(QStringLiteral("color: rgb(160, 30, 20);"));
    top->addWidget(dayLabel);
    top->addWidget(dtpDay);
    top->addWidget(new QLabel(QStringLiteral("~"), this));
    top->addWidget(dtpTo);
    top->addWidget(btnToday);
    top->addSpacing(16);
    top->addWidget(lblAttention, 1);

    // Finding a payment: the last four digits of the card, an approval
    // number, part of the student's name, within the days above.
    auto* find = new QHBoxLayout;
    const auto field = [this, find](const char* name, const QString& label, int width) {
        find->addWidget(new QLabel(label, this));
        auto* box = new QLineEdit(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setFixedWidth(width);
        box->setClearButtonEnabled(true);
        find->addWidget(box);
        find->addSpacing(8);
        connect(box, &QLineEdit::returnPressed, this, &JournalWindow::reload);
        return box;
    };
    txtLast4 = field("txtLast4", QStringLiteral("카드 끝 4자리"), 70);
    txtLast4->setMaxLength(4);
    txtLast4->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), txtLast4));
    look::noInputMethod(txtLast4, true);
    txtApprovalNo = field("txtApprovalNo", QStringLiteral("승인번호"), 110);
    txtApprovalNo->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,12}")), txtApprovalNo));
    look::noInputMethod(txtApprovalNo, true);
    txtStudent = field("txtStudent", QStringLiteral("학생"), 110);
    btnSearch = new QPushButton(QStringLiteral("조회"), this);
    btnSearch->setObjectName(QStringLiteral("btnSearch"));
    btnSearch->setAutoDefault(false);
    find->addWidget(btnSearch);
    find->addStretch(1);

    m_model = new DayModel(this);
    grdJournal = new QTableView(this);
    grdJournal->setObjectName(QStringLiteral("grdJournal"));
    grdJournal->setModel(m_model);
    grdJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdJournal->setSelectionMode(QAbstractItemView::SingleSelection);
    grdJournal->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdJournal->verticalHeader()->hide();
    grdJournal->verticalHeader()->setDefaultSectionSize(24);
    grdJournal->horizontalHeader()->setStretchLastSection(true);
    grdJournal->setWordWrap(false);
    const int widths[] = {70, 40, 150, 70, 110, 70, 80, 80};
    for (int c = 0; c < int(std::size(widths)); ++c)
        grdJournal->setColumnWidth(c, widths[c]);

    lblAdvice = new QLabel(this);
    lblAdvice->setObjectName(QStringLiteral("lblAdvice"));
    lblAdvice->setWordWrap(true);
    lblAdvice->setMinimumHeight(36);
    lblAdvice->setStyleSheet(QStringLiteral("color: rgb(160, 30, 20);"));

    grdTotals = new QTableWidget(0, 6, this);
    grdTotals->setObjectName(QStringLiteral("grdTotals"));
    grdTotals->setHorizontalHeaderLabels({QStringLiteral("치료영역"), QStringLiteral("승인 건수"),
                                          QStringLiteral("승인 금액"), QStringLiteral("취소 건수"),
                                          QStringLiteral("취소 금액"), QStringLiteral("순 금액")});
    grdTotals->verticalHeader()->hide();
    grdTotals->verticalHeader()->setDefaultSectionSize(22);
    grdTotals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTotals->setSelectionMode(QAbstractItemView::NoSelection);
    grdTotals->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    grdTotals->setFixedHeight(150);

    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(look::uiFont(11.25));
        b->setAutoDefault(false);
        b->setMinimumSize(110, 32);
        return b;
    };
    btnReprint = button("btnReprint", QStringLiteral("영수증 재출력"));
    btnCancel = button("btnCancel", QStringLiteral("승인 취소"));
    btnPrintTotals = button("btnPrintTotals", QStringLiteral("일계표 출력"));
    btnSaveCsv = button("btnSaveCsv", QStringLiteral("CSV 저장"));
    btnSaveRows = button("btnSaveRows", QStringLiteral("내역 CSV 저장"));
    btnClose = button("btnClose", QStringLiteral("닫기"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnReprint);
    bottom->addWidget(btnCancel);
    bottom->addStretch(1);
    bottom->addWidget(btnPrintTotals);
    bottom->addWidget(btnSaveCsv);
    bottom->addSpacing(16);
    bottom->addWidget(btnSaveRows);
    bottom->addWidget(btnClose);

    lblTotals = new QLabel(this);
    lblTotals->setObjectName(QStringLiteral("lblTotals"));
    lblTotals->setFont(look::uiFont(10, 700));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(find);
    layout->addWidget(grdJournal, 1);
    layout->addWidget(lblAdvice);
    layout->addWidget(lblTotals);
    layout->addWidget(grdTotals);
    layout->addLayout(bottom);

    // A new first day shows that day alone; a last day before the first
    // moves the first.
    connect(dtpDay, &QDateEdit::dateChanged, this, [this](const QDate& day) {
        const QSignalBlocker quiet(dtpTo);
        dtpTo->setDate(day);
        reload();
    });
    connect(dtpTo, &QDateEdit::dateChanged, this, [this](const QDate& last) {
        if (last < dtpDay->date()) {
            const QSignalBlocker quiet(dtpDay);
            dtpDay->setDate(last);
        }
        reload();
    });
    connect(btnSearch, &QPushButton::clicked, this, &JournalWindow::reload);
    connect(btnSaveRows, &QPushButton::clicked, this, &JournalWindow::saveRowsAsked);
    connect(btnToday, &QPushButton::clicked, this, [this] { showDay(Clock::now().date()); });
    connect(grdJournal->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &JournalWindow::selectionChanged);
    connect(btnReprint, &QPushButton::clicked, this, &JournalWindow::reprintSelected);
    connect(btnCancel, &QPushButton::clicked, this, &JournalWindow::cancelSelected);
    connect(btnPrintTotals, &QPushButton::clicked, this, &JournalWindow::printTotals);
    connect(btnSaveCsv, &QPushButton::clicked, this, &JournalWindow::saveTotalsAsked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    // By keyboard: arrows choose the row, Tab leaves the table with the row
    // still chosen, and the two row actions have keys of their own.
    grdJournal->setTabKeyNavigation(false);
    const auto key = [this](QPushButton* button, const QKeySequence& keys) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled())
                button->click();
        });
        button->setToolTip(button->text() + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) +
                           u')');
    };
    key(btnReprint, QKeySequence(QStringLiteral("Ctrl+P")));
    key(btnCancel, QKeySequence(QStringLiteral("Ctrl+Del")));
    look::enterPressesFocusedButton();

    // A reversal settled while the window is open shows at once.
    connect(ReversalSender::instance(), &ReversalSender::settled, this, [this] {
        const int row = selectedRow();
        const qint64 id = row >= 0 ? m_rows[row].row.id : 0;
        reload();
        selectRowWithId(id);
    });

    showDay(Clock::now().date());
    grdJournal->setFocus();
}

void JournalWindow::selectRowWithId(qint64 id)
{
    for (int i = 0; id != 0 && i < m_rows.size(); ++i)
        if (m_rows[i].row.id == id)
            grdJournal->selectRow(i);
}

JournalWindow::~JournalWindow() = default;

void JournalWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred over the main window, it may hang over the screen's edge.
    look::keepInside(this);
}

void JournalWindow::showDay(const QDate& date)
{
    if (dtpDay->date() == date) {
        const QSignalBlocker quiet(dtpTo);
        dtpTo->setDate(date);
        reload();
    } else {
        dtpDay->setDate(date); // reloads
    }
}

JournalSearch JournalWindow::search() const
{
    const QString yyyyMMdd = QStringLiteral("yyyyMMdd");
    return JournalSearch{dtpDay->date().toString(yyyyMMdd), dtpTo->date().toString(yyyyMMdd),
                         txtLast4->text(), txtApprovalNo->text().trimmed(), txtStudent->text().trimmed()};
}

void JournalWindow::search(const JournalSearch& s)
{
    const QSignalBlocker quietFrom(dtpDay), quietTo(dtpTo);
    const QString yyyyMMdd = QStringLiteral("yyyyMMdd");
    dtpDay->setDate(QDate::fromString(s.fromDate, yyyyMMdd));
    dtpTo->setDate(QDate::fromString(s.toDate, yyyyMMdd));
    txtLast4->setText(s.cardLast4);
    txtApprovalNo->setText(s.approvalNo);
    txtStudent->setText(s.student);
    reload();
}

QDate JournalWindow::day() const
{
    return dtpDay->date();
}

void JournalWindow::reload()
{
    const JournalSearch s = search();
    const bool oneDay = s.fromDate == s.toDate;
    const bool filtered = !s.cardLast4.isEmpty() || !s.approvalNo.isEmpty() || !s.student.isEmpty();
    QString error;
    Journal& journal = Journal::instance();
    m_rows = journal.open(&error) ? journal.findRows(s) : QList<JournalDayRow>();
    QList<dayview::ShownRow> shown;
    shown.reserve(m_rows.size());
    int attention = 0;
    for (const JournalDayRow& r : m_rows) {
        shown.append(dayview::Show(r));
        // Over several days the time alone would not say which day.
        if (!oneDay)
            shown.last().time = dayview::DateShown(r.row.date).mid(5) + u' ' + shown.last().time;
        if (shown.last().look == dayview::Look::Attention)
            ++attention;
    }
    m_model->setRows(std::move(shown));
    grdJournal->setColumnWidth(0, oneDay ? 70 : 115);
    m_totals = dayview::Totals(oneDay ? s.fromDate
                                      : dayview::DateShown(s.fromDate) + QStringLiteral(" ~ ") +
                                            dayview::DateShown(s.toDate),
                               m_rows);
    lblTotals->setText(
        oneDay && !filtered
            ? QStringLiteral("일계 (승인·취소 완료 거래, 결과 미확인과 거절은 제외)")
            : QStringLiteral("찾은 거래의 합계 (승인·취소 완료 거래, 결과 미확인과 거절은 제외)"));
    if (!error.isEmpty())
        lblAttention->setText(QStringLiteral("거래내역을 열 수 없습니다: ") + error);
    else if (attention > 0)
        lblAttention->setText(QStringLiteral("확인이 필요한 거래가 %1건 있습니다 (행을 고르면 할 일이 "
                                             "아래에 나옵니다)")
                                  .arg(attention));
    else if (m_rows.isEmpty())
        lblAttention->setText(oneDay && !filtered ? QStringLiteral("이 날의 거래가 없습니다")
                                                  : QStringLiteral("찾는 거래가 없습니다"));
    else
        lblAttention->setText(QString());
    lblAttention->setStyleSheet(attention > 0 || !error.isEmpty()
                                    ? QStringLiteral("color: rgb(160, 30, 20);")
                                    : QStringLiteral("color: rgb(60, 60, 60);"));
    showTotals();
    selectionChanged();
}

void JournalWindow::showTotals()
{
    QList<dayview::ItemTotal> lines = m_totals.items;
    lines.append(m_totals.all);
    grdTotals->setRowCount(int(lines.size()));
    const auto won = [](qint64 v) {
        return (v < 0 ? QStringLiteral("-") : QString()) + FormatAmount(QString::number(v < 0 ? -v : v));
    };
    for (int i = 0; i < lines.size(); ++i) {
        const dayview::ItemTotal& t = lines[i];
        const QStringList cells = {t.item,           QString::number(t.approvals),
                                   won(t.approved),  QString::number(t.cancellations),
                                   won(t.cancelled), won(t.net())};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(c == 0 ? Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter)
                                          : Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            if (i == lines.size() - 1) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            grdTotals->setItem(i, c, item);
        }
    }
}

int JournalWindow::selectedRow() const
{
    const QModelIndexList picked = grdJournal->selectionModel()->selectedRows();
    return picked.isEmpty() ? -1 : picked.first().row();
}

void JournalWindow::selectionChanged()
{
    const int row = selectedRow();
    if (row < 0) {
        btnReprint->setEnabled(false);
        btnCancel->setEnabled(false);
        // Without a choice, the first row needing the merchant says what to do.
        for (int i = 0; i < m_model->rowCount(); ++i)
            if (!m_model->shown(i).advice.isEmpty()) {
                lblAdvice->setText(m_model->shown(i).time + QStringLiteral(" ") + m_model->shown(i).state +
                                   QStringLiteral(" : ") + m_model->shown(i).advice);
                return;
            }
        lblAdvice->clear();
        return;
    }
    const dayview::ShownRow& s = m_model->shown(row);
    btnReprint->setEnabled(s.mayReprint);
    btnCancel->setEnabled(s.mayCancel);
    lblAdvice->setText(s.advice);
}

void JournalWindow::reprintSelected()
{
    const int row = selectedRow();
    if (row < 0 || !m_model->shown(row).mayReprint)
        return;
    const qint64 id = m_rows[row].row.id;
    if (!reprint(this, m_rows[row], m_printer))
        return;
    reload();
    selectRowWithId(id);
}

bool JournalWindow::reprint(QWidget* parent, const JournalDayRow& r, const JournalPrinter& printer)
{
    if (!printer.reprint(parent, dayview::ReceiptOf(r)))
        return false; // told by the printing
    QString error;
    if (!Journal::instance().recordReprint(r.row.id, &error))
        MessageBox::show(parent, QStringLiteral("재출력을 거래내역에 기록하지 못했습니다.\n(") + error + u')',
                         MessageBox::Icon::Warning);
    return true;
}

void JournalWindow::cancelSelected()
{
    const int row = selectedRow();
    if (row < 0 || !m_model->shown(row).mayCancel)
        return;
    m_cancel = dayview::CancelTargetOf(m_rows[row]);
    accept();
}

void JournalWindow::printTotals()
{
    m_printer.totals(this, m_totals);
}

void JournalWindow::setNextSavePath(const QString& path)
{
    nextSavePath() = path;
}

QString JournalWindow::askSavePath(const QString& title, const QString& name)
{
    QString path = std::exchange(nextSavePath(), QString());
    if (path.isEmpty()) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        path = QFileDialog::getSaveFileName(this, title, folder + u'/' + name + QStringLiteral(".csv"),
                                            QStringLiteral("CSV (*.csv)"));
    }
    return path;
}

void JournalWindow::saveTotalsAsked()
{
    const QString path = askSavePath(QStringLiteral("일계 저장"),
                                     QStringLiteral("일계_") + QString(m_totals.date).remove(u' '));
    if (!path.isEmpty() && saveTotals(path))
        MessageBox::show(this, QStringLiteral("일계를 저장했습니다.\n") + path,
                         MessageBox::Icon::Information);
}

void JournalWindow::saveRowsAsked()
{
    const JournalSearch s = search();
    const QString days = s.fromDate == s.toDate ? s.fromDate : s.fromDate + u'-' + s.toDate;
    const QString path = askSavePath(QStringLiteral("거래내역 저장"), QStringLiteral("거래내역_") + days);
    if (!path.isEmpty() && saveRows(path))
        MessageBox::show(this, QStringLiteral("거래내역 %1건을 저장했습니다.\n").arg(m_rows.size()) + path,
                         MessageBox::Icon::Information);
}

bool JournalWindow::saveTotals(const QString& path)
{
    return writeCsv(path, dayview::TotalsCsv(m_totals), QStringLiteral("일계를"));
}

bool JournalWindow::saveRows(const QString& path)
{
    return writeCsv(path, dayview::RowsCsv(m_rows), QStringLiteral("거래내역을"));
}

bool JournalWindow::writeCsv(const QString& path, const QByteArray& bytes, const QString& what)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    // A full disk is not always told by the commit: the file read back says.
    if (ok) {
        QFile back(path);
        ok = back.open(QIODevice::ReadOnly) && back.readAll() == bytes;
    }
    if (!ok)
        MessageBox::show(this,
                         what + QStringLiteral(" 저장하지 못했습니다.\n") + path + u'\n' + file.errorString(),
                         MessageBox::Icon::Warning);
    return ok;
}

} // namespace sorna
