#!/usr/bin/env bash
# All of the benchmarks in one run, each summed up as the median and the
# spread (lowest to highest) of its runs:
#   (a) the XML layer's load + save against bare pugixml's load_file +
#       save_file with the same atomic replacement (temporary file, fsync,
#       rename), over stores of 1,000, 20,000 and 100,000 items: time (both in
#       turn in one process) and peak memory (each in its own process);
#   (b) an update of 500 new items into a 20,000-item store against bare
#       pugixml loading it, prepending 500 items and saving with fsync and
#       rename, in one process run after run; and what the three
#       update-state writes of a feed cost, with new and with unchanged values;
#   (c) the start of rssnotify (a run that ends at once: no template) and of
#       FeedPull.exe on a one-item feed file against a trivial C++ program,
#       each started directly (no shell);
#   (d) a whole run over 20 local feeds (the real converter, file:// URLs of
#       the feeds in ../shared/feeds) against newsboat's "-x reload" of the
#       same URLs, both in the steady state (nothing new);
#   (e) the feeds of (d) over HTTP from ten servers that wait 250 ms before
#       each answer (a distant server's latency), against newsboat's default
#       and, for reference, newsboat with reload-threads set to the number
#       of feeds;
#   (f) the viewer's text of 2 MB descriptions whose shapes once took the
#       square of their size, next to plain text of the same size;
#   (g) stores grown for a year (page size, what a viewing keeps, a run over
#       them against one over stores of 50 items, Chromium showing the page)
#       and a year of daily news and viewings compressed in time
#       (bench/long_lived.py).
# (c) and (d) use hyperfine; the programs alternate round by round, so that a
# busy moment of the machine falls on all of them.
#
#   bash bench/run.sh [ROUNDS]      ROUNDS: runs of each measurement, 7 at least
#
# hyperfine, newsboat and chromium come from Debian; this script installs
# them when missing (nothing else needs them).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
if [ "$rounds" -lt 7 ]; then
  echo "at least 7 rounds" >&2
  exit 2
fi

missing=()
for p in hyperfine newsboat chromium; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi

cmake -S . -B build -DRSSNOTIFY_BENCHMARKS=ON > /dev/null
cmake --build build -j2 --target rssnotify feedpull rssnotify-messagebox xml_layer_bench \
  trivial_start_bench description_text_bench qvmrss > /dev/null
build=$(cd build && pwd)
work=$(mktemp -d /tmp/rssnotify-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Median and spread of the numbers on standard input, one a line.
stats() {
  python3 -c '
import statistics, sys
v = sorted(float(x) for x in sys.stdin.read().split())
print("median %.2f (%.2f to %.2f, %d runs)" % (statistics.median(v), v[0], v[-1], len(v)))'
}

# glibc would hand the megabytes of a store document back to the system
# after every run and fault them in again in the next, as often as its
# allocation pattern happens to decide; that noise would swamp the
# comparison, so in (a) and (b) the allocator keeps its memory for the
# process's lifetime, for both sides alike.
tunables=glibc.malloc.trim_threshold=4000000000:glibc.malloc.mmap_threshold=33554432
bench() { GLIBC_TUNABLES=$tunables "$build/bench/xml_layer_bench" "$@"; }

echo "== (a) XML layer against bare pugixml: load + save (temporary file, fsync, rename)"
for items in 1000 20000 100000; do
  store=$work/store-$items.xml
  bench store "$items" "$store"
  runs=$((rounds * 3))
  [ "$items" -eq 100000 ] && runs=$rounds
  out=$(bench pair "$store" "$runs")
  echo "-- $items items ($(stat -c %s "$store") bytes)"
  echo "$out" | sed 's/^/   /'
  : > "$work/peak"
  : > "$work/peak-mb"
  for ((r = 0; r < rounds; r++)); do
    layer=$(bench xml layer "$store" 2 | sed 's/.*peak_mb=//')
    bare=$(bench xml bare "$store" 2 | sed 's/.*peak_mb=//')
    python3 -c "print($layer / $bare)" >> "$work/peak"
    echo "$layer $bare" >> "$work/peak-mb"
  done
  echo "   time ratio layer/bare:   $(echo "$out" | sed -n 's/^ratio median=\([^ ]*\) min=\([^ ]*\) max=\([^ ]*\) runs=\(.*\)/median \1 (\2 to \3, \4 runs)/p')"
  echo "   peak memory layer/bare:  $(stats < "$work/peak")   [MB layer, bare: $(tail -1 "$work/peak-mb")]"
done

echo
echo "== (b) update of 500 new items into a 20,000-item store against bare pugixml"
bench update "$((rounds * 3))" | sed 's/^/   /'
echo "-- the three update-state writes of one feed (each a full atomic rewrite)"
bench state "$rounds" | sed 's/^/   /'

# A sandbox installation for the programs.
agent=$work/agent
mkdir -p "$agent/qLUX/Dovel/RSSLinks"
ln -s "$build/companions/feedpull/FeedPull.exe" "$agent/qLUX/FeedPull.exe"
cat > "$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]
"InstallationPath"="$agent"
"RegID"="1001"
"siteid"="42"
"MemberID"="7"
"Type"="Workstation"
REG
export RSSNOTIFY_REGISTRY=$work/registry.reg
unset ALLUSERSPROFILE DBUS_SESSION_BUS_ADDRESS || true

# Ratio of each command's mean to the first one's, per hyperfine run; one
# line per command after the first, appended to $work/ratio-<n>.
ratios() {
  python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))["results"]
