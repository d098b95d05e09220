#!/usr/bin/env bash
# Captures the heap traces of bench/trace_bench from real programs and writes
# them, converted and compressed, to bench/data/NAME.trace.xz.
#
#   bench/data/capture.sh            every trace
#   bench/data/capture.sh xml sql    only these
#
# Each program runs with glibc's malloc debugging library and a two-line
# library whose constructor calls mtrace() preloaded; MALLOC_TRACE names the
# log.  mtrace2ops.py turns the log into the trace (see bench/data/SOURCES.md
# for the format and the commands).  The programs and tools come from Debian
# packages, installed here when missing; the input documents are written by
# gen_inputs.py.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

need=()
for p in libc6-dev gcc g++ libxml2-utils jq sqlite3 perl python3 xz-utils util-linux; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
fi

debuglib=$(gcc -print-file-name=libc_malloc_debug.so.0)
[ -f "$debuglib" ] || debuglib=/lib/x86_64-linux-gnu/libc_malloc_debug.so.0

work=$(mktemp -d /tmp/kavtrace.XXXXXXXX)
trap 'rm -rf "$work"' EXIT
printf '#include <mcheck.h>\n__attribute__((constructor)) static void start(void) { mtrace(); }\n' > "$work/mtr.c"
gcc -shared -fPIC -O2 -o "$work/libmtr.so" "$work/mtr.c"
python3 "$here/gen_inputs.py" "$work"

cap=450000   # operations kept of each log (the rest of a longer log is cut)

# trace NAME COMMAND...: runs COMMAND under mtrace and writes NAME.trace.xz.
trace() {
  local name=$1; shift
  echo "=== $name: $*"
  # A fixed environment (programs copy it), and address randomisation off
  # (programs that hash addresses), so that every run makes the same calls.
  (cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C MALLOC_TRACE="$work/$name.log" \
     LD_PRELOAD="$debuglib:$work/libmtr.so" setarch "$(uname -m)" -R "$@" >/dev/null)
  python3 "$here/mtrace2ops.py" "$work/$name.log" "$name: $*" "$cap" > "$work/$name.trace"
  sed -n 2p "$work/$name.trace"
  xz -9e -T1 -c "$work/$name.trace" > "$here/$name.trace.xz"
  rm -f "$work/$name.log"
}

want() { [ $# -eq 0 ] && return 0; local w; for w in "${sel[@]}"; do [ "$w" = "$1" ] && return 0; done; return 1; }
sel=("$@")

cc1plus=$(g++ -print-prog-name=cc1plus)

[ ${#sel[@]} -eq 0 ] || want xml  && trace xml  xmllint --noout catalog.xml
[ ${#sel[@]} -eq 0 ] || want json && trace json jq -c '[.[] | select(.items | length > 2) | {id, name: .customer.name, total: (.items | map(.price * .qty) | add), tags: (.tags | sort)}] | group_by(.tags | length) | map({n: length, total: (map(.total) | add)})' orders.json
[ ${#sel[@]} -eq 0 ] || want sql  && trace sql  sqlite3 :memory: -init /dev/null -batch ".read fill.sql"
[ ${#sel[@]} -eq 0 ] || want cxx  && trace cxx  "$cc1plus" -quiet -imultiarch x86_64-linux-gnu -D_GNU_SOURCE -std=c++17 -fsyntax-only parse.cpp -o /dev/null
[ ${#sel[@]} -eq 0 ] || want hash && trace hash env PERL_DESTRUCT_LEVEL=2 PERL_HASH_SEED=0 PERL_PERTURB_KEYS=0 perl -e 'my %h; for my $i (1 .. 100000) { $h{"key$i"} = "value $i"; } my $n = 0; $n += length for values %h; print "$n\n";'
ls -l "$here"/*.trace.xz
