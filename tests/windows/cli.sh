#!/usr/bin/env bash
# vnkestrix-cli.exe under Wine over the simulator's redi.dll, its store Wine's
# registry: the Linux CLI's cases (LINUX-CASES, tst_cli's table) that
# cli_cases.txt names, with the same exit codes, output and controller state,
# then cli_cases.txt's own. Logs in OUT.
#   cli.sh WINDOWS-BUILD-DIR OUT LINUX-CASES    (exit code 77: Wine or Qt for Windows is missing)
. "$(dirname "$0")/../support/suite.sh"
out=$2 linux_cases=$3 own_cases=$(dirname "$0")/cli_cases.txt
rm -rf "$out" && mkdir -p "$out"
unset DISPLAY WAYLAND_DISPLAY
. "$(dirname "$0")/wine_session.sh" "$1"
program_folder

# The steps to take, case by case: cli_cases.txt's own cases as they stand
# and, in the place of "reuse NAME", the Linux table's case NAME; without
# comments and blank lines.
steps() {
  awk 'FNR == NR { if (/^== /) name = $0; else if (/^[^#]/) linux[name] = linux[name] $0 "\n"; next }
       /^reuse / { name = "== " substr($0, 7); printf "%s\n%s", name, linux[name]; next }
       /^[^#]/' "$linux_cases" "$own_cases"
}
# The text of a step with \n and \t written out, and a "." after it that
# keeps trailing line breaks through $(...).
expanded() { local text=${1//\\n/$'\n'}; printf '%s.' "${text//\\t/$'\t'}"; }

# Runs the program with the words of $1: leading VAR=VALUE words for this
# run only, a last word <FILE its standard input. A refusal (exit code 2)
# sends nothing.
run() {
  local words vars=() input=/dev/null logged
  read -ra words <<<"$1"
  while [[ ${words[0]:-} =~ ^[A-Z_]+= ]]; do vars+=("${words[0]}") && words=("${words[@]:1}"); done
  [[ ${words[-1]:-} == '<'* ]] && input=${words[-1]#<} && unset 'words[-1]'
  logged=$(stat -c %s "$dir/board.log" 2>/dev/null || echo 0)
  env "${env[@]}" "${vars[@]}" "$wine" "$folder/vnkestrix-cli.exe" "${words[@]}" <"$input" >"$dir/stdout" 2>"$dir/stderr"
  code=$?
  tr -d '\r' <"$dir/stdout" >"$dir/stdout.txt" && tr -d '\r' <"$dir/stderr" >"$dir/stderr.txt"
  [ "$code" != 2 ] || [ "$(stat -c %s "$dir/board.log" 2>/dev/null || echo 0)" = "$logged" ] || failed "a refusal sent calls"
}
failed() { fail "[$name] $step: $*; stdout: $(cat "$dir/stdout.txt"); stderr: $(cat "$dir/stderr.txt")"; }

# Each case runs in a directory of its own, the registry without the guard
# key. In a step, DIR is that directory: as Windows names it where the
# program sees it, as Linux does where this script reads or writes it.
cases=0 dir="" windows_dir=""
while IFS= read -r step; do
  word=${step%% *} rest=${step#* }
  [[ $word =~ ^(file|holds)$ ]] && seen_dir=$dir || seen_dir=$windows_dir
  rest=$(expanded "${rest//DIR/$seen_dir}")
  rest=${rest%.}
  case $word in
    ==) name=$rest dir=$work/case-$((++cases))
      windows_dir=$(windows_path "$dir")
      mkdir -p "$dir" && : >"$dir/stdout.txt" && : >"$dir/stderr.txt"
      env=("REDI_SIM_STATE=$windows_dir/board.state" "REDI_SIM_LOG=$windows_dir/board.log")
      "$wine" reg delete "$guard_key" /f </dev/null >/dev/null 2>&1 ;;
    run) run "${rest#* }"; [ "$code" = "${rest%% *}" ] || failed "exit code $code" ;;
    out|not) IFS='|' read -ra parts <<<"$rest"
      for part in "${parts[@]}"; do
        [ "$(grep -qF -- "$part" "$dir/stdout.txt" "$dir/stderr.txt" && echo out || echo not)" = "$word" ] || failed "$word \"$part\""
      done ;;
    stdout) [ "$(cat "$dir/stdout.txt"; echo .)" = "$rest." ] || failed "other output" ;;
    json) python3 -c 'import json, sys; sys.exit(json.loads(sys.argv[1]) != json.load(open(sys.argv[2])))' \
            "$rest" "$dir/stdout.txt" || failed "other JSON" ;;
    holds) for line in ${rest#* }; do grep -qFx -- "$line" "$dir/${rest%% *}.state" || failed "no $line"; done ;;
    file) mkdir -p "$(dirname "$dir/${rest%% *}")" && printf '%s' "${rest#* }" >"$dir/${rest%% *}" ;;
    env) read -ra parts <<<"$rest" && env+=("${parts[@]}") ;;
    stored) guard_values >"$dir/stored"
      [ "$(grep -c '|4|' "$dir/stored")" = 20 ] && ! grep -v '|4|' "$dir/stored" || failed "not 20 REG_DWORDs"
      missing=$(tr ';' '\n' <<<"$rest" | awk -F= '{ printf "%s|4|%02X000000\n", $1, $2 }' | grep -vxF -f "$dir/stored")
      [ -z "$missing" ] || failed "no $missing in $(cat "$dir/stored")" ;;
    *) fail "[$name] a step this suite cannot take: $step" ;;
  esac
done < <(steps)
echo "PASS: $cases cases"
