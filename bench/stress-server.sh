#!/usr/bin/env bash
# Stress runs of the tracking server, by hand (not part of the tests): hostile D-Bus calls,
# SIGKILL during imports and during computations. Each run ends with the store's integrity
# check and the server answering again. Needs sqlite3 and gdbus (Debian: sqlite3, libglib2.0-bin).
#   bench/stress-server.sh [BUILD] [CALLS] [KILLS]
set -uo pipefail
build="${1:-build}"; calls="${2:-4000}"; kills="${3:-40}"
server="$(cd "$build/bin" && pwd)/vantrel-server"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
store="$work/store.sqlite"
call() { gdbus call --session --dest org.vantrel.Automation --object-path /org/vantrel/Automation \
             --method "org.vantrel.Automation.$1" "${@:2}" >/dev/null 2>&1; }
up() { for _ in $(seq 200); do call GroupCount && return 0; sleep 0.05; done; return 1; }
intact() { [ "$(sqlite3 "$store" 'PRAGMA integrity_check')" = ok ]; }

# A vehicle of 200,000 points for the imports and the heavy computations.
gpx="$work/long.gpx"
awk 'BEGIN { print "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>";
  for (i = 0; i < 200000; i++) { t = 1236000000 + i;
    printf "<trkpt lat=\"%.6f\" lon=\"%.6f\"><time>%s</time></trkpt>\n", 55 + 0.03 * sin(i / 1000), 37 + 0.05 * cos(i / 1000),
      strftime("%Y-%m-%dT%H:%M:%SZ", t, 1) }
  print "</trkseg></trk></gpx>" }' > "$gpx"
"$server" import-gpx --db "$store" --group Стресс --car Тягач --device 777 "$gpx" 2>/dev/null

export -f call up
run_bus() { dbus-run-session -- bash -c "$1"; }

echo "== $calls hostile calls"
run_bus "
  '$server' --db '$store' 2>/dev/null & pid=\$!; up || { echo 'server did not come up'; exit 1; }
  ok=0; refused=0
  texts=('' '%1%2%n' 'grp-1' 'grp-999' \"\$(printf '%070000d' 0)\" '31.02.2009 00:00:00' '01.03.2009 25:00:00' '29.03.2009 02:30:00' 'NaN' 'parks' 'tank' '../../etc/passwd')
  ints=(-2147483648 -1 0 1 2 7 777 2147483647)
  for i in \$(seq $calls); do
    t=\${texts[RANDOM % \${#texts[@]}]}; n=\${ints[RANDOM % \${#ints[@]}]}; m=\${ints[RANDOM % \${#ints[@]}]}
    case \$((RANDOM % 12)) in
      0) call SetGroupIndex \$n ;; 1) call SelectGroup \"\$t\" ;; 2) call SetCarIndex \$n ;; 3) call SelectCar \$n ;;
      4) call ComputeTrack \"\$t\" \$n \"\$t\" \"\$t\" GSM \$m ;; 5) call ComputeTrack grp-10 777 '01.03.2009 00:00:00' '31.03.2009 00:00:00' GSM 1 ;;
      6) call SetTripIndex \$n ;; 7) call TrackCrdsArray ;; 8) call SetTripEntriesListTypeName \"\$t\" ;;
      9) call SetTripEntryIndex \$n ;; 10) call LoadCheckpoints \"\$t\" ;; 11) call SetPropertyName \"\$t\"; call PropertyValue ;;
    esac && ok=\$((ok + 1)) || refused=\$((refused + 1))
  done
  call GroupCount && echo \"answered \$ok, refused \$refused; the server still answers\" || echo 'THE SERVER IS GONE'
  kill \$pid; wait
"
intact && echo "store intact" || echo "STORE DAMAGED"

echo "== $kills SIGKILLs during imports"
for i in $(seq "$kills"); do
  "$server" import-gpx --db "$store" --group "Импорт $i" --car "Машина $i" --device $((900000 + i)) "$gpx" 2>/dev/null &
  sleep "$((RANDOM % 3)).$((RANDOM % 10))"; kill -9 $! 2>/dev/null; wait $! 2>/dev/null
done
partial=$(sqlite3 "$store" "SELECT COUNT(*) FROM (SELECT device, COUNT(*) AS n FROM messages WHERE device > 900000 GROUP BY device HAVING n <> 200000)")
complete=$(sqlite3 "$store" "SELECT COUNT(DISTINCT device) FROM messages WHERE device > 900000")
intact && echo "store intact; imports stored whole: $complete, stored in part: $partial" || echo "STORE DAMAGED"

echo "== $kills SIGKILLs during computations"
survived=0
for i in $(seq "$kills"); do
  run_bus "
    '$server' --db '$store' 2>/dev/null & pid=\$!; up || { echo 'the server did not come up before the kill' >&2; exit 1; }
    call ComputeTrack grp-10 777 '01.03.2009 00:00:00' '31.03.2009 00:00:00' GSM 1
    sleep 0.\$((RANDOM % 10)); kill -9 \$pid; wait
    '$server' --db '$store' 2>/dev/null & pid=\$!; up && call GroupCount; r=\$?; kill \$pid; wait; exit \$r
  " 2>&1 | grep -v dbus-daemon; [ "${PIPESTATUS[0]}" = 0 ] && survived=$((survived + 1))
done
intact && echo "store intact; the server came back after $survived of $kills kills" || echo "STORE DAMAGED"
