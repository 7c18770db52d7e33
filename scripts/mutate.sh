#!/usr/bin/env bash
# Measures what the tests catch: small faults a developer could make in the
# money and message code, put in one at a time, each built and run against
# the tests of the code it touches.  A fault the tests catch is "killed",
# one they miss "survived".
#
#   scripts/mutate.sh            every fault of the list
#   scripts/mutate.sh REGEX      only those whose file or description matches
#   scripts/mutate.sh --check    only checks that every fault still applies
#
# Works in a copy of the working tree (build-mutate/tree, build in
# build-mutate/tree/build: the same place relative to the sources as build/,
# so that ccache serves the unchanged objects).  The list below names, for
# each fault, the file, the tests to run, the text replaced and its
# replacement (¶ for a line break), and what the fault is.  A fault whose
# text is no longer in its file stops the run: keep the list current.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
scratch="${MUTATE_DIR:-$root/build-mutate}"
tree="$scratch/tree"
build="$tree/build"
filter="${1:-}"

# file @@ tests @@ text @@ replacement @@ what
read -r -d '' FAULTS <<'LIST' || true
src/transaction/paydesk.cpp @@ tst_paydesk @@                     journal().plainProblem().isEmpty() ? kNotRecorded.arg(why) : journal().plainProblem();¶            return std::nullopt; @@                     journal().plainProblem().isEmpty() ? kNotRecorded.arg(why) : journal().plainProblem(); @@ a request the journal could not record still leaves
src/transaction/paydesk.cpp @@ tst_paydesk @@ constexpr int kDuplicateWindowSeconds = 5 * 60; @@ constexpr int kDuplicateWindowSeconds = 1 * 60; @@ duplicate window of one minute
src/transaction/paydesk.cpp @@ tst_paydesk @@ if (panel.cardGroups.join(QString()).size() < 16) @@ if (panel.cardGroups.join(QString()).size() < 15) @@ a 15-digit card passes the pay check
src/transaction/paydesk.cpp @@ tst_paydesk @@ if (m_pending)¶        return PayCheck::Busy; @@ if (false)¶        return PayCheck::Busy; @@ a second request while one waits
src/transaction/paydesk.cpp @@ tst_paydesk @@ const bool reverse = p.input.mode == TransactionMode::Approval; @@ const bool reverse = p.input.mode != TransactionMode::Balance; @@ an unanswered cancellation owes a reversal
src/transaction/paydesk.cpp @@ tst_paydesk @@ if (m.answer.accepted() && m.mode != TransactionMode::Balance) @@ if (m.answer.accepted()) @@ a receipt for a balance inquiry
src/transaction/paydesk.cpp @@ tst_paydesk @@         if (journal().hasOwedReversals()) { @@         if (false) { @@ payments leave while a reversal is owed
src/transaction/paydesk.cpp @@ tst_paydesk @@         if (!saveUnsaved(&why)) { @@         if (!saveUnsaved(&why) && false) { @@ unsaved outcomes forgotten before the next request
src/transaction/paydesk.cpp @@ tst_paydesk @@ (other.isEmpty() || other == QStringLiteral(" "))) @@ (other.isEmpty())) @@ a one-blank other reason accepted
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@ if (!matches("[0-9]{1,10}", f.amount) || f.amount.toLongLong() <= 0) @@ if (!matches("[0-9]{1,10}", f.amount)) @@ a zero-won reversal sent
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@ if (!matches("[0-9]{16}", f.card)) @@ if (!matches("[0-9]{15,16}", f.card)) @@ a 15-digit card reversed
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@                 if (!d->sealHolds(f.id)) @@                 if (false) @@ the seal not checked before a reversal is sent
src/journal/journal_queries.cpp @@ tst_journal tst_dayview @@ "(c.org_auth_date = journal.trans_date OR c.org_auth_date = journal.date)), " @@ "(c.org_auth_date = journal.trans_date)), " @@ day list: cancellation matched by the host's date only
src/journal/journal_queries.cpp @@ tst_journal tst_dayview @@ "(o.trans_date = journal.org_auth_date OR o.date = journal.org_auth_date) " @@ "(o.trans_date = journal.org_auth_date) " @@ day list: original item by the host's date only
src/journal/journal_queries.cpp @@ tst_journal tst_paydesk @@ {int(JournalState::Unknown), int(JournalKind::Approval), int(ReversalState::Owed), @@ {int(JournalState::Unknown), int(JournalKind::Approval), int(ReversalState::None), @@ an unanswered approval owes nothing
src/journal/journal_queries.cpp @@ tst_journal @@ "card_full = NULL, answer_amount = ?" @@ "answer_amount = ?" @@ the card number kept after the answer
src/journal/journal.cpp @@ tst_journal @@ q.addBindValue(int(ReversalState::Owed));¶        q.addBindValue(int(JournalState::Pending)); @@ q.addBindValue(int(ReversalState::None));¶        q.addBindValue(int(JournalState::Pending)); @@ an approval left waiting at a crash owes nothing
src/journal/journal_queries.cpp @@ tst_journal tst_paydesk @@     if (!isOpen())¶        return true; @@     if (!isOpen())¶        return false; @@ a closed journal owes nothing
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@                                             "reversal_settled_at = ?, "¶                                            "card_full = NULL"), @@                                             "reversal_settled_at = ?"), @@ the card number kept after the reversal
src/journal/journal_queries.cpp @@ tst_journal tst_paydesk @@ "AND date || time >= ? AND kind = ? AND state = ? " @@ "AND kind = ? AND state = ? " @@ duplicate check without its time window
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@ if (affected != 1) { @@ if (affected > 1) { @@ an update that finds no row succeeds
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@ QString(std::min<qsizetype>(4, cardNumber.size() - 8), u'*') @@ QString(std::min<qsizetype>(4, cardNumber.size() - 8), u'0') @@ card digits masked with zeros
src/journal/journal_queries.cpp @@ tst_journal tst_dayview @@ return ok && won >= 0 ? QString::number(won) : QString(); @@ return QString::number(won); @@ an unreadable answered amount kept as 0
src/journal/journal_queries.cpp @@ tst_journal @@ qint64 after = std::numeric_limits<qint64>::min(); @@ qint64 after = 0; @@ owed rows of id 0 or below never looked at
src/journal/reversalsender.cpp @@ tst_reversalsender @@ constexpr int kRetryMs = 30000; @@ constexpr int kRetryMs = 3000; @@ retry interval of 3 s
src/journal/reversalsender.cpp @@ tst_reversalsender @@ constexpr int kAnswerTimeoutMs = 10000; @@ constexpr int kAnswerTimeoutMs = 1000; @@ answer time-out of 1 s
src/journal/reversalsender.cpp @@ tst_reversalsender @@ if (earlierMayHaveReached && (code == u"22" || code == u"23")) @@ if ((earlierMayHaveReached || true) && (code == u"22" || code == u"23")) @@ "no original" always taken as delivered
src/journal/reversalsender.cpp @@ tst_reversalsender @@     if (code == u"00") @@     if (code.startsWith(u'0')) @@ any code starting with 0 taken as delivered
src/journal/reversalsender.cpp @@ tst_reversalsender @@         finish(ReversalState::Delivered, {},¶               QStringLiteral("delivered: the whole request was written and the host closed in order")); @@         finish(ReversalState::Refused, {},¶               QStringLiteral("delivered: the whole request was written and the host closed in order")); @@ an orderly close taken as a refusal
src/journal/journal_queries.cpp @@ tst_reversalsender tst_journal @@                 o.earlierWritten = r.reversalWritten; @@                 o.earlierWritten = true; @@ attempts that never left counted as reaching the host
src/journal/reversalsender.cpp @@ tst_reversalsender @@     if (!journal.countReversalAttempt(r.rowId)) { @@     if (!journal.countReversalAttempt(r.rowId) && false) { @@ an attempt made that could not be counted
src/journal/reversalsender.cpp @@ tst_reversalsender @@ if (st.current && st.socket->requestWritten()) { @@ if (st.current) { @@ the answer time-out started before the whole request left
src/journal/reversalsender.cpp @@ tst_reversalsender @@         return {ReversalState::Delivered,¶                {}, @@         return {ReversalState::Refused,¶                {}, @@ an unreadable answer taken as a refusal
src/journal/dayview.cpp @@ tst_dayview tst_journal @@ (r.reversal != ReversalState::Delivered || !ReversalConfirmed(r.reversalRespCode)) @@ (r.reversal == ReversalState::Delivered && ReversalConfirmed(r.reversalRespCode)) @@ totals: reversed and owed swapped
src/journal/journal_queries.cpp @@ tst_journal tst_reversalsender @@ return !reversalRespCode.isEmpty(); @@ return reversalRespCode.size() >= 0; @@ a reversal the host never answered taken as confirmed
src/journal/reversalsender.cpp @@ tst_reversalsender tst_endtoend @@ emit hostContradicts(*named); @@ (void)named; @@ a take-back that contradicts the journal dropped
src/journal/dayview.cpp @@ tst_dayview tst_journal @@ QString item = cancellation && !day.originalItemName.isEmpty() ? day.originalItemName : r.itemName; @@ QString item = r.itemName; @@ totals: a cancellation under the item shown
src/journal/dayview.cpp @@ tst_dayview tst_journal @@ s.mayCancel = isApproval(r) && !day.cancelled && !r.approvalNo.isEmpty(); @@ s.mayCancel = isApproval(r) && !r.approvalNo.isEmpty(); @@ a cancelled approval offered for cancelling
src/journal/dayview.cpp @@ tst_dayview tst_journal @@ const QString& won = row.answerAmount.isEmpty() ? row.row.amount : row.answerAmount; @@ const QString& won = row.row.amount; @@ the amount asked instead of the amount answered
src/journal/dayview.cpp @@ tst_dayview @@ QStringLiteral("=+-@\t").contains(text[first]) @@ QStringLiteral("=@\t").contains(text[first]) @@ CSV: + and - formulas computed
src/journal/dayview.cpp @@ tst_dayview tst_journal @@ return CancelTarget{r.id, r.approvalNo, r.transDate.isEmpty() ? r.date : r.transDate, r.itemName}; @@ return CancelTarget{r.id, r.approvalNo, r.date, r.itemName}; @@ cancellation names the counter's date
src/journal/dayview.cpp @@ tst_dayview @@ return masked.left(4) + u'-' + masked.mid(4, 4) + QStringLiteral("-****-") + masked.mid(12, 4); @@ return masked.left(4) + u'-' + masked.mid(4, 4) + u'-' + masked.mid(8, 4) + u'-' + masked.mid(12, 4); @@ day list shows a whole card number
src/hostlink/record.cpp @@ tst_messages tst_transaction @@ {"resp_code", 2, Fill::Zero} @@ {"resp_code", 2, Fill::Blank} @@ resp_code filled with blanks
src/hostlink/record.cpp @@ tst_messages tst_transaction @@ {"amount", 10, Fill::Zero} @@ {"amount", 10, Fill::Blank} @@ amount filled with blanks
src/hostlink/record.cpp @@ tst_messages tst_transaction @@ {"card_data", 37, Fill::Blank} @@ {"card_data", 36, Fill::Blank} @@ card field one byte short
src/hostlink/record.cpp @@ tst_messages tst_transaction @@ return Clock::timeText() + RightBytes(number, 6); @@ return Clock::timeText() + LeftBytes(number, 6); @@ trace number from the wrong end
src/hostlink/record.cpp @@ tst_messages tst_transaction @@     int pos = kAnswerRecordStart; @@     int pos = kAnswerRecordStart + 1; @@ answers cut one byte off
src/hostlink/frame.cpp @@ tst_frame tst_cipher @@ if (t[1] < '1' || t[1] > '9') @@ if (t[1] < '0' || t[1] > '9') @@ a length with a leading zero read
src/hostlink/frame.cpp @@ tst_frame tst_cipher @@ for (qsizetype d = 1; d <= 4 && 1 + d <= t.size(); ++d) { @@ for (qsizetype d = 1; d <= 3 && 1 + d <= t.size(); ++d) { @@ four-digit frame lengths not read
src/hostlink/frame.cpp @@ tst_frame tst_cipher @@ const bool longerPossible = d < 4 && !body.isEmpty() && isDigit(body[0]); @@ const bool longerPossible = false; @@ a frame cut short while its pieces come
src/hostlink/frame.cpp @@ tst_frame tst_cipher @@ return m_data.size() > kMaxFrameBytes ? State::Bad : State::Incomplete; @@ return State::Incomplete; @@ endless bytes kept waiting
src/hostlink/envelope.cpp @@ tst_cipher tst_frame tst_messages tst_messagelog @@ constexpr qsizetype kHiddenCardDigitsAt = 4 + 68 + 8; @@ constexpr qsizetype kHiddenCardDigitsAt = 4 + 68 + 9; @@ log masks the wrong card digits
src/hostlink/envelope.cpp @@ tst_cipher tst_frame tst_messages tst_messagelog @@     while (end > kAuthNumberAt && out[end - 1] == ' ')¶        --end; @@     (void)0; @@ log masks the blanks after the authentication number
src/hostlink/envelope.cpp @@ tst_cipher tst_frame tst_messages tst_messagelog @@ return u'0' + QString::number(record.size()) + record; @@ return u'0' + QString::number(cp949::encode(record).size()) + record; @@ length field counts bytes
src/foundation/cp949.cpp @@ tst_textbytes tst_settings tst_messages @@ return b >= 0x81 && b <= 0xFE; @@ return b >= 0xA1 && b <= 0xFE; @@ extended Hangul lead bytes not known
src/foundation/cp949.cpp @@ tst_textbytes tst_settings tst_messages @@ (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE) @@ (b >= 0x41 && b <= 0x5A) || (b >= 0x81 && b <= 0xFE) @@ lower-case trail bytes not known
src/foundation/cp949.cpp @@ tst_textbytes tst_settings tst_messages @@ if (len == 2 && pos + 1 == end && pos >= from) @@ if (len == 2 && pos + 1 == end && pos > from) @@ a half character left at the start of a cut
src/foundation/cp949.cpp @@ tst_textbytes tst_settings tst_messages @@ if (pos == out.size() - 1 && isLead(uchar(out[pos]))) @@ if (false) @@ a half character left at the end of a field
src/foundation/settings.cpp @@ tst_settings @@ if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) @@ if (false) @@ quotes around a value kept
src/foundation/settings.cpp @@ tst_settings @@ constexpr qsizetype kMaxValueBytes = 1023; @@ constexpr qsizetype kMaxValueBytes = 1024; @@ values read one byte too long
src/foundation/settings.cpp @@ tst_settings @@ oneLine.replace('\r', ' ').replace('\n', ' '); @@ oneLine.replace('\r', ' '); @@ a line break in a value written
src/foundation/settings.cpp @@ tst_settings @@             if (inSection)¶                break; @@             (void)0; @@ a key added in a later section
src/payment/transactionmessages.cpp @@ tst_transaction tst_messages tst_journal @@ cancelKind = in.mode == TransactionMode::Cancellation ? QStringLiteral("7") : QStringLiteral("2"); @@ cancelKind = QStringLiteral("2"); @@ reversal in cancellation mode marked 2
src/payment/transactionmessages.cpp @@ tst_transaction tst_messages tst_journal @@ r[tx::trans_code] = QStringLiteral("11"); @@ r[tx::trans_code] = QStringLiteral("10"); @@ wrong transaction code
src/payment/transactionmessages.cpp @@ tst_transaction tst_messages tst_journal @@ b.therapyUsed = MidBytes(answer, 311, 9); @@ b.therapyUsed = MidBytes(answer, 312, 9); @@ balance cut one byte off
src/payment/transactionmessages.cpp @@ tst_transaction tst_messages tst_journal @@ r[tx::org_auth_date] = in.orgAuthDate.trimmed(); @@ r[tx::org_auth_date] = in.orgAuthDate; @@ the typed date sent with its blanks
src/payment/transactionmessages.cpp @@ tst_transaction tst_messages tst_paydesk @@ return reasonIndex == 3 ? otherReason.trimmed() : reasonBoxText; @@ return reasonIndex == 2 ? otherReason.trimmed() : reasonBoxText; @@ the wrong reason takes the typed text
src/transaction/gui/mainwindow.cpp @@ tst_transaction tst_panel tst_mainwindowshell @@ timeMain->setInterval(10000); @@ timeMain->setInterval(1000); @@ pay answer time-out of 1 s
LIST

say() { printf '%s\n' "$*"; }

# Replaces the first occurrence of a text (¶ for line breaks) in a file;
# exits 3 when the text is not there.
replace() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace('¶', '\n'), sys.argv[3].replace('¶', '\n')
text = open(path, encoding='utf-8').read()
if old not in text:
    sys.exit(3)
open(path, 'w', encoding='utf-8').write(text.replace(old, new, 1))
PY
}

mapfile -t lines <<<"$FAULTS"
trim() { local s="$1"; s="${s#"${s%%[![:space:]]*}"}"; printf '%s' "${s%"${s##*[![:space:]]}"}"; }
field() { # line, index (0-based) of the " @@ " separated fields
  local rest="$1" i=0
  while [ $i -lt "$2" ]; do rest="${rest#* @@ }"; i=$((i + 1)); done
  trim "${rest%% @@ *}"
}

if [ "$filter" = "--check" ]; then
  bad=0
  for l in "${lines[@]}"; do
    file="$(field "$l" 0)"; from="$(field "$l" 2)"
    tmp="$(mktemp)"; cp "$root/$file" "$tmp"
    if ! replace "$tmp" "$from" "" ; then say "no longer applies: $file: $(field "$l" 4)"; bad=1; fi
    rm -f "$tmp"
  done
  [ $bad -eq 0 ] && say "${#lines[@]} faults, every one applies"
  exit $bad
fi

mkdir -p "$tree" "$scratch/pristine"
say "== copying the working tree to $tree"
# Only files whose bytes differ are written, with the time of now: a file
# left changed by a run that was stopped is put back and rebuilt.
(cd "$root" && git ls-files -z) | while IFS= read -r -d '' f; do
  if ! cmp -s "$root/$f" "$tree/$f"; then
    mkdir -p "$(dirname "$tree/$f")"
    cp "$root/$f" "$tree/$f"
  fi
done
# Files the working tree no longer has (moved or renamed since the last run)
# go too: a header left behind would be compiled beside its successor.
(cd "$tree" && find src tests hostsim fuzz bench tools -type f 2>/dev/null) | while IFS= read -r f; do
  [ -e "$root/$f" ] || rm -f "$tree/$f"
done
# A fault left in by a run that was stopped: its file is rebuilt.
if [ -f "$scratch/current" ]; then
  touch "$tree/$(cat "$scratch/current")"
  rm -f "$scratch/current"
fi
# Every fault starts from the files as they were copied: the working tree may
# change while the run goes on.
rm -rf "$scratch/pristine"
cp -a "$tree/src" "$scratch/pristine"
export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORNA_WERROR=ON \
    -DSORNA_TEST_HOOKS=ON -DSORNA_BENCH=OFF >/dev/null
fi

# The tests every selected fault needs, built and run once on the unchanged
# code: a fault is only judged against a suite that passes.
selected=()
alltests=""
for l in "${lines[@]}"; do
  if [ -z "$filter" ] || grep -Eq -- "$filter" <<<"$(field "$l" 0) $(field "$l" 4)"; then
    selected+=("$l")
    alltests="$alltests $(field "$l" 1)"
  fi
done
alltests="$(tr ' ' '\n' <<<"$alltests" | sort -u | tr '\n' ' ')"
regex() { printf '^(%s)$' "$(trim "$1" | tr -s ' ' '|')"; }
say "== baseline: $alltests"
nice -n 15 ninja -C "$build" $alltests sorna sorna-host >/dev/null
export QT_QPA_PLATFORM=offscreen
if ! nice -n 15 ctest --test-dir "$build" -R "$(regex "$alltests")" -j2 >"$scratch/baseline.log" 2>&1; then
  say "the unchanged code fails its tests (see $scratch/baseline.log): no fault can be judged"
  exit 1
fi

result="$scratch/result.txt"
: >"$result"
killed=0 survived=0 unbuilt=0 n=0
for l in "${selected[@]}"; do
  n=$((n + 1))
  file="$(field "$l" 0)"; tests="$(field "$l" 1)"; from="$(field "$l" 2)"; to="$(field "$l" 3)"; what="$(field "$l" 4)"
  printf '%s\n' "$file" >"$scratch/current"
  cp "$scratch/pristine/${file#src/}" "$tree/$file"
  if ! replace "$tree/$file" "$from" "$to"; then
    say "no longer applies: $file: $what (update the list)"
    exit 2
  fi
  start=$(date +%s)
  if ! nice -n 15 ninja -C "$build" $tests >"$scratch/fault-$n.log" 2>&1; then
    verdict="not built"; unbuilt=$((unbuilt + 1))
  elif nice -n 15 ctest --test-dir "$build" -R "$(regex "$tests")" -j2 --timeout 300 >>"$scratch/fault-$n.log" 2>&1; then
    verdict="SURVIVED"; survived=$((survived + 1))
  else
    verdict="killed"; killed=$((killed + 1))
  fi
  cp "$scratch/pristine/${file#src/}" "$tree/$file"
  rm -f "$scratch/current"
  line="$(printf '%3d  %-9s %4ss  %-40s %s' "$n" "$verdict" "$(( $(date +%s) - start ))" "$file" "$what")"
  say "$line"
  say "$line" >>"$result"
done
# The tree back as it was, built, for the next run.
nice -n 15 ninja -C "$build" $alltests >/dev/null 2>&1 || true
total=$((killed + survived))
say "== $killed killed, $survived survived, $unbuilt not built, of ${#selected[@]} faults" \
  "($(( total > 0 ? killed * 100 / total : 0 )) % caught); lines in $result"
[ "$survived" -eq 0 ]
