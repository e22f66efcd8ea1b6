#!/usr/bin/env bash
# Installs the Debian packages ZudSieve needs to build, test and run, if any
# is missing. Needs root (or sudo).
set -euo pipefail

# libprimesieve hands out the primes beyond 2^48; libboinc-app-dev builds the
# BOINC mode, whose end-to-end test runs the real boinc-client. The window's
# tests under a real X server need Xvfb (with xauth), a tray host (trayer),
# xdotool to click its icon and a session bus (dbus-daemon) for the
# notifications; the install test checks the desktop entry with
# desktop-file-validate, the AppStream file with appstream, packages with
# dpkg-dev and checks them with lintian; qemu-user runs the program on
# emulated processors without AVX-512 or AVX2; ccache keeps compiled objects
# between builds (CI's clean clones rebuild in a fraction of the time).
# The OpenCL search builds against opencl-headers and opens the ICD loader
# (ocl-icd-opencl-dev) at run time; its tests run on PoCL (pocl-opencl-icd),
# an OpenCL device on the processor; clinfo shows what the loader finds.
packages=(g++ cmake make python3 qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev libprimesieve-dev fonts-dejavu-core
          opencl-headers ocl-icd-opencl-dev pocl-opencl-icd clinfo
          libboinc-app-dev boinc-client
          xvfb xauth trayer xdotool dbus-daemon desktop-file-utils dpkg-dev lintian appstream man-db qemu-user ccache)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
