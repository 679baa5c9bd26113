#!/usr/bin/env bash
# The Debian package of the server, without touching the machine's packages:
#   deb-test.sh DEB VERSION
# its control data and files with their modes; the unit (systemd-analyze
# verify where available); the maintainer scripts against a temporary root
# (install, upgrade, remove keeps, purge removes); the packaged qimbo-server
# adding a user as the service's user, then serving from the unit's own
# command line with the packaged settings, and the packaged qimbo-tool logging
# in; lintian where installed.
set -uo pipefail
source "$(dirname "$0")/../win/kit.sh"
deb=$1 version=$2
arch=$(dpkg --print-architecture)
kit_tmp
[ -f "$deb" ] || { echo "FAILED: no package at $deb (cmake --build NATIVE --target qimbo_deb)"; exit 1; }
check "named qimbo-server_${version}_$arch.deb" [ "$(basename "$deb")" = "qimbo-server_${version}_$arch.deb" ]

# ---- control data and files --------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
check "Package qimbo-server, Version $version, Architecture $arch" \
  [ "$(field Package) $(field Version) $(field Architecture)" = "qimbo-server $version $arch" ]
deps=$(field Depends)
check "Depends names the libraries (SQLite, libsodium, libpq): $deps" \
  bash -c "[[ '$deps' == *libsqlite3* && '$deps' == *libsodium* && '$deps' == *libpq* && '$deps' == *passwd* ]]"
dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' >"$tmp/list"
want_files=(
  "-rwxr-xr-x root/root ./usr/bin/qimbo-server"
  "-rwxr-xr-x root/root ./usr/bin/qimbo-tool"
  "-rwxr-xr-x root/root ./usr/lib/qimbo-server/qimbo-server"
  "-rw-r--r-- root/root ./lib/systemd/system/qimbo-server.service"
  "-rw-r--r-- root/root ./etc/qimbo-server/qimbo-server.conf"
  "-rw-r--r-- root/root ./usr/share/doc/qimbo-server/copyright"
  "-rw-r--r-- root/root ./usr/share/doc/qimbo-server/changelog.gz"
  "-rw-r--r-- root/root ./usr/share/man/man8/qimbo-server.8.gz"
)
missing=0
for w in "${want_files[@]}"; do grep -qxF -e "$w" "$tmp/list" || { echo "  not in the package: $w"; missing=1; }; done
check "programs, unit, settings and documents with their modes, owned by root" [ "$missing" = 0 ]
check "nothing writable by group or others" bash -c "! awk '{print \$1}' '$tmp/list' | grep -q '^.....w\\|^........w'"
dpkg-deb -e "$deb" "$tmp/DEBIAN"
check "the settings file is a conffile" grep -qx /etc/qimbo-server/qimbo-server.conf "$tmp/DEBIAN/conffiles"
root=$tmp/root
dpkg-deb -x "$deb" "$root"
check "the programs are stripped" bash -c "file '$root/usr/lib/qimbo-server/qimbo-server' '$root/usr/bin/qimbo-tool' | grep -c ', stripped' | grep -qx 2"
check "qimbo-server --version says $version" [ "$("$root/usr/bin/qimbo-server" --version)" = "qimbo-server $version" ]
check "qimbo-tool --version says $version" [ "$("$root/usr/bin/qimbo-tool" --version)" = "qimbo-tool $version" ]

# ---- the unit ----------------------------------------------------------------
unit=$root/lib/systemd/system/qimbo-server.service
conf=$root/etc/qimbo-server/qimbo-server.conf
for k in User=qimbo Group=qimbo Restart=on-failure EnvironmentFile=/etc/qimbo-server/qimbo-server.conf \
         StateDirectory=qimbo-server NoNewPrivileges=yes ProtectSystem=strict ProtectHome=yes PrivateTmp=yes; do
  grep -qx "$k" "$unit" || fail "the unit lacks $k"
