# bash completion for korvane-fw
_korvane_fw() {
  local cur prev words cword
  _init_completion || return
  local global="--simulate --replay --trace --save-state --json --verbose --help --version"
  case $prev in
    --trace | --save-state | --replay | --output | -o | --image)
      _filedir
      return
      ;;
    --simulate)
      # Built-in scenarios are named in korvane-fw's message for an unknown one; files complete.
      _filedir json
      return
      ;;
  esac
  local command="" word
  for word in "${words[@]:1:cword-1}"; do
    case $word in list | check | update | backup | report | history) command=$word ;; esac
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
    *) COMPREPLY=($(compgen -W "list check update backup report history $global" -- "$cur")) ;;
  esac
}
complete -F _korvane_fw korvane-fw