for i, x in enumerate(r[1:], 1):
    open(sys.argv[2] + "-%d" % i, "a").write("%f\n" % (x["mean"] / r[0]["mean"]))
    open(sys.argv[2] + "-ms-%d" % i, "a").write("%f\n" % (x["mean"] * 1000))
open(sys.argv[2] + "-ms-0", "a").write("%f\n" % (r[0]["mean"] * 1000))' "$1" "$2"
}

echo
echo "== (c) start-up against a trivial C++ program (hyperfine, no shell)"
cat > "$work/one.xml" <<'FEED'
<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel><title>One</title><link>http://example.com/</link>
<description>One item</description><item><title>Item</title><link>http://example.com/1</link>
<pubDate>Mon, 07 Dec 2026 10:00:00 GMT</pubDate><guid>1</guid></item></channel></rss>
FEED
rm -f "$work"/start-*
for ((r = 0; r < rounds; r++)); do
  hyperfine -N --style none --warmup 5 --runs 40 --export-json "$work/start.json" \
    "$build/bench/trivial_start_bench" "$build/rssnotify" \
    "$build/companions/feedpull/FeedPull.exe file://$work/one.xml" > /dev/null 2>&1
  ratios "$work/start.json" "$work/start"
done
[ -f "$agent/qLUX/Dovel/RSSLinks/Temp_RSS.xml" ] || echo "   FeedPull.exe wrote no output!"
echo "   trivial program, ms:          $(stats < "$work/start-ms-0")"
echo "   rssnotify, ms:                $(stats < "$work/start-ms-1")"
echo "   FeedPull.exe one item, ms:    $(stats < "$work/start-ms-2")"
echo "   rssnotify / trivial:          $(stats < "$work/start-1")"
echo "   FeedPull.exe / trivial:       $(stats < "$work/start-2")"

echo
echo "== (d) a whole run over 20 local feeds against newsboat -x reload"
feeds=$(cd .. && pwd)/shared/feeds
if [ ! -d "$feeds" ]; then
  echo "   skipped: $feeds is absent"
  exit 0
fi
mapfile -t files < <(find "$feeds" -maxdepth 1 -name '*.xml' | sort | head -20)
urls=()
for f in "${files[@]}"; do urls+=("file://$f"); done
printf '%s\n' "${urls[@]}" > "$work/urls"
sites=$(IFS=$'\n'; echo "${urls[*]}" | sed ':a;N;$!ba;s/\n/@#@/g')
cat > "$agent/qLUX/Dovel/qVMMenu.xml" <<TPL
<?xml version="1.0"?>
<vsrgetdoveltemplate><templateid>B</templateid><templatever>1</templatever><rss>1</rss>
<rsssites>$sites</rsssites><rssupd>5</rssupd><qvmrssmsg></qvmrssmsg></vsrgetdoveltemplate>
TPL
mkdir -p "$work/nbhome"
newsboat_cmd="newsboat -u $work/urls -c $work/nb-cache.db -C $work/nb-config -x reload"
# First runs fill the stores and newsboat's cache: what follows is the
# steady state, nothing new.
"$build/rssnotify" || true
HOME=$work/nbhome $newsboat_cmd
rm -f "$work"/whole-*
for ((r = 0; r < rounds; r++)); do
  HOME=$work/nbhome hyperfine -N --style none --warmup 1 --runs 3 \
    --export-json "$work/whole.json" "$newsboat_cmd" "$build/rssnotify" > /dev/null 2>&1
  ratios "$work/whole.json" "$work/whole"
