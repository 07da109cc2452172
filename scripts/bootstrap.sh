#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Quick and silent when everything is there already.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6core6 libqt6widgets6 libqt6test6 libqt6dbus6
    qt6-qpa-plugins libgl-dev
    nettle-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    dnsmasq-base rbldnsd
    clang-14 libclang-rt-14-dev
    wamerican python3
    xvfb xauth
    dpkg-dev file desktop-file-utils appstream lintian man-db
    systemd nftables iptables ipset
)

missing=()
for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
