#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus/TARGET/ from make_corpus.cpp
# (synthetic clouds, windows and matrices; files written by the host
# writers). Inputs of past findings (regress-*) are kept as they are.
#
# Usage: fuzz/make_corpus.sh    (from anywhere; builds in build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
source fuzz/fuzz_common.sh
build_fuzzers make_corpus
find fuzz/corpus -type f ! -name 'regress-*' -delete 2>/dev/null || true
build-fuzz/make_corpus fuzz/corpus
echo "seeds written to fuzz/corpus ($(find fuzz/corpus -type f | wc -l) files, $(du -sh fuzz/corpus | cut -f1))"
