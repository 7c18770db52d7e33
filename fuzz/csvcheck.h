#pragma once

// What every CSV of a day's totals must be, whatever the journal held: UTF-8
// with a byte order mark, one CRLF-ended line per row (no line break inside
// a cell), cells that read back as the names and figures given, and no text
// cell a spreadsheet would compute.

#include "fuzzcommon.h"

#include "journal/dayview.h"

#include <QString>
#include <QStringList>

namespace sorna::fuzz {

// The cells of one CSV line: quoted cells with doubled quotes inside, the
// rest as they stand.  False when the quoting is broken.
inline bool csvCells(const QString& line, QStringList* cells)
{
    cells->clear();
    qsizetype i = 0;
    for (;;) {
        QString cell;
        if (i < line.size() && line[i] == u'"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return false; // no closing quote
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        cell += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                cell += line[i++];
            }
            if (i < line.size() && line[i] != u',')
                return false; // text after the closing quote
        } else {
            while (i < line.size() && line[i] != u',') {
                if (line[i] == u'"')
                    return false; // a quote inside an unquoted cell
                cell += line[i++];
            }
        }
        cells->append(cell);
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

// A text cell as a spreadsheet would take it: never a formula.  Returns the
// text shown (without the apostrophe that keeps a formula-like text as text).
inline QString checkedTextCell(const QString& cell)
{
    qsizetype first = 0;
    while (first < cell.size() && cell[first] == u' ')
        ++first;
    const bool formulaLike = first < cell.size() && QStringLiteral("=+-@\t\r").contains(cell[first]);
    FUZZ_CHECK(!formulaLike);
    if (cell.startsWith(u'\''))
        return cell.mid(1);
    return cell;
}

// The name as the CSV shows it: on one line.
inline QString oneLine(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
}

inline void checkFigures(const QStringList& cells, const dayview::ItemTotal& t)
{
    FUZZ_CHECK(cells.size() == 7);
    FUZZ_CHECK(cells[1] == QString::number(t.approvals));
    FUZZ_CHECK(cells[2] == QString::number(t.approved));
    FUZZ_CHECK(cells[3] == QString::number(t.cancellations));
    FUZZ_CHECK(cells[4] == QString::number(t.cancelled));
    FUZZ_CHECK(cells[5] == QString::number(t.netCount()));
    FUZZ_CHECK(cells[6] == QString::number(t.net()));
}

inline void checkItemCell(const QString& cell, const QString& name)
{
    const QString shown = checkedTextCell(cell);
    // The apostrophe is added only in front of a formula-like text; a name
    // that begins with one keeps it.
    FUZZ_CHECK(shown == oneLine(name) || cell == oneLine(name));
}

inline void checkTotalsCsv(const dayview::DayTotals& totals)
{
    const QByteArray csv = dayview::TotalsCsv(totals);
    FUZZ_CHECK(csv.startsWith("\xEF\xBB\xBF"));
    FUZZ_CHECK(csv.endsWith("\r\n"));
    const QByteArray body = csv.sliced(3, csv.size() - 5);
    // Every line break is a CRLF between rows.
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] == '\r')
            FUZZ_CHECK(i + 1 < body.size() && body[i + 1] == '\n');
        if (body[i] == '\n')
            FUZZ_CHECK(i > 0 && body[i - 1] == '\r');
    }
    const QStringList lines = QString::fromUtf8(body).split(QStringLiteral("\r\n"));
    FUZZ_CHECK(lines.size() == totals.items.size() + 5);

    QStringList cells;
    FUZZ_CHECK(csvCells(lines[0], &cells));
    FUZZ_CHECK(cells.size() == 2);
    checkItemCell(cells[1], dayview::DateShown(totals.date));
    FUZZ_CHECK(csvCells(lines[1], &cells) && cells.size() == 7);
    for (qsizetype n = 0; n <= totals.items.size(); ++n) {
        const dayview::ItemTotal& t = n < totals.items.size() ? totals.items[n] : totals.all;
        FUZZ_CHECK(csvCells(lines[n + 2], &cells));
        checkFigures(cells, t);
        checkItemCell(cells[0], t.item);
    }
    FUZZ_CHECK(csvCells(lines[lines.size() - 2], &cells) && cells.size() == 2);
    FUZZ_CHECK(cells[1] == QString::number(totals.refused));
    FUZZ_CHECK(csvCells(lines[lines.size() - 1], &cells) && cells.size() == 2);
    FUZZ_CHECK(cells[1] == QString::number(totals.unknown));
}

} // namespace sorna::fuzz
