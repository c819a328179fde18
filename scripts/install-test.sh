#!/usr/bin/env bash
# Installs kelvoran from the release build into a staging prefix and checks
# what a user gets: the files, the desktop entry and AppStream data (both
# validated), the manual page and the Debian package, which lintian (where
# installed) must find no error in. As root it then installs the package for
# real and removes it again (waiting up to two minutes each time while another
# package manager holds dpkg's lock), and runs the installed program file as a
# freshly created ordinary user, in a network namespace of its own, on an X
# virtual framebuffer, driven with key presses as a user would:
#   none      no capability, ping_group_range "1 0": every host N/A and one
#             line on standard error that names both remedies;
#   raw       cap_net_raw+p, ping_group_range "1 0", started through the
#             desktop entry's command in the user's home: 127.0.0.1 answers in
#             0 ms, and no thread holds the capability effective;
#   datagram  no capability, ping_group_range open: 0 ms as well.
# Without root those runs are skipped, saying so. Ends with the line
# "install-test: N passed, N failed, N skipped"; exit status 1 if any failed.
# Conditions are handed to eval in single quotes on purpose.
# shellcheck disable=SC2016
set -Eeuo pipefail
trap 'echo "install-test: stopped by a failed command at line $LINENO" >&2' ERR
cd "$(dirname "$0")/.."
source_dir=$(pwd)
jobs=${JOBS:-$(nproc)}

passed=0 failed=0 skipped=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
skip() { echo "skip: $*"; skipped=$((skipped + 1)); }
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

echo "=== install test ==="
cmake --preset release >/dev/null
# Only what is installed; the release tests are not run here.
cmake --build --preset release -j "$jobs" --target kelvoran kelvoran-manpage
build=$source_dir/build/release

work=$(mktemp -d /tmp/kelvoran-install.XXXXXX)
chmod 755 "$work"
prefix=$work/usr
program=$prefix/bin/kelvoran
user=kelvoran-it-$$
xvfb_pid='' app_pid='' netns='' made_user='' deb_installed=''

# Polls up to $1 seconds (in tenths) for the command to succeed.
wait_for() {
  local tenths=$(($1 * 10))
  shift
  while ! "$@"; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || return 1
    sleep 0.1
  done
}

# dpkg ARGS..., its output appended to $dpkg_log. While another package
# manager holds dpkg's lock, dpkg says so and does nothing; it is then tried
# again, for up to two minutes.
dpkg_log=$work/dpkg.log
run_dpkg() {
  local status out said='' deadline=$((SECONDS + 120))
  while :; do
    status=0
    out=$(LC_ALL=C dpkg "$@" 2>&1) || status=$?
    printf '%s\n' "$out" >>"$dpkg_log"
    if [ "$status" -eq 0 ] || ! grep -qE 'locked by another process|Another process has locked' <<<"$out"; then
      return "$status"
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "  dpkg $1: another process held dpkg's lock for two minutes"
      return "$status"
    fi
    if [ -z "$said" ]; then
      echo "  dpkg $1: another process holds dpkg's lock; waiting for it"
      said=yes
    fi
    sleep 1
  done
}

# Undoes at exit what the test made. The ERR trap is for the test's own
# commands; what fails here says itself what it could not undo.
cleanup() {
  trap - ERR
  set +e
  if [ -n "$app_pid" ]; then kill -KILL "$app_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; then wait "$xvfb_pid" 2>/dev/null; fi
  if [ -n "$netns" ] && ! ip netns del "$netns"; then
    echo "install-test: could not remove the network namespace $netns" >&2
  fi
  # userdel refuses while another program holds the user database's lock.
  if [ -n "$made_user" ] && ! wait_for 10 eval 'userdel "$user" 2>/dev/null'; then
    echo "install-test: could not remove the user $user" >&2
  fi
  if [ -n "$deb_installed" ] && ! run_dpkg --purge kelvoran >&2; then
    echo "install-test: could not purge the kelvoran package:" >&2
    tail -n 5 "$dpkg_log" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- The staged install -----------------------------------------------------

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install into a staging prefix"
}

