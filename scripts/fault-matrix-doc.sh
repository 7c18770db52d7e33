#!/usr/bin/env bash
# Runs the fault-matrix tests (tests/faultmatrix) and writes
# docs/fault-matrix.md from the rows the tests themselves observed: every
# table row is one case of a test's table, with what the merchant saw, the
# window afterwards, the day's log, the host's ledger and the next try.
#
#   scripts/fault-matrix-doc.sh [BUILD_DIR]      (default build)
#
# The programs run one after another; each runs its rows side by side in
# child processes (SORNA_FAULTMATRIX_JOBS, default 6).  Exits non-zero when a
# row failed (the document is written all the same, the row marked FAILED).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
doc="docs/fault-matrix.md"
tests=(tst_faultmatrix_login tst_faultmatrix_card tst_faultmatrix_transaction)

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSORNA_WERROR=ON >/dev/null
fi
cmake --build "$build" --target sorna-host sorna "${tests[@]}" -- -j2

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
status=0
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
start=$(date +%s.%N)
for t in "${tests[@]}"; do
  t0=$(date +%s.%N)
  if QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' SORNA_FAULT_MATRIX_DOC="$out" \
      "$build/tests/$t" >"$out/$t.txt" 2>&1; then
    result=passed
  else
    result=FAILED
    status=1
    grep -E '^(FAIL!|   Loc:)' "$out/$t.txt" >&2 || true
  fi
  printf '%-30s %s in %s s (%s)\n' "$t" "$result" "$(elapsed "$t0")" \
    "$(grep -E '^Totals:' "$out/$t.txt" | tail -n 1)"
done
wall=$(elapsed "$start")

rows=0
failed=0
for t in "${tests[@]}"; do
  [ -f "$out/$t.md" ] || { echo "$t wrote no table" >&2; status=1; continue; }
  rows=$((rows + $(grep '^| ' "$out/$t.md" | grep -vc '^| Exchange ' || true)))
  failed=$((failed + $(grep -c 'FAILED\|no result' "$out/$t.md" || true)))
done

{
  cat <<'EOF'
# Fault matrix

What the merchant meets when the line or the approval host fails, for every
exchange of the counter program: the real windows of the client against the
real reference host (`sorna-host`), one fault per row. Every row below is a
case of the tests in `tests/faultmatrix/` and shows what that test observed
(and asserted) in its last run; `scripts/fault-matrix-doc.sh` runs them and
writes this file.

- **What the merchant sees**: the message box ("box: …"), the result lines of
  the main window, the receipt window.
- **Window afterwards**: checked in every row: the window is usable (buttons
  enabled, no modal window stuck, no receipt window and no other top-level
  window left behind).
- **Day's log**: the lines of `Log/YYYYMMDD.log` from the start of the
  exchange, in short: `Send 0500` (a request, with `/cancel_kind` for 0600),
  `Serc 0200` (a card inquiry), `Resp <msg_length> <msg_type> <resp_code>` (an
  answer as opened; blanks shown as `·`), `Rvsl kept/connecting/sent/not sent`
  (the reversal of an unanswered approval).
- **Host's ledger**: the card's entries in the host's data once any reversal
  has been delivered. In every row each approval the host still holds was
  shown to the merchant: no amount stays deducted without an approval on the
  screen or a reversal delivered.
- **The merchant tries again**: the same exchange once the fault has passed
  (the host's fault strikes only the first request of the exchange's type,
  `--fault-on TYPE:MODE --fault-count 1`). Where the host did carry out the
  first approval, the same card, item and amount within five minutes is asked
  about first ("같은 카드로 같은 금액이 5분 이내에 승인되었습니다. 다시
  결제하시겠습니까?"), and the merchant answers 예.

Faults: host not listening (the port closed); reset as soon as accepted (a
host started with `--fault reset`); reset after the request (read, nothing
done, connection reset); closed without an answer; silent; the answer 9 s and
12 s late (the login and the main window wait 10 s); the answer in 1-byte
pieces and in 2 pieces 2 s apart; a truncated answer; garbage; a wrong frame
prefix; a blank and a non-numeric `msg_length`; refusals (the host's "92" and
a refusal of the data). Except for the resets and refusals the host has done
the work (an approval committed, a cancellation made) before its answer goes
wrong, as when a line fails after the host has done its part.

In short:

- The login and the main window give the host 10 s. No answer by then, a
  connection lost after the request left, or an answer that is no frame:
  "연결할 수 없습니다", and the window is usable at once.
- An approval whose outcome is unknown is reversed at once; in no row does
  the host keep an amount the merchant was not shown as approved.
- A cancellation whose outcome is unknown is not reversed (the amount is back
  on the card if the host did cancel); the next try then answers
  "23 기취소건".
- The card windows have no answer time-out: a late answer (12 s) is shown, a
  silent host leaves the window waiting, quiet and usable, until the merchant
  presses 취소 or swipes again. An inquiry changes nothing at the host.
- Answers in pieces are gathered, however they are cut.
- A blank or non-numeric `msg_length`: the login is refused (the merchant data
  cannot be found without it); every other answer is read by position and
  shown.

Rerun: `scripts/fault-matrix-doc.sh [BUILD_DIR]`, or `ctest -R faultmatrix`
for the tests alone.

EOF
  echo "$rows rows, $failed failed."
  echo
  for t in "${tests[@]}"; do
    [ -f "$out/$t.md" ] && { cat "$out/$t.md"; echo; }
  done
} >"$doc"

echo "$doc: $rows rows, $failed failed; the matrix took $wall s wall time"
exit $status
