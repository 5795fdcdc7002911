#!/bin/sh
# `velnorctl log show --follow` while a log changes under it, a row per way it changes; then
# standard input cut inside a very long line.
#   sh log_follow_test.sh DIR VELNORCTL [EMULATOR]
set -eu
dir=$1
ctl=$2
shift 2
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"

# The printf format of a record with message $1, as UTF-16LE units, without its CR LF.
record() {
    printf '<Mon Dec 07 10:00:00 2026> <ERROR> <app : 1, 2> <::F> <"%s"> <While performing task: "F"> <Return Code: 0x00000000> <f> <1>' "$1" |
        sed 's/./&\\000/g'
}
crlf='\r\000\n\000'
# add F M...: appends records M... to F; new F M...: F becomes a new file, with its mark,
# holding them.
add() {
    f=$1
    shift
    for m in "$@"; do printf "$(record "$m")$crlf" >>"$f"; done
}
new() {
    target=$1
    shift
    printf '\377\376' >new.tmp
    add new.tmp "$@"
    mv new.tmp "$target"
}
# The message of each line printed, or ?LINE for a line that is not a whole record.
shown() {
    touch out.txt
    tr -d '\r' <out.txt |
        sed 's/^<[^"]*<"\([^"]*\)"> <While performing task: "F"> <Return Code: 0x0*> <f> <1>$/\1/
             t
             s/^/?/'
}
see() {
    i=0
    until shown | grep -qx "$1"; do
        i=$((i + 1))
        [ $i -lt 600 ] || { echo "$row: no $1 within a minute: $(shown) $(cat err.txt)"; exit 1; }
        sleep 0.1
    done
}
# Two lines in s.log, each waited for: the look at w.log in the poll that shows the second one
# came after the steps before it.
sync() {
    for k in 1 2; do
        syncs=$((syncs + 1))
        add s.log "s$syncs"
        see "s$syncs"
    done
}

# Ends the `log show --follow` that a row started.
stop() { kill $pid; wait $pid || true; }

# Each row follows w.log (holding its first lines) and s.log, runs its steps, and then the lines
# printed must be exactly its lines, in order (a fragment of a line would show as ?TEXT), with
# as many notices "showing it from its start" as it says, and its text (if any) on stderr.
# row | first lines | steps | lines | notices | stderr says
long="a-longer-line-that-the-rewrite-puts-in-place-of-the-short-ones"
while IFS='|' read -r row first steps want notices said; do
    rm -f ./*.log ./*.1 out.txt err.txt
    syncs=0
    new w.log $first
    new s.log
    "$@" "$ctl" log show --follow w.log s.log >out.txt 2>err.txt &
    pid=$!
    see "${first##* }"
    eval "$steps"
    see "${want##* }"
    stop
    got=$(shown | tr '\n' ' ')
    if [ "$got" != "$want " ] || [ "$(grep -c 'from its start' err.txt)" != "$notices" ] ||
        ! { [ -z "$said" ] || grep -q "$said" err.txt; }; then
        echo "$row: shown: $got; said: $(cat err.txt) [$notices] [$said]"
        exit 1
    fi
done <<EOF
append|a|add w.log b c|a b c|0|
half line completed later|a|printf "\$(record b)" >>w.log; sync; printf "\$crlf" >>w.log|a s1 s2 b|0|
truncate shorter|a b|: >w.log; add w.log c|a b c|1|
truncate and refill past the offset|a b c d e|printf '\\377\\376' >w.tmp; add w.tmp 1$long 2$long 3$long 4$long 5$long 6$long 7$long 8$long 9$long 10$long 11$long 12$long; cat w.tmp >w.log|a b c d e 1$long 2$long 3$long 4$long 5$long 6$long 7$long 8$long 9$long 10$long 11$long 12$long|1|
delete and re-create|a|rm w.log; printf '\\377\\376' >w.log; add w.log x y|a x y|1|
rename-replace with lines just before|a|add w.log b; mv w.log w.log.1; new w.log c|a b c|1|
replace by a non-log then a log|a|printf garbage >w.tmp; mv w.tmp w.log; sync; new w.log g|a s1 s2 g|2|is not a log file
file gone for a while|a|rm w.log; sync; new w.log d|a s1 s2 d|1|
touched, nothing written|a b|touch -d 2030-01-01 w.log; sync; add w.log c|a b s1 s2 c|0|
EOF

# Standard input from a pipe: a line of more units than a piece holds, U+1F600 across the place
# of the first cut, the CR LF that ends it across two writes at the end of the second piece. No
# piece splits the pair or the CR LF, and the record after the line is still one.
# More files than are held open at once: each shows the line added to it, once.
row="more files than are held open"
rm -f ./*.log out.txt err.txt
for i in $(seq 70); do new "f$i.log" "f$i"; done
"$@" "$ctl" log show --follow f*.log >out.txt 2>err.txt &
pid=$!
see f70
for i in $(seq 70); do add "f$i.log" "g$i"; done
for i in $(seq 70); do see "g$i"; done
stop
[ "$(shown | sort -u | wc -l)" = 140 ] && [ "$(shown | wc -l)" = 140 ] && [ ! -s err.txt ] ||
    { echo "$row: shown: $(shown | tr '\n' ' '); said: $(cat err.txt)"; exit 1; }

# A follow whose reader went away ends without waiting for a line to print (natively: Windows
# tells only when a write fails).
{ [ $# -gt 0 ] || timeout 10 "$ctl" log show --follow f1.log || echo $? >rc.txt; } | head -n 1 >/dev/null
[ "$(cat rc.txt 2>/dev/null)" != 124 ] || { echo "a follow outlived its reader"; exit 1; }

row="long line from a pipe"
yes x | head -n 524285 | tr '\n' '\000' >long.tmp
{
    printf '\377\376<\000x\000'
    cat long.tmp
    printf '\075\330\000\336'
    cat long.tmp
    printf '\r\000'
    sleep 1
    printf "\n\000$(record z)$crlf"
} | "$@" "$ctl" log show - >out.txt 2>err.txt
export LC_ALL=C
if [ "$(shown | cut -c 1-2 | tr '\n' ' ')" != "?< ?$(printf '\360') z " ] ||
    grep -q -F -e '\x0' -e "$(printf '\357\277\275')" out.txt; then
    echo "$row: shown: $(shown | cut -c 1-20)"
    exit 1
fi
