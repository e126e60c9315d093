# bash completion for lumivex-cli: verbs, their options, --format and --code-page values, store
# and address-book files, folders for --out, and folder paths for --folder read from the store
# named on the line (lumivex-cli folders --json STORE).

# The word as the shell will pass it: without its opening quote and backslash escapes.
_lumivex_cli_unquote() {
  local word=$1
  case $word in
    \"*) word=${word#\"} ;;
    \'*) word=${word#\'} ;;
    *) word=$(printf '%s' "$word" | sed 's/\\\(.\)/\1/g') ;;
  esac
  printf '%s' "$word"
}

# Folder paths of the store $2 (the default store when empty), one a line, as `folders --json`
# gives them.
_lumivex_cli_folder_paths() {
  "$1" folders --json ${2:+-- "$2"} 2>/dev/null |
    grep -o '"path":"\([^"\\]\|\\.\)*"' |
    sed -e 's/^"path":"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}

# Sets COMPREPLY to the lines of $1 that begin with $2.
_lumivex_cli_matching_lines() {
  local line
  COMPREPLY=()
  while IFS= read -r line; do
    [[ -n $line && $line == "$2"* ]] && COMPREPLY+=("$line")
  done <<<"$1"
}

_lumivex_cli() {
  local program=${COMP_WORDS[0]} cword=$COMP_CWORD
  local cur=${COMP_WORDS[cword]} prev=${COMP_WORDS[cword - 1]}
  # "--format=v": the shell splits the word at "=".
  if [[ $cur == = ]]; then
    prev=${COMP_WORDS[cword - 1]}
    cur=
  elif [[ $prev == = && $cword -ge 2 ]]; then
    prev=${COMP_WORDS[cword - 2]}
  fi
  local verbs="folders scan export wab-dump send migrate"
  COMPREPLY=()

  if ((cword == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$verbs --help --version" -- "$cur")
    return
  fi
  local verb=${COMP_WORDS[1]}

  case $prev in
    --format)
      mapfile -t COMPREPLY < <(compgen -W "vcard vcards xls wab vcard4 vcard3 csv" -- "$cur")
      return ;;
    --to)
      # The fixed destinations, and vdir: folders.
      if [[ $cur == vdir:* ]]; then
        compopt -o filenames -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -P vdir: -- "${cur#vdir:}")
      else
        compopt -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -W "kde evolution vdir: https:// http://" -- "$cur")
      fi
      return ;;
    --password-file | --ca-file | --merge-report | --damage-report)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --user | --book | --new-book | --shard | --per-server | -j)
      return ;;
    --code-page)
      mapfile -t COMPREPLY < <(compgen -W "874 932 936 949 950 1250 1251 1252 1253 1254 1255
        1256 1257 1258" -- "$cur")
      return ;;
    --out)
      # vcard4, vcard3 and csv may write to a file; the other forms write into a folder.
      local i format=
      for ((i = 2; i < cword; i++)); do
        [[ ${COMP_WORDS[i]} == --format ]] || continue
        format=${COMP_WORDS[i + 1]}
        [[ $format == = ]] && format=${COMP_WORDS[i + 2]}
      done
      compopt -o filenames 2>/dev/null
      case $format in
        vcard4 | vcard3 | csv) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        *) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
      esac
      return ;;
    --folder | --exclude-folder)
      # The store is the first word after the verb that is neither an option nor its value.
      local i=2 word store=
      while ((i < cword)); do
        word=${COMP_WORDS[i]}
        case $word in
          --folder | --format | --out | --code-page | --to | --user | --password-file | \
            --ca-file | --book | --new-book | --exclude-folder | --merge-report | --damage-report)
            ((i += 1))
            [[ ${COMP_WORDS[i]} == = ]] && ((i += 1)) ;;
          -*) ;;
          *) store=$(_lumivex_cli_unquote "$word"); break ;;
        esac
        ((i += 1))
      done
      [[ $store == "~"/* ]] && store=$HOME/${store#"~/"}
      # Without a store on the line, the default store's folders are offered.
      compopt -o filenames 2>/dev/null
      _lumivex_cli_matching_lines "$(_lumivex_cli_folder_paths "$program" "$store")" \
        "$(_lumivex_cli_unquote "$cur")"
      return ;;
  esac

  if [[ $cur == -* ]]; then
    local options="--help"
    case $verb in
      folders) options="--json --help" ;;
      scan) options="--folder --check --json --help" ;;
      export) options="--format --out --folder --code-page --per-contact --all-folders
        --exclude-folder --no-merge --accept-suggestions --merge-report --dry-run --verbose
        --damage-report --help" ;;
      wab-dump) options="--json --help" ;;
      send) options="--to --user --password-file --ca-file --book --new-book --list-books
        --overwrite --dry-run --all-folders --folder --no-merge --accept-suggestions --verbose
        --damage-report --allow-new-uids --help" ;;
      migrate) options="--check --per-server --shard --again --report --overwrite --all-folders
        --folder --no-merge --accept-suggestions --allow-new-uids --ca-file --book --new-book
        --help" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi

  # Files: address books for wab-dump, Outlook data files for the others; folders to go into.
  local pattern='!*.[pPoO][sS][tT]'
  [[ $verb == wab-dump ]] && pattern='!*.[wW][aA][bB]'
  [[ $verb == migrate ]] && pattern='!*.[cC][sS][vV]'
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -X "$pattern" -- "$cur"; compgen -d -- "$cur")
}

complete -F _lumivex_cli lumivex-cli
