#!/usr/bin/env bash
# Runs one golden command-line case: a folder holding
#   cmd              the arguments, as shell words (argv[0] is always "cvnconv")
#   env              optional VAR=value lines exported for the run
#   expected_rc      the exit status
#   expected_stdout  standard output (absent: must be empty)
#   expected_stderr  standard error (absent: must be empty)
#   expected_files/  files the run must leave, byte for byte
# Every other file or folder of the case is an input, copied into a fresh working directory.
set -u
case_dir=$(cd "$1" && pwd)
bin=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for f in "$case_dir"/* "$case_dir"/.[!.]*; do
  [ -e "$f" ] || continue
  case $(basename "$f") in
    cmd|env|expected_rc|expected_stdout|expected_stderr|expected_files) ;;
    *) cp -R "$f" "$work"/ ;;
  esac
done

(
  cd "$work" || exit 99
  if [ -f "$case_dir/env" ]; then set -a; . "$case_dir/env"; set +a; fi
  eval "exec -a cvnconv \"\$bin\" $(cat "$case_dir/cmd")" >"$work/.stdout" 2>"$work/.stderr" </dev/null
)
rc=$?

status=0
expected_rc=$(cat "$case_dir/expected_rc")
if [ "$rc" != "$expected_rc" ]; then
  echo "exit status: expected $expected_rc, got $rc"
  status=1
fi
for stream in stdout stderr; do
  expected="$case_dir/expected_$stream"
  [ -f "$expected" ] || expected=/dev/null
  if ! cmp -s "$expected" "$work/.$stream"; then
    echo "$stream differs (expected, then actual):"
    diff -u "$expected" "$work/.$stream" | head -60
    status=1
  fi
done
if [ -d "$case_dir/expected_files" ]; then
  while IFS= read -r -d '' f; do
    rel=${f#"$case_dir/expected_files/"}
    if [ ! -f "$work/$rel" ]; then
      echo "missing output file: $rel"
      status=1
    elif ! cmp -s "$f" "$work/$rel"; then
      echo "output file $rel differs (expected, then actual):"
      diff -u "$f" "$work/$rel" | head -60
      status=1
    fi
  done < <(find "$case_dir/expected_files" -type f -print0)
fi
exit $status
