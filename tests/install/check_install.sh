#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs;
# then builds the Debian package and checks its contents.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null
for f in bin/zudsieve share/applications/zudsieve.desktop share/man/man1/zudsieve.1.gz \
         share/doc/zudsieve/copyright share/doc/zudsieve/changelog.gz \
         share/metainfo/org.example.zud.ZudSieve.metainfo.xml; do
  [ -f "$work/usr/$f" ] || { echo "not installed: $f"; exit 1; }
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$work/usr/share/icons/hicolor/${size}x${size}/apps/zudsieve.png"
  [ -f "$icon" ] || { echo "no ${size}x${size} icon"; exit 1; }
done
desktop-file-validate "$work/usr/share/applications/zudsieve.desktop"
appstreamcli validate --no-net "$work/usr/share/metainfo/org.example.zud.ZudSieve.metainfo.xml" >/dev/null
"$work/usr/bin/zudsieve" --version | grep -qx "ZudSieve [0-9.]*"
if command -v man >/dev/null; then
  page=$(man -l "$work/usr/share/man/man1/zudsieve.1.gz" 2>/dev/null)
  for section in EXAMPLES FILES ENVIRONMENT "SEE ALSO" --workers; do
    grep -q -- "$section" <<<"$page" || { echo "manual page lacks $section"; exit 1; }
  done
fi

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/zudsieve ./usr/share/applications/zudsieve.desktop \
         ./usr/share/icons/hicolor/48x48/apps/zudsieve.png ./usr/share/man/man1/zudsieve.1.gz; do
  grep -q " $f\$" <<<"$contents" || { echo "not in the package: $f"; exit 1; }
done
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -f "$deb" Depends | grep -q "qt6-qpa-plugins" || { echo "Depends lacks qt6-qpa-plugins"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q "libc6" || { echo "Depends not computed by dpkg-shlibdeps"; exit 1; }
# Any error or warning of lintian fails the package.
if command -v lintian >/dev/null; then
  report=$(lintian --pedantic --fail-on error,warning "$deb" 2>&1) || { echo "$report"; exit 1; }
  [ -z "$report" ] || echo "$report"
fi
echo "installed and packaged: $(basename "$deb")"
