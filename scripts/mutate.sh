#!/usr/bin/env bash
# One-line mutation testing: makes small faults in source lines, one at a time, rebuilds, runs the
# tests and reports which faults no test noticed.
#
#   scripts/mutate.sh -b BUILD_DIR -k 'TARGET...' -t 'TEST COMMAND' [options] FILE...
#
#   -b DIR     the ninja build directory (configured already)
#   -k LIST    the targets to rebuild for each mutant (default: everything)
#   -t CMD     the test command, run by bash in the source tree; status 0 means "passed"
#              (e.g. 'build/release/tests/link/link_tests --gtest_filter=Net*')
#   -l A-B     only lines A to B of each file
#   -d BASE    only lines changed since the git revision BASE
#   -n N       at most N mutants per file, sampled (default: all)
#   -s SEED    the sampling seed (default 1)
#   -T SEC     time limit of one test run (default: three times the clean run, at least 30)
#   -v         print the diff of killed mutants too
#   -L         only list the mutants (FILE:LINE, operator, the new line); nothing is built
#   -m LIST    only the mutants in the file LIST, as -L lists them (e.g. the survivors of a run,
#              tried again after new tests); the FILE arguments are then not needed
#
# A mutant that does not build is "stillborn" and left out of the kill rate; a test run that
# exceeds the time limit counts as killed. Each file is restored after each mutant and when the
# script ends for any reason short of SIGKILL (the untouched copies are in the folder printed at
# the start). Mutations: == and !=, < <= > >= (spaced), && and ||, true and false, a dropped !,
# an integer literal (decimal or hexadecimal) plus or minus one, a call statement removed.
set -u

build="" targets="" testcmd="" range="" base="" limit=0 seed=1 tlimit=0 verbose=0 list=0 chosen=""
while getopts "b:k:t:l:d:n:s:T:m:vLh" o; do
    case $o in
    b) build=$OPTARG ;; k) targets=$OPTARG ;; t) testcmd=$OPTARG ;; l) range=$OPTARG ;;
    d) base=$OPTARG ;; m) chosen=$OPTARG ;; n) limit=$OPTARG ;; s) seed=$OPTARG ;; T) tlimit=$OPTARG ;; v) verbose=1 ;; L) list=1 ;;
    *) sed -n '2,/^set -u/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [[ -n $chosen ]]; then
    [[ -f $chosen ]] || { echo "mutate.sh: $chosen: no such file" >&2; exit 2; }
    set -- $(cut -d: -f1 "$chosen" | sort -u)
