#!/usr/bin/env bash
# Installs every Debian package that building, running and testing ZEL needs. Idempotent and quiet
# when everything is already there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  libgl-dev libxkbcommon-dev
  libsqlite3-dev sqlite3 libpq-dev zlib1g-dev libdeflate-dev libssl-dev libcurl4-openssl-dev
  shared-mime-info
  libgtest-dev
  postgresql postgresql-contrib
  libgumbo-dev openssl python3 dovecot-pop3d
  python3-aiosmtpd dnsmasq-base swaks
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
