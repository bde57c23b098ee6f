#!/usr/bin/env bash
# Builds the Debian package from an already built tree ($KORVANI_BUILD_DIR,
# default build/), checks its desktop entry and metainfo, installs it, starts
# the installed program offscreen as a normal user, checks that main_window
# comes up, that the program ends when it is closed and that it keeps its
# files in that user's data directory, then removes the package again.
# Run as root on a machine where korvani-dock is not installed otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "package-test: $*"; }
fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root (it installs and removes the package)"
build_dir=${KORVANI_BUILD_DIR:-build}
[ -f "$build_dir/CPackConfig.cmake" ] || fail "no configured build in $build_dir/ (run tools/setup.sh first)"
build_dir=$(cd "$build_dir" && pwd)

package=korvani-dock
app_id=io.github.korvani.dock
ci_user=${KORVANI_CI_USER:-korvani-ci}

# Whole output taken first: with pipefail, grep -q leaving early could fail
# the pipe it reads.
installed_ok() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "$status" = "install ok installed" ]
}

bash tools/install-missing.sh desktop-file-utils appstream dpkg-dev procps curl

# Removing a package that this script did not install would take a user's
# own installation away.
if installed_ok "$package"; then
  fail "$package is installed already; remove it first (dpkg -r $package)"
fi

work=$(mktemp -d /tmp/korvani-package-test.XXXXXX)
chmod 0755 "$work"
installed=0
created_user=0
clean_up() {
  local code=$?
  if [ "$created_user" = 1 ]; then
    # What the program left running would keep the user from being removed.
    local pids
    pids=$(pgrep -u "$ci_user" || true)
    for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
  fi
  if [ "$installed" = 1 ]; then timeout 120 dpkg -r "$package" >/dev/null 2>&1 || true; fi
  if [ "$created_user" = 1 ]; then timeout 60 userdel -r "$ci_user" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
  exit "$code"
}
trap clean_up EXIT

# The package is made outside the build tree, so nothing of it stays there.
say "cpack -G DEB in $build_dir"
if ! timeout 900 cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack did not make the package"
fi
deb=$(find "$work/pkg" -maxdepth 1 -name "${package}_*.deb" | head -n 1)
[ -n "$deb" ] || fail "cpack made no ${package}_*.deb"
say "$(basename "$deb"): $(stat -c %s "$deb") bytes"
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libqt6webenginewidgets6* ]] ||
  fail "the package's dependencies were not computed: $depends"

# What is checked is what ships.
tree="$work/tree"
dpkg-deb -x "$deb" "$tree"
desktop="$tree/usr/share/applications/$package.desktop"
metainfo="$tree/usr/share/metainfo/$app_id.metainfo.xml"
for f in "$tree/usr/bin/korvani-dock" "$tree/usr/bin/korvani-demo-shop" "$desktop" "$metainfo" \
  "$tree/usr/share/icons/hicolor/scalable/apps/$package.svg" \
  "$tree/usr/share/korvani-dock/demo-shop/backend-login.html"; do
  [ -e "$f" ] || fail "the package lacks ${f#"$tree"}"
done
say "desktop-file-validate ${desktop#"$tree"}"
timeout 60 desktop-file-validate "$desktop" || fail "desktop-file-validate refused the desktop entry"
say "appstreamcli validate --no-net ${metainfo#"$tree"}"
timeout 60 appstreamcli validate --no-net "$metainfo" || fail "appstreamcli refused the metainfo"
# The three must name each other, or menus and software centres show no
# icon or no entry.
grep -qx "Icon=$package" "$desktop" || fail "the desktop entry names another icon"
grep -qx "Exec=korvani-dock" "$desktop" || fail "the desktop entry starts another program"
grep -q "<launchable type=\"desktop-id\">$package.desktop</launchable>" "$metainfo" ||
  fail "the metainfo launches another desktop entry"

say "dpkg -i $(basename "$deb")"
installed=1
if ! timeout 300 dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  say "dependencies missing; apt-get install -f"
  export DEBIAN_FRONTEND=noninteractive
  timeout 600 apt-get install -f -y -qq >>"$work/dpkg.log" 2>&1 ||
    { timeout 300 apt-get update -qq && timeout 600 apt-get install -f -y -qq >>"$work/dpkg.log" 2>&1; } ||
    { cat "$work/dpkg.log"; fail "the package's dependencies could not be installed"; }
fi
installed_ok "$package" ||
  { cat "$work/dpkg.log"; fail "dpkg did not install $package"; }