fi
if [[ $# -eq 0 ]] || { ((!list)) && [[ -z $build || -z $testcmd ]]; }; then
    echo "mutate.sh: -b BUILD_DIR, -t 'TEST COMMAND' and at least one FILE are needed (-h: help)" >&2
    exit 2
fi
for f in "$@"; do [[ -f $f ]] || { echo "mutate.sh: $f: no such file" >&2; exit 2; }; done

# The lines of a file that may be mutated, one number a line.
lines_of() {
    local n
    n=$(wc -l <"$1")
    if [[ -n $base ]]; then
        git diff -U0 "$base" -- "$1" | sed -n 's/^@@ -[0-9,]* +\([0-9]*\)\(,\([0-9]*\)\)\{0,1\} @@.*/\1 \3/p' |
            while read -r a c; do c=${c:-1}; ((c > 0)) && seq "$a" $((a + c - 1)); done
    elif [[ -n $range ]]; then
        seq "${range%-*}" "$(( ${range#*-} < n ? ${range#*-} : n ))"
    else
        seq 1 "$n"
    fi
}

# Every mutant of the chosen lines: "LINE<TAB>OPERATOR<TAB>NEW LINE". Matches inside string and
# character literals and comments are skipped.
candidates() {
    awk -v OFS='\t' 'FILENAME == ARGV[1] { want[$1] = 1; next }
    function ident(c) { return c ~ /[A-Za-z0-9_]/ }
    function put(at, len, repl, op) { print FNR, op, substr($0, 1, at - 1) repl substr($0, at + len) }
    function each(pat, repl, op,   at, p) {
        for (at = 1; (p = index(substr(code, at), pat)) > 0; at += p)
            put(at + p - 1, length(pat), repl, op)
    }
    function word(w, repl,   at, p, q) {
        for (at = 1; (p = index(substr(code, at), w)) > 0; at += p) {
            q = at + p - 1
            if (!ident(substr(code, q - 1, 1)) && !ident(substr(code, q + length(w), 1)))
                put(q, length(w), repl, w " -> " repl)
        }
    }
    FNR in want {
        if ($0 ~ /^[ \t]*(#|\/\/|\/\*|\*)/) next
        # code: the line with literals blanked and any comment cut off, positions kept
        code = ""; q = ""
        for (i = 1; i <= length($0); i++) {
            c = substr($0, i, 1)
            if (q != "") { code = code "_"; if (c == "\\") { code = code "_"; i++ } else if (c == q) q = ""; continue }
            if (c == "\"" || c == "\047") q = c
            else if (c == "/" && substr($0, i + 1, 1) == "/") break
            code = code c
        }
        each("==", "!=", "== -> !="); each("!=", "==", "!= -> ==")
        each(" <= ", " < ", "<= -> <"); each(" < ", " <= ", "< -> <=")
        each(" >= ", " > ", ">= -> >"); each(" > ", " >= ", "> -> >=")
        each(" && ", " || ", "&& -> ||"); each(" || ", " && ", "|| -> &&")
        word("true", "false"); word("false", "true")
        for (at = 1; (p = index(substr(code, at), "!")) > 0; at += p)
            if (substr(code, at + p, 1) != "=") put(at + p - 1, 1, "", "drop !")
        for (at = 1; match(substr(code, at), /0[xX][0-9A-Fa-f]+/); at += RSTART + RLENGTH - 1) {
            s = at + RSTART - 1; h = toupper(substr(code, s + 2, RLENGTH - 2)); v = 0
            if (ident(substr(code, s - 1, 1)) || ident(substr(code, s + RLENGTH, 1)) && substr(code, s + RLENGTH, 1) !~ /[uUlL]/)
                continue
            for (k = 1; k <= length(h); k++) v = v * 16 + index("0123456789ABCDEF", substr(h, k, 1)) - 1
            put(s, RLENGTH, sprintf("0x%0*X", length(h), v + 1), "0x" h " + 1")
            if (v > 0) put(s, RLENGTH, sprintf("0x%0*X", length(h), v - 1), "0x" h " - 1")
        }
        for (at = 1; match(substr(code, at), /[0-9]+/); at += RSTART + RLENGTH - 1) {
            s = at + RSTART - 1; n = substr(code, s, RLENGTH); after = substr(code, s + RLENGTH, 1)
            if (ident(substr(code, s - 1, 1)) || substr(code, s - 1, 1) == "." ||
                (after ~ /[A-Za-z0-9_.\047]/ && after !~ /[uUlL]/))
                continue
            put(s, RLENGTH, n + 1, n " -> " n + 1)
            if (n > 0) put(s, RLENGTH, n - 1, n " -> " n - 1)
        }
        # a statement that is a call, whole on its line, after a finished statement or a condition
        if (code ~ /^[ \t]*[A-Za-z_][A-Za-z0-9_:.>-]*(<[^;]*>)?\(.*\);[ \t]*$/ && code !~ /^[ \t]*(return|delete|throw|co_return)[ (]/ &&
            gsub(/\(/, "(", code) == gsub(/\)/, ")", code) && prev ~ /[;{}:)][ \t]*$/) {
            match($0, /^[ \t]*/); print FNR, "call removed", substr($0, 1, RLENGTH) ";"
        }
    }
    { if ($0 !~ /^[ \t]*(\/\/.*)?$/) prev = $0 }' <(lines_of "$1") "$1"
}

# The mutants tried in a file: those listed with -m, else every candidate or a sample of them.
mutants_of() {
    if [[ -n $chosen ]]; then
        grep -F "$1:" "$chosen" | sed "s|^$1:||"
    elif ((limit > 0)); then
        candidates "$1" | shuf -n "$limit" --random-source=<(yes "$seed") | sort -t$'\t' -k1,1n -s
    else
        candidates "$1"
    fi
}

if ((list)); then
    for f in "$@"; do mutants_of "$f" | sed "s|^|$f:|"; done
    exit 0
fi

keep=$(mktemp -d /tmp/mutate.XXXXXX)
current=""  # the file now mutated, if any
restore() {
    if [[ -n $current ]]; then
        cp "$keep/original" "$current"  # a fresh time stamp: the next build compiles it again
        current=""
    fi
}
finish() {
    restore
    ninja -C "$build" $targets >/dev/null 2>&1  # leave the build of the untouched sources
    rm -rf "$keep"
}
trap finish EXIT
tpid=""  # the test run under way, stopped on an interruption
trap '[[ -n $tpid ]] && kill -TERM "$tpid" 2>/dev/null; echo; echo "mutate.sh: interrupted; files restored" >&2; exit 130' INT TERM HUP
echo "untouched copies of mutated files: $keep/original (while a mutant is in place)"

build_and_test() {  # status: 0 passed, 1 failed, 2 timed out, 3 did not build
    ninja -C "$build" $targets >"$keep/build.log" 2>&1 || return 3
    timeout -k 5 "$1" bash -c "$testcmd" >"$keep/test.log" 2>&1 &
    tpid=$!
    wait "$tpid" 2>/dev/null  # a crash is a kill; the shell need not say so
    local status=$?
    tpid=""
    case $status in 0) return 0 ;; 124 | 137) return 2 ;; *) return 1 ;; esac
}

# The clean run: the tests must pass before any fault means anything; it also sets the time limit.
start=$(date +%s)
build_and_test 3600
case $? in
0) ;;
3) echo "mutate.sh: the untouched sources do not build:" >&2; tail -20 "$keep/build.log" >&2; exit 1 ;;
*) echo "mutate.sh: the tests fail on the untouched sources:" >&2; tail -20 "$keep/test.log" >&2; exit 1 ;;
esac
clean=$(($(date +%s) - start))
((tlimit > 0)) || tlimit=$((clean * 3 > 30 ? clean * 3 : 30))
echo "clean run: ${clean}s; time limit per mutant: ${tlimit}s"

