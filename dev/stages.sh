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
# A second lane, for a machine with two cores: `lane_stage NAME COMMAND...` queues a stage
# that runs after the lane's earlier ones, beside the main sequence, its output kept in
# build/test/lane/NAME.log; `lane_start` starts the queue and `lane_join` waits for it,
# prints each stage's output and records it like `stage` does.
lane_dir=${lane_dir:-$PWD/build/test/lane}
lane_names=() lane_cmds=() lane_pid=""
lane_stage() { local name=$1; shift; lane_names+=("$name"); lane_cmds+=("$(printf '%q ' "$@")"); }
lane_start() {
  [ ${#lane_names[@]} -eq 0 ] && return 0
  rm -rf "$lane_dir"
  mkdir -p "$lane_dir"
  note "=== lane beside the main stages: ${lane_names[*]} (output at the end)"
  (
    for i in "${!lane_names[@]}"; do
      t0=$SECONDS
      eval "${lane_cmds[$i]}" >"$lane_dir/${lane_names[$i]}.log" 2>&1 </dev/null
      echo "$? $((SECONDS - t0))" >"$lane_dir/${lane_names[$i]}.rc"
    done
  ) &
  lane_pid=$!
}
lane_join() {
  [ -n "$lane_pid" ] || return 0
  note "waiting for the lane: ${lane_names[*]}"
  wait "$lane_pid"
  local i name rc took result
  for i in "${!lane_names[@]}"; do
    name=${lane_names[$i]}
    echo
    note "=== stage $name (lane): ${lane_cmds[$i]}"
    cat "$lane_dir/$name.log" 2>/dev/null
    read -r rc took <"$lane_dir/$name.rc" 2>/dev/null || { rc=1 took=0; }
    result=passed
    [ "$rc" -eq 0 ] || result="FAILED (exit $rc)"
    note "=== stage $name $result in $(fmt_secs "$took")"
    names+=("$name") results+=("$result") times+=("$(fmt_secs "$took") (lane)")
  done
  lane_pid=""
}
_joined() { local out="" x; for x in "$@"; do out+="${out:+, }$x"; done; echo "$out"; }
summary() {
  local i ok=() bad=()
  echo
  printf '%-17s  %-42s  %15s\n' stage result time
  printf '%-17s  %-42s  %15s\n' "$(printf -- '-%.0s' {1..17})" "$(printf -- '-%.0s' {1..42})" \
    "$(printf -- '-%.0s' {1..15})"
  for i in "${!names[@]}"; do
    printf '%-17s  %-42s  %15s\n' "${names[$i]}" "${results[$i]}" "${times[$i]}"
    if [ "${results[$i]}" = passed ]; then ok+=("${names[$i]}"); else bad+=("${names[$i]}"); fi
  done
  echo "total: $(fmt_secs $((SECONDS - suite_start)))"
  if [ ${#bad[@]} -ne 0 ]; then
    echo "FAILED stages: $(_joined "${bad[@]}")" >&2
    return 1
  fi
  echo "all stages passed: $(_joined ${ok[@]+"${ok[@]}"})"
}
