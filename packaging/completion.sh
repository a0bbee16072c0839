#!/usr/bin/env bash
# Writes bash or zsh completion for lanewright-cli from its own --help texts,
# so the commands, their options and the `set` names never drift from the
# command table: packaging/completion.sh CLI bash|zsh > FILE
set -euo pipefail
cli=${1:?usage: completion.sh CLI bash|zsh}
shell=${2:?usage: completion.sh CLI bash|zsh}

# The options of one --help text, one per line: NAME VALUE DESCRIPTION, where
# VALUE is the value's name (FILE, N, ...) or "-" for a flag.
options() {
  "$cli" "$@" --help | awk '
    /^Options:/ && !done { on = 1; next }
    on && /^$/ { on = 0; done = 1; next }
    # A description that starts on the next line (after a long option).
    on && want { d = $0; sub(/^ +/, "", d); print name "\t" value "\t" d; want = 0; next }
    on && /^  -/ {
      line = $0; sub(/^  (-h, )?/, "", line)
      n = split(line, w, / +/)
      name = w[1]; value = "-"; first = 2
      if (name ~ /\[=/) { value = "FILE"; sub(/\[=.*/, "", name) }
      else if (n >= 2 && w[2] ~ /^[A-Z][A-Z0-9.]*$/) { value = w[2]; first = 3 }
      desc = ""
      for (i = first; i <= n; i++) desc = desc (desc == "" ? "" : " ") w[i]
      if (desc == "") want = 1
      else print name "\t" value "\t" desc
    }'
}

# The commands, one per line: NAME DESCRIPTION.
commands() {
  "$cli" --help | awk '
    /^Commands:/ && !done { on = 1; next }
    on && /^$/ { on = 0; done = 1; next }
    on && /^  [a-z]/ { name = $1; pending = 1 }
    on && pending {
      # The description follows the synopsis after a gap, or starts the
      # next line far to the right when the synopsis is long.
      line = $0; desc = ""
      if (line ~ /^                    +[^ ]/) desc = line
      else if (match(line, /  +[^ ]+( [^ ]+)*$/) && RSTART > 1) desc = substr(line, RSTART)
      if (desc != "") { sub(/^ +/, "", desc); print name "\t" desc; pending = 0 }
    }'
}

# The control names `set` takes: the first column of each of its tables
# (the controls, staged set 1, the masks). awk reads to the end, so the
# CLI never writes into a closed pipe.
set_names() {
  "$cli" set --help | awk '
    /^NAME +LANE/ { on = 1; next }
    on && /^$/ { on = 0; next }
    on { print $1 }'
}

mapfile -t cmds < <(commands)
[ "${#cmds[@]}" -gt 0 ] || { echo "completion.sh: no commands in $cli --help" >&2; exit 1; }
names=$(set_names | tr '\n' ' ')
[ -n "$names" ] || { echo "completion.sh: no names in $cli set --help" >&2; exit 1; }
cmd_names=$(printf '%s\n' "${cmds[@]}" | cut -f1 | tr '\n' ' ')
global=$(options)

# Options whose value is a file name.
file_opts=$( { printf '%s\n' "$global"; for c in $cmd_names; do options "$c"; done; } |
  awk -F'\t' '$2 ~ /FILE/ && $1 != "--emulate" { print $1 }' | sort -u | tr '\n' ' ')
# All options that take a value (the next word is that value, not a command).
value_opts=$(printf '%s\n' "$global" | awk -F'\t' '$2 != "-" && $1 != "--emulate" { print $1 }' | tr '\n' ' ')

case $shell in
bash)
  cat <<HEAD
# bash completion for lanewright-cli, generated from its --help texts.
_lanewright_cli() {
  local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD-1]}
  local i w cmd= nargs=0
  case " ${file_opts}" in *" \$prev "*) COMPREPLY=(\$(compgen -f -- "\$cur")); compopt -o filenames 2>/dev/null; return ;; esac
  for ((i = 1; i < COMP_CWORD; i++)); do
    w=\${COMP_WORDS[i]}
    if [ -z "\$cmd" ]; then
      case " ${value_opts}" in *" \$w "*) ((i++)); continue ;; esac
      case \$w in -*) continue ;; esac
      cmd=\$w
    else
      case \$w in -*) ;; *) ((nargs++)) ;; esac
    fi
  done
  if [ -z "\$cmd" ]; then
    case \$cur in
      -*) COMPREPLY=(\$(compgen -W "$(printf '%s\n' "$global" | cut -f1 | tr '\n' ' ')" -- "\$cur")) ;;
      *) COMPREPLY=(\$(compgen -W "${cmd_names}" -- "\$cur")) ;;
    esac
    return
  fi
  case \$cur in
    -*)
      case \$cmd in
