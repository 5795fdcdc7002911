#!/bin/sh
# `velnorctl log show --follow` on two files while they change: lines appended, a line held until
# its CR LF comes, a truncation in place, a replacement by rename. Every step waits for the line
# it expects (polling, up to a minute); the whole output is compared at the end.
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
wait_for() {
    i=0
    until tr -d '\r' <out.txt | grep -q "<\"$1\">"; do
        i=$((i + 1))
        [ $i -lt 600 ] || { echo "no line $1 within a minute; shown: $(cat out.txt err.txt)"; exit 1; }
        sleep 0.1
    done
}

printf "\377\376$(record one)$crlf" >f.log
printf "\377\376" >g.log
"$@" "$ctl" log show --follow f.log g.log >out.txt 2>err.txt &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
wait_for one
# Half a line, then two lines in the other file, each waited for: the look at f.log in the poll
# that shows the second one came after the half was written.
printf "$(record three)" >>f.log
printf "$(record sync1)$crlf" >>g.log
wait_for sync1
printf "$(record sync2)$crlf" >>g.log
wait_for sync2
printf "$crlf" >>f.log
wait_for three
# Truncated in place, then written on without a mark, as a copy-and-truncate rotation leaves it.
: >f.log
printf "$(record five)$crlf" >>f.log
wait_for five
# Replaced by a larger file: only its identity tells it from the file before.
printf "\377\376$(record six)$crlf$(record seven)$crlf$(record eight)$crlf" >new.log
mv new.log f.log
wait_for eight
kill $pid
shown=$(tr -d '\r' <out.txt | sed 's/.*<"\([^"]*\)">.*/\1/' | tr '\n' ' ')
if [ "$shown" != "one sync1 sync2 three five six seven eight " ] ||
    [ "$(grep -c 'f.log was truncated or replaced' err.txt)" != 2 ]; then
    echo "shown: $shown; said: $(cat err.txt)"
    exit 1
fi
