#!/usr/bin/env bash
# The Ansible collection, built and installed with ansible-galaxy, driven by
# ansible-playbook against localhost over the simulator's drop-in library:
# the cases of ansible_cases.txt, whose header says how to read them.
#   ansible.sh BUILD_DIR
. "$(dirname "$0")/../support/suite.sh"
need ansible-galaxy ansible-playbook
build=$(realpath "$1") here=$(realpath "$(dirname "$0")") collection=$(realpath "$here/../../integrations/ansible")
export ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_NOCOLOR=1
export ANSIBLE_PYTHON_INTERPRETER=$(command -v python3) ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0
ansible-galaxy collection build "$collection" --output-path "$work" >"$work/galaxy" 2>&1 &&
  ansible-galaxy collection install "$work"/vantrel-vnkestrix-*.tar.gz -p "$work/collections" >>"$work/galaxy" 2>&1 ||
  fail "the collection does not build or install: $(cat "$work/galaxy")"
export PATH=$build/cli:$PATH LD_LIBRARY_PATH=$build/sim-dropin

case_name="" out="" dir="" cases=0
# check MESSAGE COMMAND...: the case fails with MESSAGE unless COMMAND succeeds.
check() { "${@:2}" || fail "$case_name: $1"$'\n'"$out"; }
while IFS= read -r step; do
  [[ $step = "#"* || -z $step ]] && continue
  word=${step%% *} rest=${step#* }
  case $word in
  ==)
    case_name=$rest dir=$work/case$((++cases))
    mkdir -p "$dir"
    export REDI_SIM_STATE=$dir/board.state REDI_SIM_SECOND_STATE=$dir/second.state
    export REDI_SIM_LOG=$dir/board.log VNKESTRIX_REGISTRY=$dir/registry VNKESTRIX_GUARDD_STATUS=$dir/none ;;
  play)
    read -r code args <<<"$rest"
    vars=${args#*\{} vars="{$vars" args=${args%%\{*}
    : >"$REDI_SIM_LOG"
    read -ra words <<<"$args"
    settings=() flags=()
    for w in "${words[@]}"; do [[ $w = --* ]] && flags+=("$w") || settings+=("$w"); done
    out=$(env "${settings[@]}" ansible-playbook "${flags[@]}" -i localhost, "$collection/tests/playbooks/fleet.yml" -e "$vars" 2>&1)
    rc=$?
    check "exit code $rc instead of $code: $step" [ $rc = "$code" ] ;;
  out | not)
    IFS='|' read -ra parts <<<"$rest"
    for part in "${parts[@]}"; do check "$step" [ "$(grep -qF -- "$part" <<<"$out" && echo out || echo not)" = "$word" ]; done ;;
  writes) writes=$(grep -c ' get=0 ok ' "$REDI_SIM_LOG"); check "$step: $writes writes" [ "$writes" = "$rest" ] ;;
  holds) check "$step" grep -qxF -- "${rest#* }" "$dir/${rest%% *}.state" ;;
  guard) table=$(vnkestrix-cli guard get); check "$step: $table" grep -qxF -- "$rest" <<<"$table" ;;
  *) fail "unknown step: $step" ;;
  esac
done <"$here/ansible_cases.txt"
echo "PASS: $cases cases"
