#!/bin/sh
# Installs the Debian packages that building, testing and the demo need, and
# only those that are missing. Safe to run again: with everything installed
# it does nothing and touches no network.
set -eu

# Build and test tools; ccache keeps objects between builds (scripts/test.sh).
packages="cmake make gcc g++ clang libclang-rt-14-dev binutils pkg-config ccache libgtest-dev libgmock-dev libbenchmark-dev iproute2 util-linux man-db groff-base abigail-tools dpkg-dev file python3 python3-pip python3-pytest valgrind"
# The gateway: MQTT (the broker and its clients for the tests), JSON and TOML
# configuration, protobuf payloads, Prometheus metrics, systemd notification,
# and a browser for the web page's test.
packages="$packages mosquitto mosquitto-clients libmosquitto-dev nlohmann-json3-dev libtomlplusplus-dev libprotobuf-dev protobuf-compiler prometheus-cpp-dev libsystemd-dev libcivetweb-dev openssl chromium chromium-driver"

# One query for all of them: the installed ones, by name.
# shellcheck disable=SC2086 # one word per package
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' $packages 2>/dev/null |
  awk '$NF == "installed" { printf "%s ", $1 }')"
missing=""
for p in $packages; do
  case "$installed" in
    *" $p "*) ;;
    *) missing="$missing $p" ;;
  esac
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-deps: missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "setup-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update
# shellcheck disable=SC2086 # one word per package
apt-get install -y --no-install-recommends $missing