killed=0 survived=0 stillborn=0
: >"$build/mutate-survivors.txt"  # for -m, after new tests
survivors=()
for file in "$@"; do
    mapfile -t all < <(mutants_of "$file")
    echo "== $file: ${#all[@]} mutants"
    for m in "${all[@]}"; do
        IFS=$'\t' read -r line op text <<<"$m"
        old=$(sed -n "${line}p" "$file")
        cp "$file" "$keep/original"
        current=$file
        awk -v n="$line" -v t="$text" 'NR == n { print t; next } { print }' "$keep/original" >"$file"
        build_and_test "$tlimit"
        verdict=$?
        restore
        what="$file:$line ($op)"
        diff=$(printf -- '    - %s\n    + %s' "$(sed 's/^[ \t]*//' <<<"$old")" "$(sed 's/^[ \t]*//' <<<"$text")")
        case $verdict in
        0) ((++survived)); survivors+=("$what"$'\n'"$diff"); echo "SURVIVED  $what"; echo "$diff"
            printf '%s:%s\n' "$file" "$m" >>"$build/mutate-survivors.txt" ;;
        1 | 2) ((++killed)); echo "killed    $what$([[ $verdict == 2 ]] && echo ' by the time limit')"
            ((verbose)) && echo "$diff" ;;
        3) ((++stillborn)); echo "stillborn $what" ;;
        esac
    done
done

total=$((killed + survived))
echo
echo "killed $killed, survived $survived, stillborn $stillborn (not counted)"
((total > 0)) && echo "kill rate: $((100 * killed / total)) % ($killed of $total)"
if ((survived > 0)); then
    echo "survivors (for -m: $build/mutate-survivors.txt):"
    printf '%s\n' "${survivors[@]}"
fi
((survived == 0))
