#!/usr/bin/env bash
# Builds rssnotify and its companions, installs them into a sandbox
# installation under demo-run/, and runs the main job there twice: the first
# run finds every item of the demo feeds new, the second (after one feed gains
# two items) finds exactly those two. Prints the log lines and the top of the
# stores.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.log 2>&1 || { cat build.log; exit 1; }
cmake --build build -j"$(nproc)" >> build.log 2>&1 || { tail -60 build.log; exit 1; }

run_dir=$top/demo-run
rm -rf "$run_dir"
agent=$run_dir/agent
mkdir -p "$agent/qLUX/Dovel" "$run_dir/feeds"
cmake --install build --prefix "$agent" > /dev/null

cp demo/feeds/*.xml "$run_dir/feeds/"
feed1="file://$run_dir/feeds/kestra-news.xml"
feed2="file://$run_dir/feeds/kestra-status.xml"
sed -e "s|@FEED1@|$feed1|" -e "s|@FEED2@|$feed2|" demo/qVMMenu.xml.in > "$agent/qLUX/Dovel/qVMMenu.xml"

cat > "$run_dir/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]
"InstallationPath"="$agent"
"RegID"="1001"
"siteid"="42"
"MemberID"="7"
"Type"="Workstation"

[HKEY_CLASSES_ROOT\\Flarebox.Display\\LocalServer32]
@="$agent/qLUX/flarebox-display"
REG

export RSSNOTIFY_REGISTRY=$run_dir/registry.reg
unset ALLUSERSPROFILE
export XDG_CACHE_HOME=$run_dir/cache

show_run() {
  echo "== activity log"
  cat "$agent"/ApplicationLog/qLUXLog/*.txt | tr -d '\r'
  local store
  for store in "$agent"/qLUX/Dovel/RSSLinks/Link_*.xml; do
    [ -e "$store" ] || continue
    echo "== top of $(basename "$store")"
    head -n 20 "$store"
  done
}

echo "### first run"
"$agent/rssnotify" || true
show_run

cp demo/feeds/kestra-news-2.xml "$run_dir/feeds/kestra-news.xml"
echo
echo "### second run (the news feed gained two items)"
"$agent/rssnotify" || true
show_run

# Without a desktop the popup cannot be shown (the log says so above), so no
# click starts the viewer: start it here, as a click would. It writes its
# page, prints where (with a desktop it opens the browser instead) and marks
# what it showed as read.
echo
echo "### the viewer, as a click on the popup starts it"
"$agent/qLUX/qVMRSS.exe"
echo "== store statuses after viewing"
grep -ho '<Status>[A-Za-z]*</Status>' "$agent"/qLUX/Dovel/RSSLinks/Link_*.xml | sort | uniq -c
