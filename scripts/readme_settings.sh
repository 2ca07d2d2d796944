#!/usr/bin/env bash
# Brings the README's list of setting names up to date from the catalogue,
# as `ternctl describe` prints it (the help and the man page show the same list).
#   bash scripts/readme_settings.sh [path/to/ternctl]
set -euo pipefail
cd "$(dirname "$0")/.."
ternctl=${1:-build/ternctl}
list=$("$ternctl" describe | sed -n '/^Settings (NAME=VALUE/,$p')
python3 - "$list" <<'PY'
import re, sys
block = "```text\n" + sys.argv[1].rstrip("\n") + "\n```"
readme = open("README.md").read()
new = re.sub(r"<!-- settings -->\n```text\n.*?```", lambda m: "<!-- settings -->\n" + block, readme, flags=re.S)
open("README.md", "w").write(new)
PY
