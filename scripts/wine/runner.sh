# The Wine run's step runner, sourced by scripts/wine-tests.sh: named steps,
# each a function that returns 0 when it passed; inside one, `failed WHY`
# counts a failure and goes on, `skipped WHY; return` gives up for want of a
# tool or an earlier step. `finish` prints one table (step, pass/fail/
# skipped, why) and fails when any step failed, whatever was skipped after.

say() { echo "wine-tests: [$(date +%T)] $*"; }

failures=0
table=()
why=""
step_failed=0
failed() {
  say "FAILED: $*"
  why+="${why:+; }$*"
  step_failed=1
}
skipped() {
  say "SKIPPED: $*"
  why+="${why:+; }$*"
  return 77
}
step() {
  local name=$1 status=pass rc
  shift
  why=""
  step_failed=0
  # WINE_STEPS="prefix display window-tests" runs only those (while working
  # on one step; the builds then stay as they are).
  if [[ -n "${WINE_STEPS:-}" && " $WINE_STEPS " != *" $name "* ]]; then
    table+=("$name|skipped|not in WINE_STEPS")
    return
  fi
  say "---- $name"
  "$@"
  rc=$?
  if [[ $step_failed -ne 0 || ($rc -ne 0 && $rc -ne 77) ]]; then
    status=fail
    [[ -n "$why" ]] || why="status $rc"
    failures=$((failures + 1))
  elif [[ $rc -eq 77 ]]; then
    status=skipped
  fi
  table+=("$name|$status|$why")
}

finish() {
  echo
  printf '%-14s %-8s %s\n' step result why
  for row in "${table[@]}"; do
    IFS='|' read -r name status reason <<<"$row"
    printf '%-14s %-8s %s\n' "$name" "$status" "$reason"
  done
  echo
  if [[ $failures -ne 0 ]]; then
    say "$failures step(s) failed"
    exit 1
  fi
  say "no step failed"
}
