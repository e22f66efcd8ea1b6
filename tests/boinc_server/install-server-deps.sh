#!/usr/bin/env bash
# Installs what the real-server test needs beyond scripts/install-deps.sh:
# the tools and libraries that build BOINC's server from source, and the
# database, web server and PHP/Python that a BOINC project runs on.
# Needs root (or sudo).
set -euo pipefail

# configure stops without nlohmann-json3-dev; make stops in zip/ without
# libzip-dev. BOINC's Python tools start with "#!/usr/bin/env python".
packages=(autoconf automake libtool pkg-config m4 make g++ libmariadb-dev libssl-dev libcurl4-openssl-dev
          nlohmann-json3-dev libzip-dev
          mariadb-server apache2 libapache2-mod-php php-mysql php-xml php-gd php-cli
          python3-mysqldb python-is-python3 boinc-client procps xz-utils)

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
