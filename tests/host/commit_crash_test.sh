#!/usr/bin/env bash
# Kills `rvk commit` on a tree of 1,200 files, at random moments and at chosen system calls that
# write (stored copies, the database, the state file, renames, flushes), and checks after every
# kill that nothing is inconsistent: the state file reads, HEAD names a commit of the database,
# every stored copy of that commit is there (objects with the digest their URL names), the next
# commit finishes or says there is nothing to commit, and no temporary file is left after it.
#
# Usage: commit_crash_test.sh <path to rvk> [random kills, default 20] [sample|all|none]
#   sample (the default) kills at the first, a middle and the last call of each kind;
#   all kills at every writing call of one commit in turn (needs strace, and ptrace allowed).
set -euo pipefail

rvk=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
random_kills=${2:-20}
syscall_mode=${3:-sample}
base=$(mktemp -d "${TMPDIR:-/tmp}/rvk-crash-XXXXXX")
trap 'rm -rf "$base"' EXIT
mkdir "$base/repo"
cd "$base/repo"
export RVK_LOCK_TIMEOUT=60
writing_calls=(openat write pwrite64 fsync fdatasync syncfs rename unlink fchmod utimensat ftruncate)

inconsistent=0
bad() {
    echo "INCONSISTENT after $1: $2" >&2
    inconsistent=$((inconsistent + 1))
}

# 1,200 files of 1 KiB in 12 folders, a quarter of them drawings.
for i in $(seq 0 1199); do
    dir=site/level-$((i % 12))
    [[ -d $dir ]] || mkdir -p "$dir"
    ext=txt
    ((i % 4 == 0)) && ext=dwg
    head -c 1024 /dev/urandom >"$dir/part-$i.$ext"
done
"$rvk" init >/dev/null
"$rvk" stage --all >/dev/null
"$rvk" commit -m base >/dev/null

round=0
# Changes 60 files and stages them, so that the next commit has work to do.
prepare() {
    local i n f
    round=$((round + 1))
    for i in $(seq 0 59); do
        n=$(((round * 61 + i * 19) % 1200))
        f=$(echo site/level-$((n % 12))/part-$n.*)
        printf 'round %d\n' "$round" >>"$f"
    done
    "$rvk" stage --all >/dev/null
    head_before=$(head_commit)
}

head_commit() { sed -n 's/^ *"commit" : \([0-9]*\).*/\1/p' .rvk/rvk.state; }

# Where in a commit the kill landed, read off what it left behind; tallied in $phases.
declare -A phases=()
tally_phase() {
    local phase="before the database, no copy half made"
    if [[ $(head_commit) != "$head_before" ]]; then
        phase="after the state was written"
    elif compgen -G '.rvk/.rvk.state.tmp-*' >/dev/null; then
        phase="writing the state"
    elif [[ -e .rvk/rvk.db-journal ]]; then
        phase="writing the database"
    elif compgen -G '.rvk/.incoming-*' >/dev/null; then
        phase="storing copies"
    elif [[ $(sqlite3 .rvk/rvk.db 'SELECT max(id) FROM commits') != "$head_before" ]]; then
        phase="between the database and the state"
    fi
    phases[$phase]=$((${phases[$phase]:-0} + 1))
}

