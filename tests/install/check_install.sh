#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs;
# then builds the Debian package and checks its contents.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null
for f in bin/zudsieve share/applications/zudsieve.desktop share/man/man1/zudsieve.1; do
  [ -f "$work/usr/$f" ] || { echo "not installed: $f"; exit 1; }
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$work/usr/share/icons/hicolor/${size}x${size}/apps/zudsieve.png"
  [ -f "$icon" ] || { echo "no ${size}x${size} icon"; exit 1; }
done
desktop-file-validate "$work/usr/share/applications/zudsieve.desktop"
[ "$("$work/usr/bin/zudsieve" --version | head -1)" = "ZudSieve 1.24" ]
man -l "$work/usr/share/man/man1/zudsieve.1" 2>/dev/null | grep -q -- "--workers" || {
  command -v man >/dev/null && { echo "manual page does not render"; exit 1; }
}

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/zudsieve ./usr/share/applications/zudsieve.desktop \
         ./usr/share/icons/hicolor/48x48/apps/zudsieve.png ./usr/share/man/man1/zudsieve.1; do
  grep -q " $f\$" <<<"$contents" || { echo "not in the package: $f"; exit 1; }
done
dpkg-deb -f "$deb" Package Version Depends
echo "installed and packaged: $(basename "$deb")"
