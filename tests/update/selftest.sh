#!/usr/bin/env bash
# Exercises update_server.py and trust-test-certificate with curl.
# Usage: selftest.sh [CERT_DIR]   (default: $HOME/.cache/vobrel-test-cert)
# Exit status: 0 all passed, 1 a check failed. HTTPS checks are skipped, with
# the reason printed, when the trust script cannot install (exit 77/78).
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
# Debian's interpreter: a version-manager shim in front of python3 can cost ~1 s a start.
if [ -z "${PYTHON:-}" ] && [ -x /usr/bin/python3 ]; then PY=/usr/bin/python3; else PY=${PYTHON:-python3}; fi
SERVER=$HERE/update_server.py
TRUST=$HERE/trust-test-certificate
CERT_DIR=${1:-${HOME:-/tmp}/.cache/vobrel-test-cert}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vobrel-update-selftest.XXXXXX")
FAILS=0
CHECKS=0
PIDS=()

cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT

ok()   { CHECKS=$((CHECKS + 1)); echo "ok   $*"; }
bad()  { CHECKS=$((CHECKS + 1)); FAILS=$((FAILS + 1)); echo "FAIL $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# Builtin sleep: read on a fifo nobody writes to, with a time-out.
mkfifo "$WORK/nap"
exec {NAPFD}<>"$WORK/nap"
nap() { read -r -t "$1" -u "$NAPFD" _; true; }
# requests_logged LOG: number of request records so far.
requests_logged() { grep -c '"event": "request"' "$1" 2>/dev/null || true; }

# start_server NAME ARGS...: sets PORT, PID, LOG, IN (fd of the server's stdin).
start_server() {
    local name=$1; shift
    LOG=$WORK/$name.jsonl
    local fifo=$WORK/$name.stdin out=$WORK/$name.out
    mkfifo "$fifo"
    "$PY" "$SERVER" --log "$LOG" "$@" <"$fifo" >"$out" 2>"$WORK/$name.err" {NAPFD}>&- &
    PID=$!
    PIDS+=("$PID")
    # Opened after the fork so the server holds no writer of its own stdin:
    # it sees EOF when this fd closes. Background clients must close it too.
    exec {IN}>"$fifo"
    PORT=
    local i line
    for ((i = 0; i < 100; i++)); do
        line=$(head -n1 "$out" 2>/dev/null)
        if [[ $line =~ ^READY\ ([0-9]+)$ ]]; then PORT=${BASH_REMATCH[1]}; return 0; fi
        kill -0 "$PID" 2>/dev/null || break
        nap 0.05
    done
    bad "$name: no READY line (stderr: $(cat "$WORK/$name.err"))"
    return 1
}

# wait_gone PID: waits (bounded, 5 s) for the process to end; sets GONE_MS, RC.
wait_gone() {
    local pid=$1 t0 i
    t0=$(now_ms)
    for ((i = 0; i < 500; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        nap 0.01
    done
    GONE_MS=$(( $(now_ms) - t0 ))
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        RC=killed
        return 1
    fi
    wait "$pid"; RC=$?
    return 0
}

stop_server() {
    local name=$1
    kill -TERM "$PID" 2>/dev/null
    if wait_gone "$PID" && [ "$RC" = 0 ]; then ok "$name: stopped on SIGTERM in ${GONE_MS} ms"
    else bad "$name: did not stop cleanly on SIGTERM (rc=$RC)"; fi
    exec {IN}>&-
}

# logq LOG EXPR: evaluates EXPR with recs (all records) and req (requests only).
logq() {
    "$PY" - "$1" "$2" <<'EOF'
import json, sys
recs = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
req = [r for r in recs if r["event"] == "request"]
ok = bool(eval(sys.argv[2]))
if not ok:
    sys.stderr.write("    log: %s\n" % json.dumps(recs))
sys.exit(0 if ok else 1)
EOF
}

GOOD_REQ='r["method"] == "GET" and r["path"] == "/vobrel_update.php" and r["query"] == "v=1.0.2" and r["version"] == "HTTP/1.1" and r["body_bytes"] == 0 and not r["chunked"] and r["content_length"] is None and r["error"] is None and sorted(h[0] for h in r["headers"]) == ["Accept", "Host", "User-Agent"]'

CURL=(curl -sS --max-time 10 -o /dev/null)

echo "# statuses"
for s in 202 200 204 404 500; do
    start_server "status$s" --status "$s" || continue
    code=$("${CURL[@]}" -L --max-redirs 5 -w '%{http_code}' "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2")
    check "status $s: curl sees $code" [ "$code" = "$s" ]
    check "status $s: one GET recorded, right path/query, no body, no extra headers" \
        logq "$LOG" "len(recs) == 1 and len(req) == 1 and all(($GOOD_REQ) and r['status'] == $s for r in req)"
    stop_server "status$s"
done

echo "# redirect chains"
for rel in "" --relative-location; do
    start_server "redir5$rel" --redirects 5 --status 202 $rel || continue
    out=$("${CURL[@]}" -L --max-redirs 5 -w '%{http_code} %{num_redirects}' "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2")
    check "5 redirects ${rel:-absolute}: curl --max-redirs 5 ends with 202 after 5 ($out)" [ "$out" = "202 5" ]
    check "5 redirects ${rel:-absolute}: log shows the chain with the query kept" \
        logq "$LOG" "[r['path'] for r in req] == ['/vobrel_update.php'] + ['/hop/%d' % i for i in range(1, 6)] and all(r['query'] == 'v=1.0.2' and r['method'] == 'GET' for r in req) and [r['status'] for r in req] == [302] * 5 + [202]"
    stop_server "redir5$rel"
done
start_server redir6 --redirects 6 --status 202 || true
"${CURL[@]}" -L --max-redirs 5 "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null
rc=$?
check "6 redirects: curl --max-redirs 5 fails with 47 (got $rc)" [ "$rc" = 47 ]
check "6 redirects: 6 requests recorded, last one /hop/5" logq "$LOG" "len(req) == 6 and req[-1]['path'] == '/hop/5'"
stop_server redir6

echo "# odd requests"
start_server odd --status 202 || true
raw() { # raw REQUEST [WAIT]: sends bytes, prints the status line of the answer
    local c line
    exec {c}<>"/dev/tcp/127.0.0.1/$PORT" || return 1
    printf '%b' "$1" >&$c
    read -t "${2:-5}" -r line <&$c
    exec {c}>&-
    echo "${line%$'\r'}"
}
check "garbage request line gets 400" [ "$(raw 'garbage\r\n\r\n')" = "HTTP/1.1 400 Bad Request" ]
big=$(head -c 70000 /dev/zero | tr '\0' a)
got=$(raw "GET / HTTP/1.1\r\nX: $big\r\n\r\n")
check "oversized header section gets 431 ($got)" [ "$got" = "HTTP/1.1 431 Request Header Fields Too Large" ]
check "bad Content-Length gets 400" [ "$(raw 'POST /vobrel_update.php HTTP/1.1\r\nContent-Length: x\r\n\r\n')" = "HTTP/1.1 400 Bad Request" ]
check "bare LF request answered" [ "$(raw 'GET /vobrel_update.php?v=1.0.2 HTTP/1.1\nHost: a\n\n')" = "HTTP/1.1 202 Accepted" ]
exec {c}<>"/dev/tcp/127.0.0.1/$PORT"; exec {c}>&-
"${CURL[@]}" --data-binary 'hello' "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2"
printf 'hello world' | "${CURL[@]}" -H 'Transfer-Encoding: chunked' --data-binary @- "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2"
head -c 3000 /dev/zero | "${CURL[@]}" --data-binary @- "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2"
code=$("${CURL[@]}" -w '%{http_code}' "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2")
check "server still answers after odd requests ($code)" [ "$code" = 202 ]
check "Content-Length body counted (5 bytes)" logq "$LOG" "any(r['method'] == 'POST' and r['content_length'] == '5' and r['body_bytes'] == 5 for r in req)"
check "chunked body detected and counted (11 bytes)" logq "$LOG" "any(r['chunked'] and r['body_bytes'] == 11 and r['body_complete'] for r in req)"
check "Expect: 100-continue body counted (3000 bytes)" logq "$LOG" "any(r['body_bytes'] == 3000 and r['body_complete'] for r in req)"
check "extra headers are reported" logq "$LOG" "any(['Content-Type', 'application/x-www-form-urlencoded'] in r['headers'] for r in req)"
check "malformed requests recorded with an error" logq "$LOG" "sum(1 for r in recs if r.get('error')) >= 3"
stop_server odd

echo "# stall"
start_server stall --stall || true
t0=$(now_ms)
curl -sS -o /dev/null --connect-timeout 3 --max-time 4 "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null
rc=$?
check "stall: curl times out (28) after $(( $(now_ms) - t0 )) ms (got $rc)" [ "$rc" = 28 ]
check "stall: request recorded, never answered" logq "$LOG" "len(req) == 1 and req[0]['status'] is None and ($GOOD_REQ for r in req[:1]).__next__()"
# Keep one stalled connection open while stopping.
curl -sS -o /dev/null --max-time 20 "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null {IN}>&- &
held=$!
for ((i = 0; i < 200; i++)); do [ "$(requests_logged "$LOG")" -ge 2 ] && break; nap 0.02; done
check "stall: second connection is being held" kill -0 "$held"
got=$(raw 'garbage\r\n\r\n' 1)
check "stall: not even a bad request is answered (${got:-nothing})" [ -z "$got" ]
stop_server stall
STALL_STOP_MS=$GONE_MS
for ((i = 0; i < 300; i++)); do kill -0 "$held" 2>/dev/null || break; nap 0.01; done
wait "$held"; rc=$?
check "stall: held client released when the server stops (curl $rc)" [ "$rc" = 52 ]

echo "# other ways to stop"
start_server eof --stall || true
curl -sS -o /dev/null --max-time 20 "http://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null {IN}>&- &
held=$!
for ((i = 0; i < 200; i++)); do [ "$(requests_logged "$LOG")" -ge 1 ] && break; nap 0.02; done
exec {IN}>&-
if wait_gone "$PID" && [ "$RC" = 0 ]; then ok "stdin closed: stopped in ${GONE_MS} ms with a stalled connection open"
else bad "stdin closed: did not stop (rc=$RC)"; fi
EOF_STOP_MS=$GONE_MS
wait "$held" 2>/dev/null
start_server int --status 202 || true
kill -INT "$PID"
if wait_gone "$PID" && [ "$RC" = 0 ]; then ok "SIGINT: stopped in ${GONE_MS} ms"; else bad "SIGINT: did not stop (rc=$RC)"; fi
exec {IN}>&-
"$PY" "$SERVER" --status 202 </dev/null >"$WORK/devnull.out" 2>&1 &
p=$!
if wait_gone "$p"; then ok "stdin /dev/null without --no-stdin-watch: stops at once"; else bad "stdin /dev/null: kept running"; fi
"$PY" "$SERVER" --no-stdin-watch --max-lifetime 1 </dev/null >"$WORK/life.out" 2>&1 &
p=$!
PIDS+=("$p")
for ((i = 0; i < 100; i++)); do grep -q '^READY ' "$WORK/life.out" && break; nap 0.05; done
check "--no-stdin-watch keeps running on /dev/null" kill -0 "$p"
if wait_gone "$p"; then ok "--max-lifetime 1 ends it"; else bad "--max-lifetime did not end it"; fi

# A parent that dies without closing the server's stdin.
rm -f "$WORK/orphan.pid"
bash -c '"$1" "$2" --status 202 </dev/null --no-stdin-watch >"$3.out" 2>/dev/null & echo $! >"$3.pid"
         for ((i = 0; i < 100; i++)); do grep -q "^READY " "$3.out" && exit 0; read -r -t 0.05 -u "$4" _; done' \
    _ "$PY" "$SERVER" "$WORK/orphan" "$NAPFD"
p=$(cat "$WORK/orphan.pid" 2>/dev/null)
if [ -n "$p" ]; then
    PIDS+=("$p")
    t0=$(now_ms)
    # Not our child: whoever adopted it reaps it, maybe late, so a zombie counts as gone.
    running() { local st; st=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) && [ "$st" != Z ]; }
    for ((i = 0; i < 500; i++)); do running "$p" || break; nap 0.01; done
    if running "$p"; then bad "parent gone: server kept running"
    else ok "parent gone: server stopped $(( $(now_ms) - t0 )) ms after its parent ended"; fi
else
    bad "parent gone: server did not start"
fi

echo "# https"
"$TRUST" "$CERT_DIR" 2>"$WORK/trust.err"
rc=$?
CRT=$CERT_DIR/vobrel-test-127.0.0.1.crt
KEY=$CERT_DIR/vobrel-test-127.0.0.1.key
if [ "$rc" = 77 ] || [ "$rc" = 78 ]; then
    echo "SKIP https: trust-test-certificate exit $rc: $(tail -n1 "$WORK/trust.err")"
elif [ "$rc" != 0 ]; then
    bad "trust-test-certificate failed (exit $rc): $(cat "$WORK/trust.err")"
else
    ok "trust-test-certificate: $(tail -n1 "$WORK/trust.err")"
    "$TRUST" "$CERT_DIR" 2>"$WORK/trust2.err"
    check "trust-test-certificate again: nothing to do" grep -q 'already trusted' "$WORK/trust2.err"
    start_server https --tls "$CRT" "$KEY" --redirects 1 --status 202 || true
    out=$("${CURL[@]}" -L --max-redirs 5 -w '%{http_code} %{num_redirects}' "https://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2")
    check "https: curl without -k gets 202 after 1 redirect ($out)" [ "$out" = "202 1" ]
    check "https: requests recorded as TLS" logq "$LOG" "len(req) == 2 and all(r['tls'] for r in req) and ($GOOD_REQ for r in req[:1]).__next__()"
    stop_server https
    # A certificate nobody trusts must be refused: verification is really on.
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj /CN=untrusted -addext subjectAltName=IP:127.0.0.1 \
        -keyout "$WORK/u.key" -out "$WORK/u.crt" >/dev/null 2>&1
    start_server untrusted --tls "$WORK/u.crt" "$WORK/u.key" || true
    "${CURL[@]}" "https://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null
    rc=$?
    check "https with an untrusted certificate: curl refuses (60) (got $rc)" [ "$rc" = 60 ]
    code=$("${CURL[@]}" -k -w '%{http_code}' "https://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2")
    check "untrusted server survives the failed handshake ($code)" [ "$code" = 202 ]
    check "failed handshake recorded as an error" logq "$LOG" "any(r['event'] == 'error' and 'tls' in r['error'] for r in recs)"
    stop_server untrusted
    start_server tlsstall --tls "$CRT" "$KEY" --stall || true
    curl -sS -o /dev/null --connect-timeout 3 --max-time 4 "https://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null
    rc=$?
    check "https stall: curl times out (28) (got $rc)" [ "$rc" = 28 ]
    curl -sS -o /dev/null --max-time 20 "https://127.0.0.1:$PORT/vobrel_update.php?v=1.0.2" 2>/dev/null {IN}>&- &
    held=$!
    for ((i = 0; i < 200; i++)); do [ "$(requests_logged "$LOG")" -ge 2 ] && break; nap 0.02; done
    stop_server tlsstall
    TLS_STALL_STOP_MS=$GONE_MS
    wait "$held" 2>/dev/null
fi

echo
echo "stop times with a stalled connection open: SIGTERM ${STALL_STOP_MS:-?} ms, stdin EOF ${EOF_STOP_MS:-?} ms, TLS SIGTERM ${TLS_STALL_STOP_MS:-?} ms"
echo "$CHECKS checks, $FAILS failed"
[ "$FAILS" = 0 ]
