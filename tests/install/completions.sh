#!/usr/bin/env bash
# vnkestrix-cli's generated completions driven in the real shells: bash
# through the bash-completion framework with the words split as readline
# splits them, zsh through its completion system in a pseudo-terminal, fish
# through `complete -C`. Each shell prints, per row of completion_cases.txt,
# its candidates as WORD<tab>DESCRIPTION lines and then @@ROW.
#   completions.sh COMPLETIONS_DIR
. "$(dirname "$0")/../support/suite.sh"
need zsh fish
framework=/usr/share/bash-completion/bash_completion
[ -f $framework ] || { echo "SKIP: no bash-completion (scripts/install-deps.sh --tests)"; exit 77; }
dir=$1
# The rows as SHELLS|TYPED|CANDIDATES|DESCRIPTION, TYPED with its trailing space.
mapfile -t rows < <(sed '/^#/d; s/ | /|/g' "$(dirname "$0")/completion_cases.txt")
typed_for() { for row in "${rows[@]}"; do [[ ${row%%|*} =~ all|$1 ]] && cut -d'|' -f2 <<<"$row"; done; }

bash_offers() {
  bash --norc --noprofile -c '. "$1" && . "$2" && shift 2 || exit 1
    for typed; do
      read -ra COMP_WORDS <<<"$(sed -E "s/([=:]+)/ \1 /g" <<<"$typed")"
      [[ $typed == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$typed COMP_POINT=${#typed} COMPREPLY=()
      _vnkestrix_cli vnkestrix-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}" 2>/dev/null
      token=${typed##* }; token=${token%"${token##*[=:]}"}  # what bash does not replace
      for reply in "${COMPREPLY[@]}"; do printf "%s\n" "$token${reply% }"; done
      echo @@ROW
    done' - $framework "$dir/vnkestrix-cli.bash" "$@"
}
zsh_offers() {
  mkdir -p "$work/zsh/functions" && cp "$dir/_vnkestrix-cli.zsh" "$work/zsh/functions/_vnkestrix-cli"
  # compadd records what the completion adds, with its description, and adds nothing.
  cat >"$work/zsh/.zshrc" <<ZSHRC
fpath=($work/zsh/functions \$fpath); autoload -U compinit; compinit -u -D; PS1='READY> ' COLUMNS=500
compadd() {
  (( \${argv[(I)-[OAD]]} )) && { builtin compadd "\$@"; return; }
  local -a hits shown; local -A o; local i=\${argv[(i)-d]}
  (( i < \$#argv )) && shown=("\${(@P)argv[i+1]}")
  builtin compadd -A hits -D shown "\$@"
  zparseopts -E -A o P: p: S: s: J: V: X: x: d: M: F: r: R: W: E: o:
  for (( i = 1; i <= \$#hits; i++ )); do
    [[ \$shown[i] == *' -- '* ]] && shown[i]=\$'\\t'\${shown[i]#* -- } || shown[i]=
    print -r -- "\$IPREFIX\$o[-P]\$o[-p]\$hits[i]\$o[-s]\$o[-S]\$shown[i]" >>$work/zsh/out
  done
}
ZSHRC
  local typed keys=
  for typed; do keys+="$typed"$'\t\x15'"echo @@ROW >>$work/zsh/out"$'\n'; done
  ZDOTDIR=$work/zsh zsh -fc 'zmodload zsh/zpty && zpty z zsh -d -i && zpty -r z line "*READY> *" && zpty -w -n z "$1exit"$'"'\n'"' &&
    while zpty -r z line; do :; done' - "$keys"
  cat "$work/zsh/out"
}
fish_offers() {
  fish --no-config -c 'source $argv[1]; for typed in $argv[2..-1]; complete -C $typed; echo @@ROW; end' \
    "$dir/vnkestrix-cli.fish" "$@"
}

failed=0
for shell in bash zsh fish; do
  mapfile -t typed < <(typed_for $shell)
  "${shell}_offers" "${typed[@]}" >"$work/$shell.out" || fail "$shell did not run the completion"
  n=0
  for row in "${rows[@]}"; do
    IFS='|' read -r which line expected described <<<"$row"
    [[ $which =~ all|$shell ]] || continue
    got=$(awk -v n=$n '/^@@ROW$/ { r++; next } r == n' "$work/$shell.out") n=$((n + 1))
    want=$(tr ' ' '\n' <<<"$expected" | grep -v '^-\?$' | sort -u)
    [ "$(cut -f1 <<<"$got" | grep -v '^$' | sort -u)" = "$want" ] || {
      echo "FAIL: $shell: $line: offers [$(cut -f1 <<<"$got" | tr '\n' ' ')], expected [$expected]" >&2; failed=1; continue; }
    [ -z "$described" ] || [ "$(cut -f2 <<<"$got")" = "$described" ] ||
      { echo "FAIL: $shell: $line: described as [$(cut -f2 <<<"$got")], expected [$described]" >&2; failed=1; }
  done
done
[ $failed = 0 ] || exit 1
echo "PASS: ${#rows[@]} rows"
