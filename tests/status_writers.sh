#!/usr/bin/env bash
# The status file has one writer: the run's journal (run/status_journal),
# over the data room's writers. No other folder calls those writers or
# makes a record's text. Usage: status_writers.sh SOURCE_DIR
set -euo pipefail
cd "$1"
writers='repair_status_file|keep_completed_results|delete_status_file|write_range_header|append_resume_point|write_stop_record|append_done|write_done_initial|append_status_text|restore_status_file|checkpoint_line|digest_line|append_whole|replace_whole'
hits=$(find . -path ./tests -prune -o -path ./run -prune -o -path ./data -prune -o -path './build*' -prune -o \
  \( -name '*.cpp' -o -name '*.h' \) -print | xargs grep -HnwE "($writers)" | grep -v ":#include " || true)
if [ -n "$hits" ]; then
  echo "the status file is written only through run/status_journal.h:"
  echo "$hits"
  exit 1
fi
echo "only run/ and data/ write the status file"
