#!/usr/bin/env bash
# rvk serve over a history that two drafters made on a throwaway PostgreSQL cluster, read with a
# reader's login. Every page is loaded in headless Chromium and checked in the DOM it built:
# authors, a lock's holder, a label's register (and its CSV, byte for byte what rvk export
# writes), and a hostile commit message that stays text. Over plain HTTP: the requests that must
# be refused, a client that sends its request slowly, a 300 MiB drawing downloaded whole and
# compared while other requests are answered, and damaged copies that are refused, not sent.
# rvk.exe runs under Wine, as the office's server of pages might run on Windows.
# Usage: web_test.sh <path to rvk or rvk.exe> [folder for the screenshots]
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"
shots=${2:-$base/shots}
mkdir -p "$shots"
for tool in chromium curl; do
    if ! command -v $tool >/dev/null; then
        echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"
        exit 77
    fi
done
super() { psql -X -At "$pg_super" -c "$1"; }
export RVK_COMMIT_TIME=1700000000
hostile='<script>document.title="taken"</script><img src=x onerror="document.title=1"> & "done"'
utf8_name='plans/Grundriß Ébauche.dwg'

# drafter1: the first plans, a commit with a hostile message, a drawing with a UTF-8 name.
expect 0 "created an empty" -- rvk remote create "$pg_admin"
cd "$base"
expect 0 "cloned nothing" -- rvk clone "$pg_drafter1" "$base/a"
cd "$base/a"
mkdir -p "plans/level 1"
printf 'ground floor v1\n' >"plans/level 1/ground floor.dwg"
printf 'Client meeting notes\n' >notes.txt
rvk stage --all >/dev/null && rvk commit -m "First plans" >/dev/null
printf 'sketch\n' >"$utf8_name"
rvk stage --all >/dev/null && rvk commit -m "$hostile" >/dev/null
expect 0 "pushed 2 commits" -- rvk push

# drafter2: the ground floor revised under its lock, kept; the notes removed.
cd "$base"
expect 0 "cloned 2 commits" -- rvk clone "$pg_drafter2" "$base/b"
cd "$base/b"
expect 0 "locked" -- rvk lock "plans/level 1/ground floor.dwg"
printf 'ground floor v2, stair moved\n' >"plans/level 1/ground floor.dwg"
rm notes.txt
rvk stage --all >/dev/null && rvk commit -m "Ground floor revised" >/dev/null
expect 0 "pushed 1 commit" -- rvk push --keep-locks
expect 0 "labelled commit 3 'Rev B'" -- rvk label "Rev B" 3
expect 0 "exported commit 3" -- rvk export "Rev B" "$base/Rev B"

# A drawing of 300 MiB, from drafter1.
cd "$base/a"
expect 0 "HEAD is commit 3" -- rvk pull
head -c $((300 << 20)) /dev/urandom >big.dwg
rvk stage big.dwg >/dev/null && rvk commit -m "The big one" >/dev/null
expect 0 "pushed 1 commit" -- rvk push

# What rvk serve refuses before it serves: a secret on its command line, an address it cannot read.
expect 1 "the connection string holds a password" -- rvk serve "$pg_reader password=secret"
expect 2 "is no ADDRESS:PORT" -- rvk serve "$pg_reader" --listen 127.0.0.1
expect 2 "is no ADDRESS:PORT" -- rvk serve "$pg_reader" --listen 127.0.0.1:65536

# The server, for a reader, on a free port. Asan keeps freed memory aside by default; a small
# quarantine keeps the peak memory of a build with it near what the code itself takes.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8
log=$base/serve.log
serve=("$program")
[[ $program == *.exe ]] && serve=(wine "$program")
"${serve[@]}" serve "$pg_reader" --listen 127.0.0.1:0 2>"$log" &
serve_pid=$!
trap 'kill $serve_pid 2>/dev/null || true; cleanup' EXIT
for _ in $(seq 200); do
    grep -q "^rvk serve: .* on http://" "$log" && break
    kill -0 $serve_pid 2>/dev/null || break
    sleep 0.1
