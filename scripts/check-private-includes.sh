#!/usr/bin/env bash
# Fails when a layer above the core includes one of the core's private headers (those of
# core/pdfium/ or any carrying the QUORVEL_CORE_PRIVATE guard), or when the desktop includes
# qpdf or PCRE2, which only the core links.
set -u
src=${1:-.}
cd "$src" || exit 2
private=$(grep -rl --include='*.h' '^#ifndef QUORVEL_CORE_PRIVATE' core | sed 's/[.]/[.]/g' | paste -sd'|')
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](core/pdfium/'${private:+"|$private"}')'
bad=0
if grep -rnE --include='*.h' --include='*.cpp' "$pattern" desktop tools scanner; then
  echo "private core header included above the core (use core/engine.h and the public headers)"
  bad=1
fi
if grep -rnE --include='*.h' --include='*.cpp' \
    '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](qpdf/|pcre2[.]h)' desktop; then
  echo "the desktop reaches qpdf or PCRE2 only through the core"
  bad=1
fi
exit $bad