share=$prefix/share
icons=$share/icons/hicolor
desktop=$share/applications/kelvoran.desktop
metainfo=$share/metainfo/org.kelvoran.kelvoran.metainfo.xml
manpage=$share/man/man1/kelvoran.1.gz

check "program installed, executable, not set-user-ID" \
  test -x "$program" -a ! -u "$program" -a ! -g "$program"
for f in "$desktop" "$metainfo" "$manpage" "$icons/scalable/apps/kelvoran.svg" \
  "$share/doc/kelvoran/copyright"; do
  check "installed: ${f#"$prefix"/}" test -f "$f"
done

# Width and height from a PNG's header, as "WxH".
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/kelvoran.png
  check "icon ${size}x${size}: a PNG of that size" test "$(png_size "$png" 2>/dev/null)" = "${size}x${size}"
done
check "scalable icon is the window icon's art" cmp -s "$icons/scalable/apps/kelvoran.svg" res/kelvoran.svg
# The window icon is built from these two files (res/kelvoran.qrc).
check "16 and 32 pixel icons are the window icon's images" \
  eval 'cmp -s "$icons/16x16/apps/kelvoran.png" res/kelvoran-16.png &&
        cmp -s "$icons/32x32/apps/kelvoran.png" res/kelvoran-32.png'

if [ "$(id -u)" -eq 0 ]; then
  check "install step as root gives the program cap_net_raw+p" \
    test "$(getcap "$program" | awk '{ print $2 }')" = "cap_net_raw=p"
else
  check "install step without root says how to set the capability" \
    grep -q "setcap cap_net_raw+p $program" "$work/install.log"
fi

# --- Desktop entry, AppStream data, manual page -----------------------------

check "desktop entry validates" desktop-file-validate "$desktop"
check "AppStream metadata validates" appstreamcli validate --no-net "$metainfo"
desktop_key() { sed -n "s/^$1=//p" "$desktop"; }
check "desktop entry: icon name is the installed icon's" test "$(desktop_key Icon)" = kelvoran
check "desktop entry: TryExec names the installed program" test "$(desktop_key TryExec)" = kelvoran
check "desktop entry: starts the program in the home directory" \
  test "$(desktop_key Exec)" = 'sh -c "cd && exec kelvoran"'
check "AppStream launchable is the installed desktop entry" \
  grep -q '<launchable type="desktop-id">kelvoran.desktop</launchable>' "$metainfo"

man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$manpage" 2>&1 >/dev/null) || true
check "manual page formats without warnings" test -z "$man_warnings"
man_text=$(MANWIDTH=200 man -l "$manpage" 2>/dev/null | col -b) || true
for topic in kelvoran.ini kelvoran.YYYYMMDD "GROUP FILE" "RESULT LOG" "ICMP PERMISSIONS" \
  "DESKTOP ENTRY" net.ipv4.ping_group_range "setcap cap_net_raw+p"; do
  check "manual page covers $topic" grep -qF -- "$topic" <<<"$man_text"
done

# --- The Debian package -----------------------------------------------------

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"
  fail "cpack builds the .deb"
}
deb=$(ls "$work"/deb/kelvoran_*.deb 2>/dev/null | head -1) || true
check "package file kelvoran_1.0.0.2-1_amd64.deb" test "$(basename "$deb")" = kelvoran_1.0.0.2-1_amd64.deb
field() { dpkg-deb -f "$deb" "$1" 2>/dev/null; }
check "package name and version" test "$(field Package) $(field Version)" = "kelvoran 1.0.0.2-1"
depends=$(field Depends) || true
echo "Depends: $depends"
for dep in libc6 libstdc++6 libcap2 libcap2-bin libqt6core6 libqt6gui6 libqt6widgets6; do
  check "package depends on $dep" grep -qE "(^|, )${dep//+/\\+}( |,|$)" <<<"$depends"
done
contents=$(dpkg-deb -c "$deb") || true
for path in usr/bin/kelvoran usr/share/applications/kelvoran.desktop \
  usr/share/metainfo/org.kelvoran.kelvoran.metainfo.xml usr/share/man/man1/kelvoran.1.gz \
  usr/share/icons/hicolor/scalable/apps/kelvoran.svg \
  usr/share/icons/hicolor/256x256/apps/kelvoran.png usr/share/doc/kelvoran/copyright \
  usr/share/doc/kelvoran/changelog.Debian.gz; do
  check "package holds /$path" grep -qE " \./$path\$" <<<"$contents"
