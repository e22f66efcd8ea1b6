#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs;
# then builds the Debian packages (zudsieve, zudsieve-project and, with the
# BOINC application, zudsieve-boinc) and checks their contents, their
# dependencies and lintian's word on each.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
boinc=false
grep -q '^ZUD_BOINC:BOOL=ON' "$build/CMakeCache.txt" && boinc=true

cmake --install "$build" --prefix "$work/usr" >/dev/null
files=(bin/zudsieve bin/zudsieve-project share/applications/zudsieve.desktop share/man/man1/zudsieve.1.gz
       share/man/man1/zudsieve-project.1.gz share/metainfo/org.example.zud.ZudSieve.metainfo.xml)
for package in zudsieve zudsieve-project; do
  files+=("share/doc/$package/copyright" "share/doc/$package/changelog.gz")
done
if $boinc; then
  files+=(bin/zudsieve-boinc share/man/man1/zudsieve-boinc.1.gz share/doc/zudsieve-boinc/copyright
          share/doc/zudsieve-boinc/changelog.gz)
fi
for f in "${files[@]}"; do
  [ -f "$work/usr/$f" ] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$work/usr/share/icons/hicolor/${size}x${size}/apps/zudsieve.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
done
[ -f "$work/usr/share/icons/hicolor/scalable/apps/zudsieve.svg" ] || fail "no scalable icon"
desktop-file-validate "$work/usr/share/applications/zudsieve.desktop"
appstreamcli validate --no-net "$work/usr/share/metainfo/org.example.zud.ZudSieve.metainfo.xml" >/dev/null
"$work/usr/bin/zudsieve" --version | grep -qx "ZudSieve [0-9.]*"
"$work/usr/bin/zudsieve-project" --help | grep -q validate-compare
$boinc && { "$work/usr/bin/zudsieve-boinc" --version | grep -qx "ZudSieve [0-9.]*"; }

# The manual pages: what each must tell, and no word of a README, which is
# not installed.
page_has() {   # page, what it must hold...
  local page=$1 text
  shift
  text=$(man -l "$work/usr/share/man/man1/$page.1.gz" 2>/dev/null)
  for want in "$@"; do
    grep -qF -- "$want" <<<"$text" || fail "$page(1) lacks $want"
  done
  ! grep -q README <<<"$text" || fail "$page(1) points to the README"
}
if command -v man >/dev/null; then
  page_has zudsieve EXAMPLES FILES ENVIRONMENT "SEE ALSO" --workers ZUDSIEVE_ISA Pause/Resume \
    "Start with the session" "Start hidden in the tray" "Quit (Ctrl+Q)" zudsieve-boinc
  page_has zudsieve-project validate-compare
  if $boinc; then
    page_has zudsieve-boinc "EXIT STATUS" ZUDSIEVE_ISA --nthreads
    # Every code the application ends with, one item each.
    codes=$(man -l "$work/usr/share/man/man1/zudsieve-boinc.1.gz" 2>/dev/null |
            sed -n '/^EXIT STATUS/,/^[A-Z]/p' | grep -oE '^ {7}[0-9]+ ' | tr -d ' ' | tr '\n' ' ')
    [ "$codes" = "0 11 12 13 14 15 16 17 18 19 194 " ] || fail "zudsieve-boinc(1) lists the exit codes $codes"
  fi
fi

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >/dev/null)
deb() { ls "$work"/package/"$1"_*.deb; }
expected=2
$boinc && expected=3
[ "$(ls "$work"/package/*.deb | wc -l)" -eq "$expected" ] || fail "not $expected packages: $(ls "$work/package")"

in_package() {   # package, files...
  local package=$1 contents
  shift
  contents=$(dpkg-deb -c "$(deb "$package")")
  for f in "$@"; do
    grep -q " $f\$" <<<"$contents" || fail "not in $package: $f"
  done
}
not_in_package() {   # package, files...
  local package=$1 contents
  shift
  contents=$(dpkg-deb -c "$(deb "$package")")
  for f in "$@"; do
    ! grep -q " $f\$" <<<"$contents" || fail "$package holds $f"
  done
}
field() { dpkg-deb -f "$(deb "$1")" "$2"; }

in_package zudsieve ./usr/bin/zudsieve ./usr/share/applications/zudsieve.desktop \
  ./usr/share/icons/hicolor/48x48/apps/zudsieve.png ./usr/share/man/man1/zudsieve.1.gz \
  ./usr/share/metainfo/org.example.zud.ZudSieve.metainfo.xml ./usr/share/doc/zudsieve/copyright
not_in_package zudsieve ./usr/bin/zudsieve-boinc ./usr/bin/zudsieve-project
in_package zudsieve-project ./usr/bin/zudsieve-project ./usr/share/man/man1/zudsieve-project.1.gz \
  ./usr/share/doc/zudsieve-project/copyright ./usr/share/doc/zudsieve-project/changelog.gz
not_in_package zudsieve-project ./usr/bin/zudsieve
# Every desktop user gets the window, and neither the BOINC libraries nor Python.
field zudsieve Depends | grep -q "qt6-qpa-plugins" || fail "zudsieve: Depends lacks qt6-qpa-plugins"
field zudsieve Depends | grep -q "libc6" || fail "zudsieve: Depends not computed by dpkg-shlibdeps"
! field zudsieve Depends | grep -q "boinc" || fail "zudsieve depends on BOINC: $(field zudsieve Depends)"
! field zudsieve Depends | grep -q "python" || fail "zudsieve depends on Python: $(field zudsieve Depends)"
[ "$(field zudsieve-project Depends)" = python3 ] || fail "zudsieve-project: Depends is $(field zudsieve-project Depends)"
[ "$(field zudsieve-project Architecture)" = all ] || fail "zudsieve-project is not Architecture: all"
packages=(zudsieve zudsieve-project)
if $boinc; then
  packages+=(zudsieve-boinc)
  in_package zudsieve-boinc ./usr/bin/zudsieve-boinc ./usr/share/man/man1/zudsieve-boinc.1.gz \
    ./usr/share/doc/zudsieve-boinc/copyright ./usr/share/doc/zudsieve-boinc/changelog.gz
  not_in_package zudsieve-boinc ./usr/bin/zudsieve
  field zudsieve-boinc Depends | grep -q "libboinc-app7" || fail "zudsieve-boinc does not depend on libboinc-app7"
  ! field zudsieve-boinc Depends | grep -q "qt6\|python" || fail "zudsieve-boinc: $(field zudsieve-boinc Depends)"
fi
for package in "${packages[@]}"; do
  [ "$(field "$package" Source)" = zudsieve ] || fail "$package does not come from the source zudsieve"
  dpkg-deb -f "$(deb "$package")" Package Version Architecture Depends
  # Any error or warning of lintian fails the package.
  if command -v lintian >/dev/null; then
    report=$(lintian --pedantic --fail-on error,warning "$(deb "$package")" 2>&1) || fail "$report"
    [ -z "$report" ] || echo "$report"
  fi
done
echo "installed and packaged: $(cd "$work/package" && echo *.deb)"
