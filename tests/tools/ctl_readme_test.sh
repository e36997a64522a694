#!/bin/bash
# Runs the README's Python example (its Scripting section) against the simulator.
# Usage: ctl_readme_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
command -v python3 >/dev/null || exit 77
work=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The first ```python block after "## Scripting".
awk '/^## Scripting/{s=1} s&&/^```python/{p=1;next} p&&/^```/{exit} p' \
    "$source/README.md" >"$work/example.py"
[[ -s $work/example.py ]] || { echo "no Python example in README.md" >&2; exit 1; }

"$build/tools/qtr290-sim" --poll-interval 100 --duration 60 --quiet >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do
    [[ -s $work/sim.out ]] && break
    sleep 0.1
done
device=$(head -n1 "$work/sim.out")
export QTR290_SETTINGS=$work/nastaveni.ini
PATH=$build/tools:$PATH python3 "$work/example.py" "$device" | tee "$work/output.txt"

# The write was answered, the read back carries the written bytes, and the third read too.
grep -q '^write FRAM290 157 -> reply A6 F0 00 9C ' "$work/output.txt"
grep -q '^read FRAM290 157 -> reply A6 F0 00 1B 06 .* 57 01 00 12 34 ' "$work/output.txt"
grep -q '^read RAM290 0 -> reply ' "$work/output.txt"
[[ $(wc -l <"$work/output.txt") -eq 3 ]]