done
ok "the unit runs as qimbo, restarts on failure, reads the settings, is sandboxed"
# Every limit of the server is explained in the settings file.
"$root/usr/bin/qimbo-server" serve --help | grep -o -- '--[a-z-]*' | sort -u >"$tmp/opts"
undocumented=$(grep -v -x -e --help -e --name -e --db -e --listen -e --port-base -e --client-port-base -e --instance "$tmp/opts" |
               while read -r o; do grep -q -- "^# $o " "$conf" || echo "$o"; done)
check "every option of serve is explained in the settings file${undocumented:+ (not: $undocumented)}" [ -z "$undocumented" ]
if command -v systemd-analyze >/dev/null; then
  # Its program as unpacked (verify wants the command to exist).
  mkdir -p "$tmp/unit"
  sed "s|/usr/lib/qimbo-server/qimbo-server|$root/usr/lib/qimbo-server/qimbo-server|" "$unit" >"$tmp/unit/qimbo-server.service"
  systemd-analyze verify "$tmp/unit/qimbo-server.service" >"$tmp/verify" 2>&1
  rc=$?
  sed 's/^/  /' "$tmp/verify"
  check "systemd-analyze verify passes the unit" [ "$rc" = 0 ]
  score=$(systemd-analyze security --offline=true --root="$root" qimbo-server.service 2>/dev/null | sed -n 's/.*Overall exposure level for .*: //p')
  [ -n "$score" ] && echo "  systemd-analyze security: exposure $score"
else
  echo "SKIP: systemd-analyze is not installed, unit not verified"
fi

# ---- maintainer scripts against a temporary root -----------------------------
if [ "$(id -u)" = 0 ]; then
  mkdir -p "$root/etc"
  for f in passwd group shadow gshadow; do cp "/etc/$f" "$root/etc/$f"; done
  export DPKG_ROOT=$root
  sh "$tmp/DEBIAN/postinst" configure "" || fail "postinst configure"
  uid=$(awk -F: '$1 == "qimbo" { print $3 }' "$root/etc/passwd")
  gid=$(awk -F: '$1 == "qimbo" { print $3 }' "$root/etc/group")
  check "postinst makes the system user and group qimbo (uid $uid, no login)" \
    bash -c "[ -n '$uid' ] && [ '$uid' -lt 1000 ] && grep -q '^qimbo:.*:/var/lib/qimbo-server:/usr/sbin/nologin$' '$root/etc/passwd'"
  check "the state folder is the service's, mode 0750" [ "$(stat -c '%a %u %g' "$root/var/lib/qimbo-server")" = "750 $uid $gid" ]
  check "the settings file is root's, readable by the group only" [ "$(stat -c '%a %u %g' "$conf")" = "640 0 $gid" ]
  sh "$tmp/DEBIAN/postinst" configure 1.0.5 || fail "postinst configure (upgrade)"
  check "an upgrade makes no second user" [ "$(grep -c '^qimbo:' "$root/etc/passwd")" = 1 ]
  : >"$root/var/lib/qimbo-server/qimbo-server.db"
  sh "$tmp/DEBIAN/prerm" remove && sh "$tmp/DEBIAN/postrm" remove || fail "prerm/postrm remove"
  check "remove keeps the database, the settings and the user" \
    bash -c "[ -f '$root/var/lib/qimbo-server/qimbo-server.db' ] && [ -f '$conf' ] && grep -q '^qimbo:' '$root/etc/passwd'"
  cp "$conf" "$tmp/conf.kept"
  sh "$tmp/DEBIAN/postrm" purge || fail "postrm purge"
  check "purge removes the database, the settings, the user and the group" \
    bash -c "[ ! -e '$root/var/lib/qimbo-server' ] && [ ! -e '$root/etc/qimbo-server' ] && ! grep -q '^qimbo:' '$root/etc/passwd' '$root/etc/group'"
  unset DPKG_ROOT
  mkdir -p "$(dirname "$conf")" && cp "$tmp/conf.kept" "$conf"
else
  echo "SKIP: the maintainer scripts' checks need root (owners of the temporary root's files)"
fi