done
stores=$(find "$agent/qLUX/Dovel/RSSLinks" -name 'Link_*_B_1.xml' | wc -l)
echo "   ${#urls[@]} feeds, $stores stores"
echo "   newsboat -x reload, ms:       $(stats < "$work/whole-ms-0")"
echo "   rssnotify run, ms:            $(stats < "$work/whole-ms-1")"
echo "   rssnotify / newsboat:         $(stats < "$work/whole-1")"

echo
echo "== (e) the same 20 feeds from servers that wait 250 ms before each answer (10 servers, 2 feeds each)"
slow=$work/slow
mkdir -p "$slow"
cp "${files[@]}" "$slow/"
python3 bench/slow_server.py "$slow" 250 "$work/slow-port" &
server_pid=$!
trap 'kill $server_pid 2> /dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -f "$work/slow-port" ] && break; sleep 0.1; done
port=$(cat "$work/slow-port")
slow_urls=()
i=0
for f in "${files[@]}"; do
  slow_urls+=("http://127.0.0.$((i / 2 + 1)):$port/$(basename "$f")")
  i=$((i + 1))
done
printf '%s\n' "${slow_urls[@]}" > "$work/slow-urls"
slow_sites=$(printf '%s\n' "${slow_urls[@]}" | sed ':a;N;$!ba;s/\n/@#@/g')
sed -i "s|<rsssites>.*</rsssites>|<rsssites>$slow_sites</rsssites>|; s|<templateid>B</templateid>|<templateid>S</templateid>|" \
  "$agent/qLUX/Dovel/qVMMenu.xml"
echo "reload-threads ${#slow_urls[@]}" > "$work/nb-threads-config"
nb_slow="newsboat -u $work/slow-urls -c $work/nb-slow.db -C $work/nb-config -x reload"
nb_threads="newsboat -u $work/slow-urls -c $work/nb-threads.db -C $work/nb-threads-config -x reload"
"$build/rssnotify" || true
HOME=$work/nbhome $nb_slow
HOME=$work/nbhome $nb_threads
rm -f "$work"/slow-[0-9]* "$work"/slow-ms-*
for ((r = 0; r < rounds; r++)); do
  HOME=$work/nbhome hyperfine -N --style none --warmup 1 --runs 3 \
    --export-json "$work/slow.json" "$nb_slow" "$build/rssnotify" "$nb_threads" > /dev/null 2>&1
  ratios "$work/slow.json" "$work/slow"
done
stores=$(find "$agent/qLUX/Dovel/RSSLinks" -name 'Link_*_S_1.xml' | wc -l)
echo "   ${#slow_urls[@]} feeds, $stores stores"
echo "   newsboat -x reload, ms:       $(stats < "$work/slow-ms-0")"
echo "   rssnotify run, ms:            $(stats < "$work/slow-ms-1")"
echo "   newsboat, reload-threads ${#slow_urls[@]}, ms: $(stats < "$work/slow-ms-2")"
echo "   rssnotify / newsboat:         $(stats < "$work/slow-1")"
python3 -c "
import statistics
a = [float(x) for x in open('$work/slow-ms-1')]
b = [float(x) for x in open('$work/slow-ms-2')]
print('   rssnotify / newsboat with threads: median %.2f' % (statistics.median(a) / statistics.median(b)))"

echo
echo "== (f) the viewer's description text: 2 MB descriptions of hostile shapes against plain text"
"$build/bench/description_text_bench" "$rounds"

echo
echo "== (g) a long-lived installation"
python3 bench/long_lived.py "$build"