done
check "package holds no set-user-ID or set-group-ID file" \
  eval '! awk "{ print \$1 }" <<<"$contents" | grep -q "[sS]"'
postinst=$(dpkg-deb -I "$deb" postinst 2>/dev/null || true)
check "package postinst works on /usr/bin/kelvoran" grep -qxF "program=/usr/bin/kelvoran" <<<"$postinst"
check "package postinst runs setcap cap_net_raw+p on it" \
  grep -qF 'setcap cap_net_raw+p "$program"' <<<"$postinst"
check "package postinst is executable" \
  eval 'dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - ./postinst | grep -q "^-rwxr-xr-x"'
dpkg-deb --fsys-tarfile "$deb" 2>/dev/null |
  tar -xOf - ./usr/share/doc/kelvoran/changelog.Debian.gz 2>/dev/null |
  gzip -dc >"$work/changelog.Debian" 2>/dev/null || true
entry() { dpkg-parsechangelog -l "$work/changelog.Debian" -S "$1" 2>/dev/null; }
check "package changelog's latest entry is the package's version, by its maintainer" \
  eval '[ -n "$(entry Version)" ] &&
        [ "$(entry Version) $(entry Maintainer)" = "$(field Version) $(field Maintainer)" ]'
if command -v lintian >/dev/null; then
  # Every tag is shown; only errors fail. --fail-on none: a status other than
  # 0 means lintian itself did not finish.
  lintian_status=0
  lintian --fail-on none "$deb" >"$work/lintian.out" 2>"$work/lintian.err" || lintian_status=$?
  sed 's/^/  lintian: /' "$work/lintian.out"
  if [ "$lintian_status" -ne 0 ]; then sed 's/^/  lintian stderr: /' "$work/lintian.err"; fi
  check "lintian runs on the package and reports no error" \
    eval '[ "$lintian_status" -eq 0 ] && ! grep -q "^E: " "$work/lintian.out"'
else
  skip "lintian is not installed (scripts/setup.sh installs it): the package is not checked with it"
fi

if [ "$(id -u)" -ne 0 ]; then
  skip "installing the .deb needs root"
elif dpkg-query -W -f '${Status}' kelvoran 2>/dev/null | grep -q installed || [ -e /usr/bin/kelvoran ]; then
  skip "a kelvoran package or /usr/bin/kelvoran is there already; not replacing it"
else
  deb_installed=yes
  if run_dpkg -i "$deb"; then
    pass "dpkg installs the package"
    check "postinst gives /usr/bin/kelvoran cap_net_raw+p" \
      test "$(getcap /usr/bin/kelvoran | awk '{ print $2 }')" = "cap_net_raw=p"
  else
    cat "$dpkg_log"
    fail "dpkg installs the package"
  fi
  if run_dpkg --purge kelvoran && [ ! -e /usr/bin/kelvoran ]; then
    deb_installed=''
    pass "dpkg removes the package and its program"
  else
    fail "dpkg removes the package and its program"
  fi
fi

# --- The installed program as an ordinary user ------------------------------

# Names of the visible top-level windows, one a line.
window_names() { xdotool search --onlyvisible --name '' getwindowname %@ 2>/dev/null || true; }
window_shown() { window_names | grep -qxF -- "$1"; }

# press TITLE CONDITION KEYS...: focuses the window titled TITLE and presses the
# keys, until the shell condition holds; checks it before pressing, so
# keys that did arrive late are never pressed twice.
press() {
  local title=$1 condition=$2
  shift 2
  local id
  for _ in 1 2 3; do
    eval "$condition" && return 0
    id=$(xdotool search --onlyvisible --name "^$(sed 's/[][*.^$]/\\&/g' <<<"$title")\$" 2>/dev/null | head -1) || true
    if [ -n "$id" ]; then
      xdotool windowfocus --sync "$id" 2>/dev/null || true
      xdotool key --delay 80 "$@" 2>/dev/null || true
    fi
    wait_for 4 eval "$condition" && return 0
  done
  echo "  windows now: $(window_names | tr '\n' '|')"
  return 1
}

