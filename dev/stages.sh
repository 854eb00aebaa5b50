# The stage runner, sourced by dev/test.sh. `stage NAME COMMAND...` runs one stage, announced
# and timed, and records its outcome for the table that `summary` prints (its status: 1 when a
# stage failed). `missing NAME REASON` records a stage that could not run here; it counts as
# failed, since the whole suite is what CI runs. A new stage is one `stage` line.
suite_start=$SECONDS
names=() results=() times=()
note() { printf '[test %4ds] %s\n' $((SECONDS - suite_start)) "$*"; }
fmt_secs() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
stage() {
  local name=$1 t0=$SECONDS rc
  shift
  echo
  note "=== stage $name: $*"
  "$@"
  rc=$?
  local took=$((SECONDS - t0)) result=passed
  [ $rc -eq 0 ] || result="FAILED (exit $rc)"
  note "=== stage $name $result in $(fmt_secs $took)"
  names+=("$name") results+=("$result") times+=("$(fmt_secs $took)")
  return 0
}
missing() {
  echo
  note "=== stage $1 cannot run: $2" >&2
  names+=("$1") results+=("MISSING: $2") times+=("-")
}
_joined() { local out="" x; for x in "$@"; do out+="${out:+, }$x"; done; echo "$out"; }
summary() {
  local i ok=() bad=()
  echo
  echo "stage              result                                      time"
  echo "-----------------  ------------------------------------------  --------"
  for i in "${!names[@]}"; do
    printf '%-17s  %-42s  %8s\n' "${names[$i]}" "${results[$i]}" "${times[$i]}"
    if [ "${results[$i]}" = passed ]; then ok+=("${names[$i]}"); else bad+=("${names[$i]}"); fi
  done
  echo "total: $(fmt_secs $((SECONDS - suite_start)))"
  if [ ${#bad[@]} -ne 0 ]; then
    echo "FAILED stages: $(_joined "${bad[@]}")" >&2
    return 1
  fi
  echo "all stages passed: $(_joined ${ok[@]+"${ok[@]}"})"
}
