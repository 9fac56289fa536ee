# bash completion for quaverly-cli: the commands, each command's options, the presets and inputs
# the program lists, and the files each command reads or writes (by their usual extensions).

# Extensions of the songs the commands read (they go by content; these are the usual names).
_quaverly_cli_read='wav|mp3|mp2|mp1|mpga|flac|ogg|oga|opus|spx|m4a|m4r|m4b|mp4|aac|aif|aiff|aifc|caf|w64|rf64|wma|asf|mka|mkv|webm|wv|ape|avi|mov'
# Extensions of what they write.
_quaverly_cli_write='wav|mp3|m4a|m4r|ogg|oga|opus|flac'

_quaverly_cli() {
    local cur prev words cword
    _init_completion -s || return

    local commands='convert join cut info inputs record presets'
    if ((cword == 1)); then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local command=${words[1]}
    local target='--preset --bitrate --quality --level --title'
    local valued common='--quiet --help'
    case $command in
        convert | join) valued=$target ;;
        cut)
            valued="--from --to --fade-in --fade-out --normalize-peak --normalize-loudness $target"
            common+=' --copy --reencode'
            ;;
        record) valued="--seconds --input $target" ;;
        info | inputs | presets) valued='' ;;
        *) return ;;
    esac

    # The value of an option (typed as "--opt value"; "--opt=value" is split by -s above).
    case $prev in
        --preset)
            COMPREPLY=($(compgen -W "$("$1" presets 2>/dev/null | cut -f1)" -- "$cur"))
            return
            ;;
        --input)
            COMPREPLY=($(compgen -W "$("$1" inputs 2>/dev/null | cut -f1)" -- "$cur"))
            return
            ;;
        --bitrate | --quality | --level | --title | --from | --to | --fade-in | --fade-out | \
            --normalize-peak | --normalize-loudness | --seconds)
            return
            ;;
    esac

    # Which positional argument the word is: options and their values do not count; after "--"
    # every word does.
    local i word position=0 ended=''
    for ((i = 2; i < cword; i++)); do
        word=${words[i]}
        if [[ -z $ended && $word == -* ]]; then
            [[ $word == -- ]] && ended=1
            [[ " $valued " == *" $word "* ]] && ((i++))
            continue
        fi
        ((position++))
    done

    if [[ -z $ended && $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$valued $common" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    local kind=''
    case $command in
        convert | cut) ((position == 0)) && kind=read || { ((position == 1)) && kind=write; } ;;
        join) ((position == 0)) && kind=write || kind=read ;;
        record) ((position == 0)) && kind=write ;;
        info) ((position == 0)) && kind=read ;;
    esac
    case $kind in
        read) _filedir "$_quaverly_cli_read" ;;
        write) _filedir "$_quaverly_cli_write" ;;
    esac
} &&
    complete -F _quaverly_cli quaverly-cli
