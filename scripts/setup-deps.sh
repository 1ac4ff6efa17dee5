#!/bin/sh
# Installs the Debian packages that building, testing and the demo need, and
# only those that are missing. Safe to run again: with everything installed
# it does nothing and touches no network.
set -eu

packages="cmake make gcc g++ clang libclang-rt-14-dev binutils pkg-config libgtest-dev libgmock-dev libbenchmark-dev iproute2 util-linux man-db groff-base abigail-tools dpkg-dev file python3 python3-pip python3-pytest valgrind"
# wexo-gateway and its tests (a real broker, TLS certificates made by openssl).
packages="$packages libmosquitto-dev mosquitto mosquitto-clients nlohmann-json3-dev libtomlplusplus-dev libprotobuf-dev protobuf-compiler prometheus-cpp-dev libsystemd-dev openssl"

missing=""
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *" installed") ;;
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