# Status lines of every thread of a process: "CapPrm CapEff" per thread.
thread_caps() {
  local task
  for task in /proc/"$1"/task/*; do
    awk '/^CapPrm/ { p = $2 } /^CapEff/ { e = $2 } END { print p, e }' "$task/status" 2>/dev/null
  done
}

log_lines() { cat "$1"/kelvoran.[0-9]* 2>/dev/null || true; }
# Every host has a line of the expected kind: "0 ms" or "N/A".
results_in() {
  local dir=$1 kind=$2 lines host
  lines=$(log_lines "$dir")
  for host in "${hosts[@]}"; do
    grep -qE "^\[[0-9:]{8}\] ${host//./\\.} +$kind\$" <<<"$lines" || return 1
  done
}

hosts=(127.0.0.1 127.0.0.2)

# run_case NAME PING_GROUP_RANGE CAPABILITY(yes|no) LAUNCH(desktop|direct)
run_case() {
  local name=$1 range=$2 cap=$3 launch=$4
  local dir=$work/run-$name label="run '$name'"
  echo "--- $label: ping_group_range \"$range\", capability $cap, started $launch"

  if [ "$cap" = yes ]; then
    setcap cap_net_raw+p "$program"
  else
    setcap -r "$program" 2>/dev/null || true
  fi
  netns=kelvoran-it-$$-$name
  ip netns add "$netns"
  ip netns exec "$netns" ip link set lo up
  ip netns exec "$netns" sysctl -qw net.ipv4.ping_group_range="$range"

  local cwd command
  if [ "$launch" = desktop ]; then
    # As a menu would start it: the entry's command, from anywhere.
    dir=$home
    cwd=/
    eval "command=($(desktop_key Exec))"
  else
    mkdir -p "$dir"
    cwd=$dir
    command=("$program")
  fi
  printf '[Loopback]\n127.0.0.1\tThis machine\n127.0.0.2\tAnother loopback address\n' >"$dir/kelvoran.ini"
  chown -R "$user:" "$dir"
  rm -f "$dir"/kelvoran.[0-9]*

  ip netns exec "$netns" setpriv --reuid="$user" --regid="$user" --init-groups --reset-env \
    env -C "$cwd" DISPLAY=":$display" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
    PATH="$prefix/bin:/usr/bin:/bin" "${command[@]}" \
    >"$work/$name.out" 2>"$work/$name.err" &
  app_pid=$!

  # Cancel the dialog opened at start, switch File > Full log on, then load
  # the group through File > Group, so that every first result is logged.
  if wait_for 20 window_shown "Group Select" &&
    press "Group Select" '! window_shown "Group Select"' Escape &&
    press kelvoran 'window_shown "[*]kelvoran"' alt+f Down Return &&
    press "[*]kelvoran" 'window_shown "Group Select"' alt+f Return &&
    press "Group Select" 'window_shown "[*] kelvoran : Loopback"' Tab Tab Down Return; then
    pass "$label: group chosen with Full log on"
  else
    fail "$label: group chosen with Full log on"
  fi

  local expect="0 ms"
  [ "$range" = "1 0" ] && [ "$cap" = no ] && expect=N/A
  if wait_for 25 results_in "$dir" "$expect"; then
    pass "$label: every host logged, 127.0.0.1 $expect"
  else
    fail "$label: every host logged, 127.0.0.1 $expect"
    log_lines "$dir" | sed 's/^/  log: /'
  fi
  if [ "$expect" = N/A ]; then
    check "$label: no host answers" eval '! log_lines "$dir" | grep -q " ms$"'
  else
    check "$label: no host without answer" eval '! log_lines "$dir" | grep -q "N/A$"'
  fi

  check "$label: runs as the new user" \
    test "$(awk '/^Uid/ { print $2 $3 }' "/proc/$app_pid/status" 2>/dev/null)" = "$uid$uid"
  local caps want_prm=0000000000000000
  [ "$cap" = yes ] && want_prm=0000000000002000
  caps=$(thread_caps "$app_pid" | sort -u)
  check "$label: every thread: permitted $want_prm, effective empty" \
    test "$caps" = "$want_prm 0000000000000000"
  if [ "$cap" = yes ]; then
    check "$label: getpcaps shows cap_net_raw permitted only" \
      grep -qE "^$app_pid: cap_net_raw=p\$" <<<"$(getpcaps "$app_pid" 2>&1)"
  fi

  local status=0
  if press "[*] kelvoran : Loopback" '! kill -0 "$app_pid" 2>/dev/null' alt+f x; then
    wait "$app_pid" || status=$?
    check "$label: File > Exit ends it with status 0" test "$status" -eq 0
  else
    kill -KILL "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    fail "$label: File > Exit ends it"
  fi
  app_pid=''

  if [ "$expect" = N/A ]; then
    check "$label: standard error is the one line naming both remedies" eval '
      [ "$(wc -l <"$work/$name.err")" -eq 1 ] &&
      grep -q "^kelvoran: no ICMP socket can be opened.*net\.ipv4\.ping_group_range.*setcap cap_net_raw+p" "$work/$name.err"'
  else
    check "$label: nothing on standard error" test ! -s "$work/$name.err"
  fi
  [ -s "$work/$name.err" ] && sed 's/^/  stderr: /' "$work/$name.err"

  ip netns del "$netns"
  netns=''
}

start_xvfb() {
  local n
  for _ in 1 2 3; do
    display=''
    for n in $(seq 70 99); do
      if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=$n
        break
      fi
    done
    [ -n "$display" ] || return 1
    Xvfb ":$display" -ac -nolisten tcp -noreset -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$display
    if wait_for 10 eval 'xdotool getdisplaygeometry >/dev/null 2>&1'; then
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=''
  done
  return 1
}

runtime_tests() {
  local tool
  for tool in Xvfb xdotool setpriv setcap getcap ip useradd userdel; do
    if ! command -v "$tool" >/dev/null; then
      fail "$tool is missing (scripts/setup.sh installs it)"
      return
    fi
  done
  if findmnt -no OPTIONS -T "$work" | grep -qw nosuid; then
    skip "$work is mounted nosuid, where file capabilities do not work"
    return
  fi
  # What an earlier run that was killed left behind.
  local stale stale_pid
  for stale in $(getent passwd | cut -d: -f1 | grep '^kelvoran-it-[0-9]*$' || true); do
    kill -0 "${stale#kelvoran-it-}" 2>/dev/null || userdel "$stale" 2>/dev/null || true
  done
  for stale in $(ip netns list | awk '/^kelvoran-it-/ { print $1 }'); do
    stale_pid=${stale#kelvoran-it-}
    kill -0 "${stale_pid%%-*}" 2>/dev/null || ip netns del "$stale" 2>/dev/null || true
  done

  home=$work/home
  runtime=$work/runtime
  useradd --no-create-home --home-dir "$home" --shell /bin/sh --user-group "$user"
  made_user=yes
  uid=$(id -u "$user")
  install -d -m 700 -o "$user" -g "$user" "$home" "$runtime"

  # The install step's word when it cannot set the capability itself.
  cp packaging/SetCapability.cmake "$work/"
  local said
  said=$(setpriv --reuid="$user" --regid="$user" --init-groups --reset-env \
    cmake -DKELVORAN_PROGRAM="$program" -P "$work/SetCapability.cmake" 2>&1 || true)
  check "install step as a user says how to set the capability" \
    grep -qF "setcap cap_net_raw+p $program" <<<"$said"

  if ! start_xvfb; then
    fail "Xvfb starts"
    cat "$work/xvfb.log" 2>/dev/null || true
    return
  fi
  run_case none "1 0" no direct
  run_case raw "1 0" yes desktop
  run_case datagram "0 2147483647" no direct
}

if [ "$(id -u)" -eq 0 ]; then
  runtime_tests
else
  skip "running the installed program as a new user in a network namespace needs root"
fi

echo "install-test: $passed passed, $failed failed, $skipped skipped"
if [ "$failed" -ne 0 ]; then exit 1; fi