HEAD
  for c in $cmd_names; do
    printf '        %s) COMPREPLY=($(compgen -W "%s" -- "$cur")) ;;\n' "$c" \
      "$(options "$c" | cut -f1 | tr '\n' ' ')"
  done
  cat <<TAIL
      esac ;;
    *)
      if [ "\$cmd" = set ] && [ \$nargs -eq 0 ]; then
        COMPREPLY=(\$(compgen -W "${names}" -- "\$cur"))
      elif [ "\$cmd" = set ] && [ \$nargs -ge 1 ]; then
        COMPREPLY=(\$(compgen -W "1 2 3 4 5 6 7 8 all on off" -- "\$cur"))
      else
        COMPREPLY=(\$(compgen -f -- "\$cur")); compopt -o filenames 2>/dev/null
      fi ;;
  esac
}
complete -F _lanewright_cli lanewright-cli
TAIL
  ;;
zsh)
  # One _arguments entry per option: '--name[description]' or, with a value,
  # '--name=[description]:VALUE:_files' (files) or '...:VALUE: ' (anything).
  zsh_entries() {
    awk -F'\t' '{
      d = $3; gsub(/[\[\]:\x27\\]/, "", d); if (length(d) > 70) d = substr(d, 1, 67) "..."
      if ($1 == "-h" || $1 == "--help") { print "    \x27(-h --help)\x27{-h,--help}\x27[" d "]\x27 \\"; next }
      if ($2 == "-") print "    \x27" $1 "[" d "]\x27 \\"
      else if ($1 == "--emulate") print "    \x27" $1 "=-[" d "]::FILE:_files\x27 \\"
      else if ($2 ~ /FILE/) print "    \x27" $1 "[" d "]:" $2 ":_files\x27 \\"
      else print "    \x27" $1 "[" d "]:" $2 ": \x27 \\"
    }'
  }
  echo '#compdef lanewright-cli'
  echo '# zsh completion for lanewright-cli, generated from its --help texts.'
  echo
  echo '_lanewright_cli_commands() {'
  echo '  local -a commands=('
  printf '%s\n' "${cmds[@]}" | awk -F'\t' '{ d = $2; gsub(/[:\x27]/, "", d); print "    \x27" $1 ":" d "\x27" }'
  echo '  )'
  echo "  _describe -t commands 'lanewright-cli command' commands"
  echo '}'
  echo
  echo '_lanewright_cli() {'
  echo '  local curcontext=$curcontext state line ret=1'
  echo '  _arguments -C \'
  printf '%s\n' "$global" | zsh_entries
  echo "    '1:command:_lanewright_cli_commands' \\"
  echo "    '*::argument:->args' && ret=0"
  echo '  [[ $state == args ]] || return ret'
  echo '  curcontext=${curcontext%:*:*}:lanewright-cli-$words[1]:'
  echo '  case $words[1] in'
  for c in $cmd_names; do
    echo "    $c)"
    echo '      _arguments \'
    options "$c" | zsh_entries
    if [ "$c" = set ]; then
      echo "        '1:control:($names)' \\"
      echo "        '*:lane or value:(1 2 3 4 5 6 7 8 all on off)' && ret=0 ;;"
    else
      echo "        '*:argument:_files' && ret=0 ;;"
    fi
  done
  echo '  esac'
  echo '  return ret'
  echo '}'
  echo
  echo '_lanewright_cli "$@"'
  ;;
*) echo "completion.sh: bash or zsh, not $shell" >&2; exit 2 ;;
esac
