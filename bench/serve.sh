#!/usr/bin/env bash
# Measures qor-serve with wrk on loopback against nginx serving a small static file, on the
# benchmark's first data set: keep-alive, 64 connections, 10 s per workload; /cid/ and
# /v1/number/ with the existing numbers of the query file, name searches of its leading-literal
# workload (the largest region), and the static file. Then the server's peak RSS. Writes the
# table to BUILD/bench-data/serve.md, which `bash bench/run.sh --report-only` puts into
# BENCHMARKS.md. Run it after bench/run.sh, on the same build tree, or on another Release
# build tree with --set and --queries naming a run's data.
#
# Usage: bash bench/serve.sh [options]
#   --build DIR      build tree of the run.sh run (default build-bench/)
#   --set DIR        dictionary set with dict/ and corrections/ (default BUILD/bench-data/qor)
#   --queries FILE   the run's query file (default BUILD/bench-data/queries.tsv)
#   --seconds N      per workload (default 10)
#   --connections N  (default 64)
#   --threads N      qor-serve's --threads (default: its own, four times the cores)
# Needs wrk and nginx (scripts/install-deps.sh, group serve). Listens on loopback only.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
SECONDS_PER=10
CONNECTIONS=64
THREADS=""
QOR=""
QUERIES=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) BUILD=$2; shift 2 ;;
    --set) QOR=$2; shift 2 ;;
    --queries) QUERIES=$2; shift 2 ;;
    --seconds) SECONDS_PER=$2; shift 2 ;;
    --connections) CONNECTIONS=$2; shift 2 ;;
    --threads) THREADS=$2; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "serve.sh: unknown argument: $1" >&2; exit 2 ;;
  esac
done
BUILD=$(realpath "$BUILD")  # nginx takes its paths from its -p directory
WORK=$BUILD/bench-data
QOR=${QOR:-$WORK/qor}
QUERIES=${QUERIES:-$WORK/queries.tsv}
[[ -s $QUERIES && -d $QOR/dict ]] || {
  echo "serve.sh: no benchmark data in $QOR and $QUERIES; run bash bench/run.sh first" >&2
  exit 1
}
for tool in wrk nginx; do
  command -v "$tool" > /dev/null || [[ -x /usr/sbin/$tool ]] || {
    echo "serve.sh: $tool is not installed (scripts/install-deps.sh)" >&2
    exit 1
  }
done
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
S=$WORK/serve
rm -rf "$S"
mkdir -p "$S/www" "$S/logs"
log() { echo "== serve bench: $*"; }

log "building qor-serve (Release) in $BUILD"
cmake --build "$BUILD" -j2 --target qor-serve > "$S/build.log"

# The request paths: existing numbers, and the leading-literal name searches (UTF-8 pattern,
# URL-encoded).
awk -F'\t' '$1 == "N" && $2 == "number-hit" {print "/cid/" $3}' "$QUERIES" > "$S/cid.txt"
sed 's|^/cid/|/v1/number/|' "$S/cid.txt" > "$S/number.txt"
python3 - "$QUERIES" "$S/name.txt" <<'PY'
import sys, urllib.parse
with open(sys.argv[1], "rb") as f, open(sys.argv[2], "w") as out:
    for line in f:
        fields = line.rstrip(b"\n").split(b"\t")
        if fields[0] == b"S" and fields[1] == b"name-prefix":
            pattern = fields[4].decode("utf-8")
            out.write("/v1/name?" + urllib.parse.urlencode(
                {"region": fields[2].decode(), "pattern": pattern}) + "\n")
PY
[[ -s $S/cid.txt && -s $S/name.txt ]] || { echo "serve.sh: no queries taken from the query file" >&2; exit 1; }

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

"$BUILD/tools/qor-serve" --dir "$QOR/dict" --corrections "$QOR/corrections" --quiet \
  ${THREADS:+--threads "$THREADS"} --listen 127.0.0.1:0 2> "$S/serve.log" &
