# bash completion for tvkcrypt: commands, options, and file names where
# an option or the command takes a file.

# File names one per line into COMPREPLY: a name with spaces stays one
# word (compgen's output split by the shell would cut it), and
# -o filenames has bash quote it when it is inserted.
_tvkcrypt_files()
{
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$1"))
}

_tvkcrypt()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        -o|--output|--password-file|--check-file|--new-password-file)
            _tvkcrypt_files "$cur"
            return
            ;;
        --password-encoding)
            COMPREPLY=($(compgen -W "utf8 ansi cp1250 cp1251 cp1252 cp1253 cp1254
                cp1255 cp1256 cp1257 latin1 iso-8859-2 iso-8859-15 cp437 cp850 cp866
                koi8-r" -- "$cur"))
            return
            ;;
        --suffix)
            COMPREPLY=()
            return
            ;;
        --offset|--length|-j|--jobs)
            # a byte count, a number: nothing to offer
            COMPREPLY=()
            return
            ;;
    esac

    # the command is the first word that is neither an option nor an
    # option's value
    local i word command=
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            -o|--output|--password-file|--password-encoding|--check-file|--offset|--length|--new-password-file|-j|--jobs|--suffix)
                ((i++)) ;;
            -*) ;;
            *) command=$word; break ;;
        esac
    done

    local options="-o --output -f --force --in-place --follow-symlinks
        --password-file --password-encoding --check-file --no-check-file -q -qq --quiet
        -h --help -V --version -r --recursive -j --jobs --json"
    case $command in
        encrypt) options+=" --resume" ;;
        decrypt) options+=" --offset --length --salvage --resume" ;;
        check)   options+=" --create" ;;
        rekey)   options="--password-file --new-password-file --password-encoding -r --recursive
                     -j --jobs --json -q -qq --quiet -h --help" ;;
        mount)   options="-f --foreground -o --read-write --suffix --direct-io --password-file
                     --password-encoding -q --quiet -h --help" ;;
        unmount) options="-h --help" ;;
    esac

    if [[ -z $command && $cur != -* ]]; then
        COMPREPLY=($(compgen -W "encrypt decrypt check rekey mount unmount" -- "$cur"))
    elif [[ $prev == -o && $command == mount ]]; then
        COMPREPLY=($(compgen -W "allow_other" -- "$cur"))
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        _tvkcrypt_files "$cur"
    fi
}
complete -F _tvkcrypt tvkcrypt
