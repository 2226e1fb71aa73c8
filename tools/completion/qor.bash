# bash completion for qor and qor-mkdict: commands, their options, directories for the
# directory options, region codes of the dictionary set for --region, files elsewhere.
# Installed as share/bash-completion/completions/qor and qor-mkdict; or source this file.

_qor_words() {
  local set="--dir --dir2 --corrections" format="--json --tsv"
  case $1 in
    "") echo "number name regions install inspect check serve help --help --version" ;;
    number) echo "$set $format --limit --help" ;;
    name) echo "--region --address1 --address2 --kind $set $format --limit --help" ;;
    regions) echo "$set $format --help" ;;
    install) echo "--from --to --help" ;;
    inspect) echo "--entries --help" ;;
    check) echo "-q --quiet --help" ;;
    serve) echo "$set --listen --threads --request-timeout --quiet --help --version" ;;
    help) echo "number name regions install inspect check serve" ;;
  esac
}

_qor() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" word i dir=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $command && $word != -* ]]; then
      command=$word
    elif [[ $word == --dir ]]; then
      dir=(--dir "${COMP_WORDS[i + 1]}")
    fi
  done
  COMPREPLY=()
  case $prev in
    --dir|--dir2|--corrections|--from|--to)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
    --kind) mapfile -t COMPREPLY < <(compgen -W "1 2 3" -- "$cur"); return ;;
    --region)
      mapfile -t COMPREPLY < <(compgen -W "$("${COMP_WORDS[0]}" regions --tsv "${dir[@]}" \
        2>/dev/null | tail -n +2 | cut -f1)" -- "$cur")
      return ;;
    --limit|--address1|--address2) return ;;
  esac
  if [[ -z $command || $cur == -* || $command == help ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_qor_words "$command")" -- "$cur")
  elif [[ $command == inspect || $command == check ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

_qor_mkdict() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    --area-codes|--extended-area-codes) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
    --number|--edition1|--edition2|--block-bytes|--jobs) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "--number --correction --edition1 --edition2 \
      --area-codes --extended-area-codes --block-bytes --split --jobs --help --version" \
      -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

complete -F _qor qor
complete -F _qor_mkdict qor-mkdict
