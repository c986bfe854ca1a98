# The checks of a scripted rvk session, sourced by the session scripts. The script sets
# `out` (and for run(): `rvk_command`, the words that run rvk, its path or Wine and rvk.exe, and
# `err`), the files that keep a command's output.

failures=0

# session_folder NAME: $base, a new folder (by its real path) removed when the script ends, with
# $out and $err in it for what commands print; and the time that commits record, fixed.
session_folder() {
    base=$(mktemp -d "${TMPDIR:-/tmp}/rvk-$1-XXXXXX")
    # A test may have made a state file immutable.
    trap 'chattr -i "$base"/*/.rvk/rvk.state 2>/dev/null; rm -rf "$base"' EXIT
    base=$(cd "$base" && pwd -P)
    out=$base/stdout
    err=$base/stderr
    export RVK_COMMIT_TIME=1700000000
}
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# run CODE ARG... : runs rvk with ARGs, keeps its output in $out and $err, checks the exit code.
run() {
    local want=$1 code=0
    shift
    last="rvk $*"
    "${rvk_command[@]}" "$@" >"$out" 2>"$err" || code=$?
    [[ $code == "$want" ]] || fail "$last: exit code $code, expected $want; stderr: $(<"$err")"
}
# The expected text comes on standard input and must equal the output byte for byte. Give it
# with a here-document or here-string, never through a pipe: a pipe runs the check in a subshell,
# where a failure is not counted.
expect_out() { diff -u - "$out" >&2 || fail "$last: stdout differs"; }
expect_err() { diff -u - "$err" >&2 || fail "$last: stderr differs"; }
expect_quiet_out() { [[ ! -s $out ]] || fail "$last: unexpected stdout: $(<"$out")"; }
expect_quiet_err() { [[ ! -s $err ]] || fail "$last: unexpected stderr: $(<"$err")"; }
# A command that succeeds and prints nothing on stderr; the expected stdout comes on stdin.
ok() {
    run 0 "$@"
    expect_out
    expect_quiet_err
}
# expect STATUS TEXT -- COMMAND...: runs COMMAND (a program or a function), keeps both its streams
# in $out, and checks its exit status and that TEXT stands in what it printed.
expect() {
    local want=$1 text=$2 got=0
    shift 3
    "$@" >"$out" 2>&1 || got=$?
    if [ "$got" != "$want" ] || ! grep -qF -- "$text" "$out"; then
        fail "$* gave $got (wanted $want with '$text'): $(cat "$out")"
    fi
}
# A command that fails with exit 1, prints nothing on stdout and MESSAGE on stderr.
refused() {
    local message=$1
    shift
    run 1 "$@"
    expect_quiet_out
    expect_err <<<"rvk: $message"
}
