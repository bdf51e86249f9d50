#!/usr/bin/env bash
# The AppStream metadata passes appstreamcli, and its newest release is the version that the
# build and the Debian changelog carry.
#   metainfo_valid.sh METAINFO CHANGELOG VERSION        exit 77 (skipped) without appstreamcli
set -euo pipefail
metainfo=$1 changelog=$2 version=$3
released=$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
logged=$(head -n1 "$changelog" | sed -n 's/^[^ ]* (\([^)]*\)).*/\1/p')
[ "$released" = "$version" ] || { echo "metainfo release '$released', build $version"; exit 1; }
[ "$logged" = "$version" ] || { echo "changelog version '$logged', build $version"; exit 1; }
command -v appstreamcli >/dev/null || { echo "appstreamcli is not installed"; exit 77; }
appstreamcli validate --no-net --explain "$metainfo"
