#!/usr/bin/env python3
"""One markdown table from the JSON files of the benchmark programs.

    report.py RESULTS_FOLDER

RESULTS_FOLDER holds bench_codec.json, bench_exchange.json,
bench_startup.json and bench_host.json (Google Benchmark's JSON output) and
machine.txt (lines "key: value" written by run-all.sh).
"""

import json
import pathlib
import sys


def load(folder, name):
    path = folder / f"{name}.json"
    if not path.exists():
        return {}
    data = json.loads(path.read_text())
    out = {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            out[b["name"]] = {"error": b.get("error_message", "failed")}
        else:
            out[b["name"]] = b
    return out


def find(results, prefix):
    for name, b in results.items():
        if name.startswith(prefix):
            return b
    return None


def ns(b):
    """The time of one iteration in nanoseconds."""
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def fmt_time(value_ns):
    if value_ns >= 1e6:
        return f"{value_ns / 1e6:,.2f} ms"
    if value_ns >= 1e3:
        return f"{value_ns / 1e3:,.1f} µs"
    return f"{value_ns:,.0f} ns"


def us(v):
    return fmt_time(v * 1e3)


def main():
    folder = pathlib.Path(sys.argv[1])
    codec = load(folder, "bench_codec")
    exchange = load(folder, "bench_exchange")
    startup = load(folder, "bench_startup")
    journal = load(folder, "bench_journal")
    host = load(folder, "bench_host")
    rows = []
    missing = []

    def failed(b, what):
        if b is None or "error" in b:
            missing.append(f"{what}: {b['error'] if b else 'not run'}")
            return True
        return False

    # ---- exchange latency
    e = find(exchange, "BM_ExchangeLatency")
    if not failed(e, "exchange latency"):
        rounds = int(e["rounds"])
        size = f"{int(e['request_bytes'])} bytes out, {int(e['approval_answer_bytes'])} back"
        echo = f"p50 {us(e['echo_p50_us'])}, p99 {us(e['echo_p99_us'])}"
        for key, what in [
            ("approval", f'Approval "0500", whole exchange through the host link against the reference host '
                         f"(ledger commit), {rounds:,} exchanges"),
            ("balance", f'Balance inquiry "0700", the same exchange without a ledger write, {rounds:,} exchanges'),
            ("canned", "Approval through the host link against a server that answers a stored answer at once "
                       "(the client's own share)"),
        ]:
            rows.append((
                "Exchange latency",
                what,
                f"p50 {us(e[key + '_p50_us'])}, p99 {us(e[key + '_p99_us'])}",
                f"bare TCP connect + send + echo ({size}): {echo}",
                f"{e[key + '_ratio_p50']:.1f}× (p50), {e[key + '_ratio_p99']:.1f}× (p99)",
            ))
        if int(e["errors"]):
            missing.append(f"exchange latency: {int(e['errors'])} exchanges failed")

    # ---- codec
    pairs = [
        ("BM_BuildSealTransaction", "BM_SeedCbcEncrypt/transaction_454",
         "Build + encipher + frame of an approval request (454 plain bytes)",
         "SEED-CBC encryption of the same 454 bytes"),
        ("BM_OpenCutCardInquiry", "BM_SeedCbcDecrypt",
         "Deframe + decipher + cut of a card inquiry answer (978 plain bytes, 9 items)",
         "SEED-CBC decryption of the same 978 bytes"),
        ("BM_OpenFrameCardInquiry", "BM_SeedCbcDecrypt",
         "… of which deframe + decipher", "SEED-CBC decryption of the same 978 bytes"),
        ("BM_CutCardInquiry", "BM_SeedCbcDecrypt",
         "… of which cut into fields (CP949 byte positions)", "SEED-CBC decryption of the same 978 bytes"),
    ]
    for name, ref, what, refwhat in pairs:
        b, r = codec.get(name), codec.get(ref)
        if failed(b, name) or failed(r, ref):
            continue
        rows.append(("Message codec", what, fmt_time(ns(b)), f"{refwhat}: {fmt_time(ns(r))}",
                     f"{ns(b) / ns(r):.1f}×"))

    # ---- start-up and memory
    for arg, platform in [("0", "offscreen"), ("1", "a real X server, Xvfb")]:
        s = find(startup, f"BM_ClientStartup/{arg}/0/")
        if failed(s, f"client start-up ({platform})"):
            continue
        floor = find(startup, f"BM_ClientStartup/{arg}/1/")
        floor_text = (f"; the smallest Qt program showing one line of Korean (`startup_floor`): median "
                      f"{floor['median_ms']:.0f} ms" if floor and "median_ms" in floor else "")
        rows.append((
            "Client start-up",
            f"Process start to login window painted (`sorna --quit-when-shown` says \"shown\", {platform}), "
            f"{int(s['runs'])} runs",
            f"median {s['median_ms']:.0f} ms, p90 {s['p90_ms']:.0f} ms (min {s['min_ms']:.0f}, max {s['max_ms']:.0f})",
            f"the whole process, to its end: median {s['whole_median_ms']:.0f} ms{floor_text}",
            "",
        ))
        if int(s["failures"]):
            missing.append(f"client start-up ({platform}): {int(s['failures'])} runs failed")
    m = find(startup, "BM_MemoryAfterLogin")
    if not failed(m, "memory after login"):
        rows.append((
            "Client memory",
            "Resident memory after login (login through Form3 against the reference host, main window up, "
            "offscreen; VmRSS)",
            f"{m['rss_after_login_mb']:.1f} MB",
            f"with the login window only: {m['rss_login_window_mb']:.1f} MB; "
            f"peak (VmHWM) {m['peak_rss_mb']:.1f} MB",
            "",
        ))

    # ---- the journal
    j, bare = find(journal, "BM_RecordApproval"), find(journal, "BM_BareCommit")
    if not failed(j, "journal") and not failed(bare, "bare commit"):
        rows.append((
            "Journal",
            "Recording an approval: its row before the request leaves, then its answer (two durable commits, "
            "WAL, synchronous=FULL), 300 approvals",
            f"p50 {us(j['p50_us'])}, p99 {us(j['p99_us'])}",
            f"one bare durable SQLite commit of a row: p50 {us(bare['p50_us'])}, p99 {us(bare['p99_us'])}",
            f"{j['p50_us'] / bare['p50_us']:.1f}× (p50)",
        ))

    # ---- host throughput
    for arg, what in [("0", "card inquiries (978-byte answers)"), ("1", "approvals (ledger commit each)")]:
        h = find(host, f"BM_HostThroughput/{arg}/")
        if failed(h, f"host throughput {what}"):
            continue
        rows.append((
            "Host throughput",
            f"Reference host, 50 concurrent clients, {what}, a new connection per exchange",
            f"{h['exchanges/s']:,.0f} exchanges/s",
            f"{int(h['exchanges']):,} exchanges, errors: {int(h['errors'])}",
            "",
        ))

    k = find(host, "BM_HostKilledMidRun")
    if not failed(k, "host killed mid-run"):
        rows.append((
            "Host durability",
            "Reference host killed (SIGKILL) during approvals from 50 clients, 3 runs: approval numbers "
            "the clients received against the ledger rows",
            f"{int(k['answered']):,} answered, {int(k['ledger_rows']):,} ledger rows, "
            f"{int(k['missing'])} answered but missing",
            f"rows without an answer received: {int(k['unanswered_rows'])} "
            f"(at most {int(k['max_unanswered_rows'])}: one in flight per client)",
            "",
        ))

    print("| Area | Measure | Figure | Reference (same run) | Ratio |")
    print("|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    machine = folder / "machine.txt"
    if machine.exists():
        print()
        for line in machine.read_text().splitlines():
            key, _, value = line.partition(":")
            print(f"- {key.strip()}: {value.strip()}")
    if missing:
        print()
        print("Not measured or failed:")
        for m in missing:
            print(f"- {m}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
