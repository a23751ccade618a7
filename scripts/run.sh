#!/usr/bin/env bash
# Quick start: install what is missing, build, and start ZEL on its default knowledge base.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/zel "$@"
