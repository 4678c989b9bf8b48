# bash completion for korvane-fw
_korvane_fw() {
  local cur prev words cword
  _init_completion || return
  local global="--simulate --replay --trace --save-state --device --json --verbose --help"
  global+=" --version --list-scenarios"
  case $prev in
    --trace | --save-state | --replay | --output | -o | --image)
      _filedir
      return
      ;;
    --simulate)
      # The built-in scenarios as the program being completed names them, and scenario files.
      COMPREPLY=($(compgen -W "$("$1" --list-scenarios 2>/dev/null)" -- "$cur"))
      _filedir json
      return
      ;;
    --device)
      # Device nodes by name only: completing must not send a command to any disk.
      COMPREPLY=($(compgen -f -- "${cur:-/dev/sg}"))
      return
      ;;
  esac
  local command="" word
  for word in "${words[@]:1:cword-1}"; do
    case $word in list | check | update | backup | verify | inspect | report | history) command=$word ;; esac
  done
  case $command in
    update)
      local file="--image --allow-older --allow-reinstall --force --restore-nvram"
      local replug="--replug --no-replug --replug-wait"
      COMPREPLY=($(compgen -W "--yes --wait --no-backup $file $replug $global" -- "$cur"))
      ;;
    backup) COMPREPLY=($(compgen -W "--output --wait $global" -- "$cur")) ;;
    report) COMPREPLY=($(compgen -W "--update --yes --output $global" -- "$cur")) ;;
    check) COMPREPLY=($(compgen -W "--wait $global" -- "$cur")) ;;
    list) COMPREPLY=($(compgen -W "$global" -- "$cur")) ;;
    history) COMPREPLY=($(compgen -W "--json --help" -- "$cur")) ;;
    verify | inspect)
      # The firmware file, or an option where the word begins with a dash.
      if [[ $cur == -* ]]; then
        local options="--json --help"
        [ "$command" = verify ] && options="--wait $global"
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
      else
        _filedir
      fi
      ;;
    *)
      local commands="list check update backup verify inspect report history"
      COMPREPLY=($(compgen -W "$commands $global" -- "$cur"))
      ;;
  esac
}
complete -F _korvane_fw korvane-fw