done
site=$(sed -n 's|^rvk serve: .* on \(http://[^ ]*\) .*|\1|p' "$log")
[[ $site == http://127.0.0.1:*/ ]] || { cat "$log"; echo "FAILED: rvk serve did not start"; exit 1; }
grep -qF "as 'reader' reads it" "$log" || fail "the start line does not name the role: $(<"$log")"

# --- in the browser ---------------------------------------------------------------------------
browser=(chromium --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$base/chromium")
# dom PATH: the DOM Chromium built for the page at PATH, scripts allowed to run if any could.
dom() { timeout 120 "${browser[@]}" --dump-dom "${site%/}$1" 2>/dev/null >"$out" || fail "Chromium could not load $1"; }
shot() { timeout 120 "${browser[@]}" --window-size=1280,800 --screenshot="$shots/$2.png" "${site%/}$1" >/dev/null 2>&1 ||
         fail "Chromium could not take a screenshot of $1"; }
has() { grep -qF -- "$1" "$out" || fail "$2: no '$1' in $(head -c 4000 "$out")"; }
lacks() { ! grep -qF -- "$1" "$out" || fail "$2: '$1' should not be there"; }
row() { grep -F -- "$1" "$out" | head -1; }

dom /
has '<title>History — rvk</title>' "a script of the hostile message ran"
lacks '<script' "the hostile message made an element"
lacks '<img' "the hostile message made an element"
has '&lt;script&gt;document.title="taken"&lt;/script&gt;&lt;img src=x onerror="document.title=1"&gt; &amp; "done"' \
    "the hostile message is not shown as text"
[[ $(row 'id="c3"') == *'<td class="author">drafter2</td>'*'Ground floor revised'*'<td class="files">2</td>'*'href="./labels/Rev%20B">Rev B</a>'* ]] ||
    fail "commit 3's row: $(row 'id="c3"')"
# The ignore rules that the clone made are in it too.
[[ $(row 'id="c1"') == *'<td class="author">drafter1</td>'*'First plans'*'<td class="files">3</td>'* ]] ||
    fail "commit 1's row: $(row 'id="c1"')"
[[ $(grep -c '<tr id="c' "$out") == 4 ]] || fail "the history does not list 4 commits"
shot / history

dom /commit/3
[[ $(row 'class="changed"') == *'href="../file/plans/level%201/ground%20floor.dwg"'*'<td class="kind">changed</td>'*'data-bytes="29"'*'href="../download/3/plans/level%201/ground%20floor.dwg"'* ]] ||
    fail "commit 3 changed the ground floor: $(row 'class="changed"')"
[[ $(row 'class="removed"') == *'href="../file/notes.txt"'*'<td class="kind">removed</td>'* ]] ||
    fail "commit 3 removed the notes: $(row 'class="removed"')"
has '<dd class="author">drafter2</dd>' "commit 3's author"
shot /commit/3 commit

dom "/file/plans/level%201/ground%20floor.dwg"
has 'Locked by <span class="holder">drafter2</span>' "the ground floor's lock"
[[ $(grep -c 'class="download"' "$out") == 2 ]] || fail "the ground floor has not two versions"

# The locks, the oldest first: one taken long ago (as the superuser dates it back) is marked old.
cd "$base/a"
expect 0 "locked" -- rvk lock "$utf8_name"
super "UPDATE rvk.locks SET taken = now() - interval '30 days' WHERE path LIKE '%ground floor.dwg'" >/dev/null
dom /locks
[[ $(row 'ground%20floor.dwg') == *'<tr class="old">'*'<td class="holder">drafter2</td>'*'<time datetime="20'*'<strong class="old">old</strong>'* ]] ||
    fail "the old lock: $(row 'ground%20floor.dwg')"
[[ $(row 'Grundri%C3%9F') == '<tr><td>'*'<td class="holder">drafter1</td>'* ]] || fail "the new lock: $(row 'Grundri%C3%9F')"
[[ $(grep -o 'ground%20floor.dwg\|Grundri%C3%9F' "$out" | tr '\n' ' ') == 'ground%20floor.dwg Grundri%C3%9F ' ]] ||
    fail "the locks are not the oldest first"
shot /locks locks

dom /labels
[[ $(row 'Rev%20B') == *'href="./commit/3"'*'<td class="author">drafter2</td>'* ]] || fail "the labels page: $(row 'Rev%20B')"
dom "/labels/Rev%20B"
sha=$(sha256sum <"$base/b/plans/level 1/ground floor.dwg" | cut -d' ' -f1)
[[ $(row "$sha") == *'ground%20floor.dwg'*'data-bytes="29"'*"$sha"*'href="../commit/3"'*'drafter2'* ]] ||
    fail "the register of Rev B: $(<"$out")"
[[ $(grep -c '<td class="sha">' "$out") == 2 ]] || fail "the register of Rev B has not 2 files"
curl -sf --max-time 60 -o "$base/register.csv" "${site}labels/Rev%20B/register.csv" ||
    fail "no register.csv from the label's page"
cmp -s "$base/register.csv" "$base/Rev B/register.csv" ||
    fail "the register differs from rvk export's: $(diff "$base/register.csv" "$base/Rev B/register.csv")"

# --- over plain HTTP ----------------------------------------------------------------------------
# status METHOD TARGET [CURL ARG...]: the status of one request, sent as it is written.
status() {
    local method=$1 target=$2
    shift 2
    curl -s --max-time 60 --path-as-is -X "$method" -o "$base/body" -w '%{http_code}' "$@" \
        "${site%/}$target" || true
}
long=$(printf 'a%.0s' $(seq 5000))
big_header="X-Filler: $(printf 'b%.0s' $(seq 20000))"
while IFS='|' read -r want method target extra; do
    args=()
    [[ -z $extra ]] || args=(-H "$extra")
    [[ $extra == *FILLER* ]] && args=(-H "$big_header")
    [[ $target == *LONG* ]] && target=${target/LONG/$long}
    got=$(status "$method" "$target" "${args[@]}")
    [[ $got == "$want" ]] || fail "$method $target: $got, wanted $want"
done <<'EOF'
200|GET|/
200|GET|/history/1
200|GET|/style.css
404|GET|/history/2
404|GET|/history/0
404|GET|/nothing
404|GET|/commit/9
404|GET|/commit/007
404|GET|/commit/x
404|GET|/commit/3/more
404|GET|/file/nothing.dwg
404|GET|/file/plans/level%201
404|GET|/file/plans%2Flevel%201%2Fground%20floor.dwg
404|GET|/file/plans//x.dwg
404|GET|/download/9/notes.txt
404|GET|/download/3/notes.txt
404|GET|/labels/Rev%20C
400|GET|/file/%zz
400|GET|/file/a%2
400|GET|/file/%C3%28.dwg
400|GET|/file/a%00b
400|GET|/file/a%0Ab
400|GET|/file/../../etc/passwd
400|GET|/file/plans/%2e%2e/notes.txt
400|GET|/download/1/./notes.txt
414|GET|/file/LONG
431|GET|/|FILLER
413|GET|/|Content-Length: 5
405|POST|/
405|PUT|/file/notes.txt
405|DELETE|/locks
405|PATCH|/labels
405|OPTIONS|/
EOF
grep -q "Allow: GET, HEAD" <(curl -s --max-time 60 -D - -o /dev/null -X POST "$site") ||
    fail "a refused POST does not say what is allowed"
headers=$(curl -s --max-time 60 -D - -o /dev/null "$site")
grep -qi "^Content-Security-Policy: default-src 'none'; style-src 'self';" <<<"$headers" ||
    fail "the page's policy: $headers"
# HEAD: the headers of GET, no body.
headers=$(curl -s --max-time 60 -I "${site}locks")
grep -qi '^Content-Length: [1-9]' <<<"$headers" || fail "HEAD /locks: $headers"
port=$(sed 's|.*:\([0-9]*\)/$|\1|' <<<"$site")
exec 4<>"/dev/tcp/127.0.0.1/$port"
printf 'HEAD /locks HTTP/1.0\r\n\r\n' >&4
timeout 60 cat <&4 >"$base/head" || true
exec 4>&-
[[ $(tail -c 4 "$base/head" | od -An -c | tr -d ' ') == '\r\n\r\n' ]] || fail "HEAD sent a body: $(<"$base/head")"

# A client that sends half a request and waits keeps no one else waiting.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET / HTTP/1.1\r\nHost: x\r\n' >&3
[[ $(status GET /locks) == 200 ]] || fail "a slow client held up another"

# The UTF-8 name of a download, and its bytes.
headers=$(curl -s --max-time 60 -D - -o "$base/utf8.out" "${site}download/2/plans/Grundri%C3%9F%20%C3%89bauche.dwg")
grep -qF "filename*=UTF-8''Grundri%C3%9F%20%C3%89bauche.dwg" <<<"$headers" ||
    fail "the UTF-8 name of the download: $headers"
cmp -s "$base/utf8.out" "$base/a/$utf8_name" || fail "the UTF-8 named download differs"

# 300 MiB, slowed to at most 50 MiB/s, while pages are asked for: each answered before it ends.
curl -s --max-time 600 --limit-rate 50M -o "$base/big.out" "${site}download/4/big.dwg" &
download=$!
sleep 1
for page in / /locks /labels /commit/4 "/labels/Rev%20B"; do
    [[ $(status GET "$page") == 200 ]] || fail "GET $page during the download"
done
kill -0 $download 2>/dev/null || fail "the download ended before the other requests were answered"
wait $download || fail "the download of big.dwg failed"
cmp "$base/big.out" "$base/a/big.dwg" || fail "the downloaded big.dwg differs"
if [[ $program != *.exe ]]; then  # under Wine, the process holds Wine's own memory too
    peak=$(sed -n 's/^VmHWM: *\([0-9]*\) kB/\1/p' "/proc/$serve_pid/status")
    ((peak < 200 * 1024)) || fail "the server held $((peak / 1024)) MiB at its peak: the drawing went whole into memory"
fi
exec 3>&-

# Damaged copies are refused, not sent: the notes' copy made longer, the big one's last chunk
# changed, each with a chunk digest that agrees, as a superuser or a failing disk could leave them.
notes_url=$(super "SELECT url FROM rvk.changes WHERE path = 'notes.txt' AND commit_id = 1")
super "UPDATE rvk.copy_chunks SET data = data || '\\x00'::bytea,
       chunk_sha256 = encode(sha256(data || '\\x00'::bytea), 'hex') WHERE url = '$notes_url'" >/dev/null
[[ $(status GET /download/1/notes.txt) == 502 ]] || fail "a damaged copy was not refused"
! grep -q "Client meeting notes" "$base/body" || fail "a damaged copy was sent"
big_url=$(super "SELECT url FROM rvk.changes WHERE path = 'big.dwg'")
super "UPDATE rvk.copy_chunks SET data = set_byte(data, 0, (get_byte(data, 0) + 1) % 256),
       chunk_sha256 = encode(sha256(set_byte(data, 0, (get_byte(data, 0) + 1) % 256)), 'hex')
       WHERE url = '$big_url' AND seq = 299" >/dev/null
[[ $(status GET /download/4/big.dwg) == 502 ]] || fail "a damaged 300 MiB copy was not refused"
(($(stat -c %s "$base/body") < 100000)) || fail "a damaged 300 MiB copy was sent"
grep -qF "is damaged" "$base/body" || fail "the refusal does not say why: $(<"$base/body")"

# The log: one line a request, none an error of the server's own.
grep -qE '^GET /locks 200 [0-9]+ bytes [0-9]+ ms$' "$log" || fail "no log line for GET /locks"
grep -qE '^POST / 405 ' "$log" || fail "no log line for the refused POST"
grep -qE '^GET /download/4/big.dwg 200 314572800 bytes ' "$log" || fail "no log line for the download"
grep -qF "refused 'notes.txt' at commit 1" "$log" || fail "the refusal of the damaged copy is not logged"
! grep -qE ' 5[0-9][0-9] ' <(grep -v ' 502 ' "$log") || fail "the server failed: $(grep -E ' 5[0-9][0-9] ' "$log")"

kill -TERM $serve_pid
if [[ $program != *.exe ]]; then  # Wine ends a Windows program on SIGTERM without a word
    wait $serve_pid || fail "rvk serve did not end well when stopped"
    tail -1 "$log" | grep -qx "rvk serve: stopped" || fail "rvk serve did not say it stopped: $(tail -3 "$log")"
fi
for page in history commit locks; do
    [[ $(stat -c %s "$shots/$page.png" 2>/dev/null || echo 0) -gt 10000 ]] || fail "no screenshot of $page"
done

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "web view: all checks passed"
