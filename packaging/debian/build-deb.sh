#!/usr/bin/env bash
# Builds the Debian package of the server and the tool:
#   build-deb.sh VERSION QIMBO-SERVER QIMBO-TOOL OUTDIR
# -> OUTDIR/qimbo-server_VERSION_ARCH.deb, from the built programs (stripped),
# the unit, the settings file and the maintainer scripts of this folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$1 server=$2 tool=$3 out=$4
arch=$(dpkg --print-architecture)
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pkg=$work/pkg
doc=$pkg/usr/share/doc/qimbo-server
install -d -m 0755 "$pkg/DEBIAN" "$pkg/usr/bin" "$pkg/usr/lib/qimbo-server" "$pkg/lib/systemd/system" \
  "$pkg/etc/qimbo-server" "$doc" "$pkg/usr/share/man/man1" "$pkg/usr/share/man/man8"
install -m 0755 -s "$server" "$pkg/usr/lib/qimbo-server/qimbo-server"
install -m 0755 -s "$tool" "$pkg/usr/bin/qimbo-tool"
install -m 0755 "$here/qimbo-server.wrapper" "$pkg/usr/bin/qimbo-server"
install -m 0644 "$root/server/qimbo-server.service" "$pkg/lib/systemd/system/qimbo-server.service"
install -m 0644 "$here/qimbo-server.conf" "$pkg/etc/qimbo-server/qimbo-server.conf"
install -m 0644 "$here/copyright" "$doc/copyright"
install -m 0644 "$here/README.Debian" "$doc/README.Debian"
gzip -9n <"$root/server/README.md" >"$doc/README.md.gz"
sed "s/@VERSION@/$version/" "$here/changelog" | gzip -9n >"$doc/changelog.gz"
for m in qimbo-server.8 qimbo-tool.1; do
  sed "s/@VERSION@/$version/" "$here/$m" | gzip -9n >"$pkg/usr/share/man/man${m##*.}/$m.gz"
done
chmod 0644 "$doc"/*.gz "$pkg"/usr/share/man/man*/*.gz
for s in postinst postrm prerm; do install -m 0755 "$here/$s" "$pkg/DEBIAN/$s"; done
echo /etc/qimbo-server/qimbo-server.conf >"$pkg/DEBIAN/conffiles"

# The libraries the programs need, as dpkg-shlibdeps finds them.
mkdir -p "$work/debian"
printf 'Source: qimbo-server\n\nPackage: qimbo-server\nArchitecture: any\n' >"$work/debian/control"
deps=$(cd "$work" && dpkg-shlibdeps -O -e"$pkg/usr/lib/qimbo-server/qimbo-server" -e"$pkg/usr/bin/qimbo-tool" 2>/dev/null |
       sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$deps/" -e "s/@SIZE@/$size/" \
  "$here/control" >"$pkg/DEBIAN/control"
(cd "$pkg" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/md5sums" "$pkg/DEBIAN/conffiles" "$pkg/DEBIAN/control"
deb=$out/qimbo-server_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "build-deb: $deb ($(du -k "$deb" | cut -f1) KB)"