SERVE_PID=$!
NGINX_STARTED=0
cleanup() {
  kill "$SERVE_PID" 2> /dev/null || true
  [[ $NGINX_STARTED -eq 1 ]] && "$NGINX" -p "$S" -c "$S/nginx.conf" -s stop 2> /dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do grep -q "listening on" "$S/serve.log" && break; sleep 0.1; done
URL=$(sed -n 's/.*listening on \(http:[^ ]*\)\/$/\1/p' "$S/serve.log")
[[ -n $URL ]] || { cat "$S/serve.log"; exit 1; }

# A static file the size of a caller-ID answer.
curl -s "$URL$(head -1 "$S/cid.txt")" > "$S/www/name.txt"
NGINX_PORT=$(free_port)
cat > "$S/nginx.conf" <<CONF
worker_processes auto;
pid $S/nginx.pid;
error_log $S/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests 1000;  # its default, as qor-serve's
  server {
    listen 127.0.0.1:$NGINX_PORT;
    location / { root $S/www; }
  }
}
CONF
"$NGINX" -p "$S" -c "$S/nginx.conf"
NGINX_STARTED=1
echo "/name.txt" > "$S/static.txt"

RESULTS=$S/results.tsv
: > "$RESULTS"
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
run() {  # run NAME BASE-URL PATHS-FILE
  log "$1: wrk -t2 -c$CONNECTIONS -d${SECONDS_PER}s"
  wrk -t2 -c"$CONNECTIONS" -d"${SECONDS_PER}s" --latency -s "$ROOT/bench/serve.lua" "$2" \
    -- "$3" > "$S/$1.wrk.txt"
  printf '%s\t%s\n' "$1" "$(grep '^RESULT' "$S/$1.wrk.txt" | cut -f2-)" | tee -a "$RESULTS"
}
run cid "$URL" "$S/cid.txt"
run number "$URL" "$S/number.txt"
run name "$URL" "$S/name.txt"
run nginx "http://127.0.0.1:$NGINX_PORT" "$S/static.txt"
RSS_KIB=$(awk '/^VmHWM/ {print $2}' "/proc/$SERVE_PID/status")
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
kill -TERM "$SERVE_PID"
wait "$SERVE_PID" || { echo "serve.sh: qor-serve did not exit 0 on SIGTERM" >&2; exit 1; }

python3 - "$RESULTS" "$RSS_KIB" "$CONNECTIONS" "$SECONDS_PER" "${THREADS:-$((4 * $(nproc)))}" \
  "$(wc -l < "$S/cid.txt")" "$(wc -l < "$S/name.txt")" "$(nproc)" "$LOAD_BEFORE" "$LOAD_AFTER" \
  > "$WORK/serve.md" <<'PY'
import sys
results, rss, conns, seconds, threads, numbers, names, cpus, load0, load1 = sys.argv[1:]
rows = {}
for line in open(results):
    name, requests, rps, p50, p99, status_errors, socket_errors = line.split("\t")
    rows[name] = (int(requests), float(rps), float(p50), float(p99), int(status_errors),
                  int(socket_errors))
labels = {"cid": "`/cid/NUMBER` (existing numbers)",
          "number": "`/v1/number/NUMBER` (existing numbers)",
          "name": "`/v1/name` leading literal, largest region",
          "nginx": "nginx, a static file of the same size"}
print("### HTTP server (qor-serve)")
print()
print(f"`bash bench/serve.sh`: wrk on loopback, 2 threads, {conns} keep-alive connections, "
      f"{seconds} s per workload, on the {cpus} cores of this machine shared by wrk and the "
      f"server; qor-serve `--threads {threads}`. Paths cycle through the query file's "
      f"{int(numbers):,} existing numbers and {int(names):,} leading-literal name searches; "
      "non-2xx counts the answers with another status. Load average (1, 5, 15 min) before "
      f"the run {load0}, after it {load1}: the server's threads count in it, and so do other "
      "processes of the machine, which move every figure, nginx's too.")
print()
print("| workload | requests | requests/s | p50 | p99 | non-2xx | socket errors | vs nginx |")
print("|---|---:|---:|---:|---:|---:|---:|---:|")
base = rows["nginx"][1]
for key in ("cid", "number", "name", "nginx"):
    r = rows[key]
    print(f"| {labels[key]} | {r[0]:,} | {r[1]:,.0f} | {r[2]:.2f} ms | {r[3]:.2f} ms | "
          f"{r[4]} | {r[5]} | {r[1] / base:.2f}× |")
print()
goal_rps = rows["cid"][1] >= 0.5 * base
goal_p99 = rows["cid"][3] < 5.0
print(f"Goal for `/cid/`: at least 0.5× nginx's requests per second — "
      f"{'met' if goal_rps else 'not met'} ({rows['cid'][1] / base:.2f}×); p99 under 5 ms — "
      f"{'met' if goal_p99 else 'not met'} ({rows['cid'][3]:.2f} ms). "
      f"qor-serve's peak resident memory over the run: {int(rss) / 1024:.1f} MiB.")
PY
cat "$WORK/serve.md"
