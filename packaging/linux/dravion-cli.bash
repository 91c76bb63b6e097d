# bash completion for dravion-cli. The program names the words that may follow the ones typed so
# far (dravion-cli --complete WORDS...), from the same tables its command line is read with.
_dravion_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} IFS=$'\n' words
  # "units=" is one word here, whatever COMP_WORDBREAKS says.
  if [[ $cur == "=" || ${COMP_WORDS[COMP_CWORD - 1]} == "=" ]]; then
    return 0
  fi
  words=$("${COMP_WORDS[0]}" --complete "${COMP_WORDS[@]:1:COMP_CWORD-1}" 2>/dev/null) || return 0
  if [[ $words == "@file" ]]; then
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
    return 0
  fi
  COMPREPLY=($(compgen -W "$words" -- "$cur"))
  if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]]; then
    compopt -o nospace 2>/dev/null
  fi
}
complete -F _dravion_cli dravion-cli
