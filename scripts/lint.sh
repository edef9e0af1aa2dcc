#!/usr/bin/env bash
# Runs the project's clang-tidy checks (.clang-tidy) over the library, the platform and the tool.
# clang does not know GCC's -fexec-charset=GB18030, which only changes how string literals are
# stored, so the compile commands are given to clang-tidy without it.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
tidy_dir="$build/tidy"
mkdir -p "$tidy_dir"
sed -e 's/ -fexec-charset=GB18030//g' "$build/compile_commands.json" > "$tidy_dir/compile_commands.json"
# The boundary probes under cmake/ are meant not to compile; platform/windows is built by mingw only.
files=$(cd "$root" && git ls-files '*.cpp' | grep -v -E '^(tests|bench|examples|cmake|platform/windows)/' |
    sed "s|^|$root/|")
run-clang-tidy -quiet -p "$tidy_dir" -j "$(nproc)" $files
