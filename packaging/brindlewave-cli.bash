# Bash completion for brindlewave-cli. What the program knows (its options, the --set names,
# the preset names, the drives) is asked of the program itself at completion time, so the
# completion never falls behind the installed version.

# Each helper prints what the program reports, one name a line; $1 is the program as typed.
_brindlewave_cli_options() { # PROGRAM COMMAND: the options of COMMAND, from its help
    "$1" help "$2" 2>/dev/null | sed -n 's/^[[:space:]]\{1,\}\(--[[:alnum:]-]\{1,\}\).*/\1/p'
}
_brindlewave_cli_set_names() { # PROGRAM: NAME= for each encoder option of --set
    "$1" options 2>/dev/null | sed -n 's/^\([[:alnum:]_]\{1,\}\):.*/\1=/p'
}
_brindlewave_cli_presets() { # PROGRAM: the preset names, from the JSON lines of presets
    "$1" presets 2>/dev/null |
        sed -n 's/.*"Name":"\(\([^"\\]\|\\.\)*\)".*/\1/p' | sed 's/\\\(.\)/\1/g'
}
_brindlewave_cli_drives() { # PROGRAM: the device of each CD drive
    "$1" cd drives 2>/dev/null | sed -n 's/.*"device":"\(\([^"\\]\|\\.\)*\)".*/\1/p' |
        sed 's/\\\(.\)/\1/g'
}

# Sets COMPREPLY to the words of its input (given with < <(...), as a pipe would run it in a
# subshell) that start with $cur, each quoted for the shell.
_brindlewave_cli_reply() {
    local word
    COMPREPLY=()
    while IFS= read -r word; do
        [[ -n $word && $word == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done
}

_brindlewave_cli_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

_brindlewave_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev= prog=${COMP_WORDS[0]}
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # The program as typed, when it runs from there; else the one on the PATH.
    prog=${prog/#\~/$HOME}
    [[ -x $prog ]] || prog=brindlewave-cli

    if ((COMP_CWORD == 1)); then
        _brindlewave_cli_reply < <(printf '%s\n' probe tags convert presets cd options help --help --version)
        return
    fi
    local command=${COMP_WORDS[1]}
    case $command in
    help)
        ((COMP_CWORD == 2)) && _brindlewave_cli_reply < <(printf '%s\n' probe tags convert presets cd options)
        return
        ;;
    cd)
        if ((COMP_CWORD == 2)); then
            _brindlewave_cli_reply < <(printf '%s\n' drives tracks lookup ids)
            return
        fi
        ;;
    esac

    case $prev in
    --to)
        _brindlewave_cli_reply < <(printf '%s\n' mp3 ogg wav wma flac ape mpc wv opus m4a)
        return
        ;;
    --set)
        _brindlewave_cli_reply < <(_brindlewave_cli_set_names "$prog")
        compopt -o nospace 2>/dev/null
        return
        ;;
    --tag)
        _brindlewave_cli_reply < <(printf '%s=\n' Title Artist Album Year Genre Track Comment)
        compopt -o nospace 2>/dev/null
        return
        ;;
    --preset)
        _brindlewave_cli_reply < <(_brindlewave_cli_presets "$prog")
        return
        ;;
    --out)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --cd | --drive)
        _brindlewave_cli_reply < <(_brindlewave_cli_drives "$prog")
        local drives=("${COMPREPLY[@]}")
        _brindlewave_cli_files
        COMPREPLY=("${drives[@]}" "${COMPREPLY[@]}")
        return
        ;;
    --jobs | --read-offset | --tracks | --server | --accuraterip-server | --toc)
        COMPREPLY=()
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        _brindlewave_cli_reply < <(_brindlewave_cli_options "$prog" "$command" | sort -u)
        return
    fi
    case $command in
    probe | tags | convert) _brindlewave_cli_files ;;
    cd) [[ ${COMP_WORDS[2]} == drives ]] && _brindlewave_cli_files ;;
    esac
}

complete -F _brindlewave_cli brindlewave-cli