# The checks that must hold after any kill; $1 says where the kill landed.
check() {
    local where=$1
    tally_phase
    "$rvk" show-state >/dev/null 2>&1 || { bad "$where" "the state file does not read"; return; }
    local head
    head=$(head_commit)
    [[ $(sqlite3 .rvk/rvk.db "SELECT count(*) FROM commits WHERE id = '$head'") == 1 ]] ||
        { bad "$where" "HEAD names commit '$head', which the database lacks"; return; }
    # Objects are named by their digest: each must hash to its own name. Drawings must exist.
    local missing
    missing=$(sqlite3 .rvk/rvk.db "SELECT url FROM commit_files WHERE commit_id = $head" |
        awk '/^po/ {print "objects/" substr($0, 3)} /^tf:/ {sub(/^tf:/, ""); sub(/#.*/, ""); print "tf/" $0 ".tf"}' |
        (cd .rvk && xargs -r sha256sum -- 2>/dev/null) |
        awk -v want="$(sqlite3 .rvk/rvk.db "SELECT count(*) FROM commit_files WHERE commit_id = $head")" \
            '{ n++; if ($2 ~ /^objects\// && "objects/" $1 != $2) bad++ } END { print bad + want - n }')
    ((missing == 0)) || bad "$where" "$missing stored copies of commit $head are missing or damaged"
    local out code=0
    out=$("$rvk" commit -m "after $where" 2>&1) || code=$?
    [[ $code == 0 || $out == "rvk: nothing to commit: no file is staged (see rvk stage)" ]] ||
        bad "$where" "the next commit failed: $out"
    local left
    left=$(find .rvk -mindepth 1 \( -name '.*' -o -name '*-journal' -o -name '*-wal' \))
    [[ -z $left ]] || bad "$where" "left behind: $left"
}

# How long an undisturbed commit takes, so that random kills spread over the whole of one.
prepare
start=$(date +%s%N)
"$rvk" commit -m timing >/dev/null
span_us=$((($(date +%s%N) - start) / 1000))

landed=0
for k in $(seq "$random_kills"); do
    prepare
    delay_us=$((RANDOM * 32768 + RANDOM))
    delay_us=$((delay_us % (span_us + 1)))
    "$rvk" commit -m "killed $k" >/dev/null 2>&1 &
    pid=$!
    sleep "$(printf '0.%06d' "$delay_us")"
    kill -9 "$pid" 2>/dev/null || true
    code=0
    wait "$pid" 2>/dev/null || code=$?
    ((code == 137)) && landed=$((landed + 1))
    check "random kill $k at ${delay_us} us of ${span_us} us"
done

syscall_kills=0
if [[ $syscall_mode != none ]]; then
    if ! command -v strace >/dev/null || ! strace -f -o /dev/null true 2>/dev/null; then
        echo "commit crash: strace is missing or ptrace is not allowed; no kills at system calls"
    else
        # LeakSanitizer cannot work under ptrace; a sanitized rvk would fail for that alone.
        export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
        # Count each writing call of one commit, then kill a commit at chosen ones.
        prepare
        counts=$(strace -f -c -U name,calls -e trace="$(IFS=,; echo "${writing_calls[*]}")" \
            "$rvk" commit -m counted 2>&1 >/dev/null | awk '$1 ~ /^[a-z0-9_]+$/ && $1 != "total" && $2 ~ /^[0-9]+$/ {print $1, $2}')
        while read -r call total; do
            if [[ $syscall_mode == all ]]; then
                picks=$(seq "$total")
            else
                picks=$(printf '%s\n' 1 $(((total + 1) / 2)) "$total" | sort -un)
            fi
            for n in $picks; do
                prepare
                strace -f -o /dev/null -e trace="$call" -e inject="$call":signal=KILL:when="$n" \
                    "$rvk" commit -m "killed at $call $n" >/dev/null 2>&1 &
                code=0
                wait $! 2>/dev/null || code=$?
                # A commit may make a call or two fewer than the counted one made (the database
                # grows); it then ends normally and counts as no kill.
                ((code == 137)) && syscall_kills=$((syscall_kills + 1))
                check "kill at $call call $n of $total"
            done
        done <<<"$counts"
    fi
fi

echo "commit crash: $random_kills random kills over ${span_us} us ($landed before the commit" \
     "ended), $syscall_kills kills at" \
     "writing system calls, $inconsistent inconsistent outcomes"
for phase in "${!phases[@]}"; do echo "  landed ${phases[$phase]} times: $phase"; done
((inconsistent == 0))
