#!/usr/bin/env bash
# Runs the checks of .clang-tidy over the own sources of the given folders
# (libraries, programs, tools) with a build's compile_commands.json, several
# files at a time; exits 0 only when no check finds anything (.clang-tidy
# makes every finding an error). The build must have run: the Qt sources
# include files that AUTOMOC makes.
#   tests/tidy/run-tidy.sh BUILD_DIR FOLDER...
# KESTREL_TIDY_JOBS sets how many files at a time (default: the processors).
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR FOLDER..." >&2
  exit 2
fi
build=$1
shift
source=$(cd "$(dirname "$0")/../.." && pwd)
folders=$(IFS='|'; echo "$*")
common=(-clang-tidy-binary clang-tidy-14 -p "$build" -j "${KESTREL_TIDY_JOBS:-$(nproc)}" -quiet
        # The compile commands are GCC's: no -Werror for clang's own warnings
        # (the build checks warnings), and no complaint about GCC-only options.
        -extra-arg=-Wno-error -extra-arg=-Wno-unknown-warning-option)

status=0
# qpdf's headers do not compile as C++20 with clang 14 (tests/fuzz says the
# same): the PDF writer is read as the C++17 it needs.
run-clang-tidy-14 "${common[@]}" "^$source/(?!convert/fax_pdf\.cpp\$)($folders)/" || status=1
if [[ "|$folders|" == *"|convert|"* ]]; then
  run-clang-tidy-14 "${common[@]}" -extra-arg=-std=c++17 "^$source/convert/fax_pdf\.cpp\$" || status=1
fi
exit $status
