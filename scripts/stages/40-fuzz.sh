# libFuzzer targets (clang, address and undefined-behaviour sanitizers): every tests/fuzz/*_fuzz.cpp,
# each run for a bounded time on a scratch copy of its seed corpus. Any crash fails the stage; the
# input that caused it is kept under build/fuzz/artifacts/.
set -euo pipefail
cd "$QLX_ROOT"
seconds=${QLX_FUZZ_SECONDS:-20}
start=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$QLX_JOBS"
echo "--- fuzz: configured and built in $(( $(date +%s) - start )) s"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$QLX_ROOT/build/fuzz/artifacts"
mkdir -p "$artifacts"

mapfile -t targets < <(find build/fuzz/tests -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets were built" >&2
  exit 1
fi
summary=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [ -d "tests/fuzz/corpus/$name" ]; then
    cp -r "tests/fuzz/corpus/$name/." "$corpus/"
  fi
  log="$scratch/$name.log"
  echo "--- $name: ${seconds} s on $(find "$corpus" -type f | wc -l) seed inputs"
  # Standard output is closed: product code prints there and would drown the fuzzer's report.
  if ! "$target" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name: FAILED (inputs kept in $artifacts)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  line=$(printf '%-28s %12s executions  %8s exec/s' "$name" "$runs" "$rate")
  echo "$line"
  summary+=("$line")
done
echo "--- fuzz summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