# ---- a user added the packaged way, the server started from the unit's line ---
mkdir -p "$tmp/state"
chmod 0755 "$tmp" && chmod 0777 "$tmp/state"
# The packaged settings, pointed at the test's folder, address and ports.
sed -e "s|^QIMBO_DB=.*|QIMBO_DB=$tmp/state/qimbo-server.db|" -e 's|^QIMBO_LISTEN=.*|QIMBO_LISTEN=127.0.0.91|' \
    -e 's|^QIMBO_PORT_BASE=.*|QIMBO_PORT_BASE=26580|' -e 's|^QIMBO_CLIENT_PORT_BASE=.*|QIMBO_CLIENT_PORT_BASE=26530|' \
    -e 's|^QIMBO_OPTIONS=.*|QIMBO_OPTIONS=--version 1061 --check-workers 1|' "$conf" >"$tmp/test.conf"
chmod 0644 "$tmp/test.conf"
export QIMBO_SERVER_CONF=$tmp/test.conf
runas=$(id -un)
[ "$(id -u)" = 0 ] && runas=nobody
echo 'pw1' | QIMBO_SERVER_USER=$runas "$root/usr/bin/qimbo-server" user add 10001 - 测试 >"$tmp/add.out" 2>&1 ||
  fail "qimbo-server user add: $(cat "$tmp/add.out")"
check "user add takes the settings' database and makes it as the service's user ($runas)" \
  [ "$(stat -c %U "$tmp/state/qimbo-server.db" 2>/dev/null)" = "$runas" ]
QIMBO_SERVER_USER=$runas "$root/usr/bin/qimbo-server" user list >"$tmp/list.out" 2>&1
check "user list shows the new user" grep -q 10001 "$tmp/list.out"
# ExecStart with the settings put in as systemd does (${X} one word, $X split).
line=$(sed -n 's/^ExecStart=//p' "$unit")
declare -A env
while IFS='=' read -r k v; do env[$k]=$v; done < <(grep -E '^[A-Z_]+=' "$tmp/test.conf")
cmd=$(echo "$line" | sed -e "s|^/usr/lib/qimbo-server/qimbo-server|$root/usr/lib/qimbo-server/qimbo-server|" \
                         -e "s|%H|$(hostname)|")
for k in "${!env[@]}"; do cmd=${cmd//\$\{$k\}/${env[$k]}}; cmd=${cmd//\$$k/${env[$k]}}; done
echo "  ExecStart: $cmd"
case "$cmd" in *'$'*) fail "a setting the unit uses is not in the settings file" ;; *) ok "every setting the unit uses is in the settings file" ;; esac
if [ "$(id -u)" = 0 ]; then
  (cd "$tmp/state" && exec setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups $cmd 2>"$tmp/server.log") &
else
  (cd "$tmp/state" && exec $cmd 2>"$tmp/server.log") &
fi
pid=$!
kit_track $pid
kit_wait_for "$tmp/server.log" listening
check "the server starts from the unit's command line: $(head -1 "$tmp/server.log")" grep -q 'listening on 127.0.0.91:26580' "$tmp/server.log"
net="--server 127.0.0.91 --bind 127.0.0.92 --port-base 26530 --server-port-base 26580 --user 10001 --timeout 10"
"$root/usr/bin/qimbo-tool" net login $net --password pw1 >"$tmp/login.out" 2>&1
check "the packaged qimbo-tool logs in as the user added" [ $? = 0 ]
"$root/usr/bin/qimbo-tool" net login $net --password wrong >/dev/null 2>&1
check "a wrong password is refused" [ $? != 0 ]
kit_stop "$pid"
check "SIGTERM ends it cleanly with its counts" grep -q 'stopped;' "$tmp/server.log"

# ---- lintian -----------------------------------------------------------------
if command -v lintian >/dev/null; then
  lintian "$deb" >"$tmp/lintian" 2>&1
  sed 's/^/  /' "$tmp/lintian"
  check "lintian finds no error or warning" bash -c "! grep -q '^[EW]:' '$tmp/lintian'"
else
  echo "SKIP: lintian is not installed"
fi

[ "$failures" = 0 ] && echo "dist.deb: all checks passed" || echo "dist.deb: $failures failed"
[ "$failures" = 0 ]