libraries=$(ldd /usr/bin/korvani-dock)
if [[ "$libraries" == *"not found"* ]]; then
  grep "not found" <<<"$libraries"
  fail "the installed program misses libraries"
fi

if ! id -u "$ci_user" >/dev/null 2>&1; then
  useradd -m -s /bin/sh "$ci_user"
  created_user=1
fi
[ "$(id -u "$ci_user")" -ne 0 ] || fail "$ci_user is root"
home=$(getent passwd "$ci_user" | cut -d: -f6)
[ -d "$home" ] || fail "$ci_user has no home directory"
data_dir="$home/.local/share/korvani-dock"
rm -rf "$data_dir"
runtime="$work/runtime"
install -d -m 0700 -o "$ci_user" "$runtime"

# Whatever the program writes must not land in the installed folders.
listing() { find /usr/bin /usr/share/korvani-dock -newer "$deb" -print 2>/dev/null | sort; }
touch "$deb"
before=$(listing)

say "starting /usr/bin/korvani-dock as $ci_user (offscreen)"
set +e
timeout --kill-after=10 120 runuser -u "$ci_user" -- env -i --chdir="$home" \
  HOME="$home" USER="$ci_user" LOGNAME="$ci_user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
  QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu --disable-background-networking --disable-component-update" \
  KORVANI_REPORT_WINDOWS=1 KORVANI_CLOSE_AFTER_MS=3000 \
  /usr/bin/korvani-dock >"$work/run.out" 2>"$work/run.err"
code=$?
set -e
show_run() { sed 's/^/  | /' "$work/run.err" >&2; }
if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
  show_run
  fail "the program did not end within 120 s of its start"
fi
grep -qx "main_window shown" "$work/run.err" || { show_run; fail "main_window did not come up (exit $code)"; }
grep -qx "main_window closed" "$work/run.err" || { show_run; fail "main_window was not closed (exit $code)"; }
[ "$code" -eq 0 ] || { show_run; fail "the program ended with $code after main_window was closed"; }
say "main_window came up and the program ended when it was closed"

# The embedded browser's helpers belong to the program and end with it;
# they are given a few seconds. Ended ones not yet reaped do not count.
running() { ps -u "$ci_user" -o pid=,stat=,args= 2>/dev/null | awk '$2 !~ /^Z/' || true; }
for _ in $(seq 20); do
  [ -z "$(running)" ] && break
  sleep 0.5
done
left=$(running)
[ -z "$left" ] || fail "processes left running after the program ended: $left"

[ -d "$data_dir" ] || fail "no files directory $data_dir was made"
[ "$(stat -c %U "$data_dir")" = "$ci_user" ] || fail "$data_dir does not belong to $ci_user"
after=$(listing)
[ "$before" = "$after" ] || fail "the program wrote into the installed folders: $(comm -13 <(echo "$before") <(echo "$after"))"
say "files directory: $data_dir"

# The demo shop that comes with the package must find its pages where the
# package put them.
say "starting /usr/bin/korvani-demo-shop as $ci_user"
runuser -u "$ci_user" -- env -i --chdir="$home" HOME="$home" PATH=/usr/bin:/bin \
  timeout 60 /usr/bin/korvani-demo-shop --backend-port 0 --supplier-port 0 >"$work/shop.out" 2>&1 &
shop_pid=$!
entry=
for _ in $(seq 40); do
  entry=$(sed -n 's/^  Back end: *//p' "$work/shop.out")
  [ -n "$entry" ] && break
  kill -0 "$shop_pid" 2>/dev/null || break
  sleep 0.25
done
page_ok=0
if [ -n "$entry" ] && timeout 20 curl -fsS -o "$work/entry.html" "$entry"; then
  grep -q "<form" "$work/entry.html" && page_ok=1
fi
# runuser hands the signal on to the shop.
kill -TERM "$shop_pid" 2>/dev/null || true
wait "$shop_pid" 2>/dev/null || true
[ -n "$entry" ] || { sed 's/^/  | /' "$work/shop.out" >&2; fail "the installed demo shop did not start"; }
[ "$page_ok" = 1 ] || fail "the installed demo shop did not serve its log-in page at $entry"
say "the demo shop served $entry"

say "dpkg -r $package"
timeout 120 dpkg -r "$package" >/dev/null
installed=0
[ ! -e /usr/bin/korvani-dock ] || fail "/usr/bin/korvani-dock is still there after dpkg -r"
[ ! -e /usr/share/korvani-dock ] || fail "/usr/share/korvani-dock is still there after dpkg -r"
say "passed"
