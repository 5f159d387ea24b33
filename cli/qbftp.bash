# bash completion for qbftp
_qbftp() {
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    }
    local commands="ls mkdir get put cp mv rm rename sites"
    local options="--passive --active --no-epsv --no-feat --no-list-a --tls --tls-implicit --no-tls
        --insecure --cacert --log --timeout --retries --json -r --recursive -p
        --preserve --parents --overwrite --resume --skip --ascii --binary --auto --profile
        --help --version"
    case $prev in
    --profile | --cacert)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --timeout | --retries)
        return
        ;;
    esac
    local i command=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --profile | --cacert | --timeout | --retries) ((i++)) ;;
        -*) ;;
        *)
            command=${words[i]}
            break
            ;;
        esac
    done
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == sites && $prev == sites ]]; then
        COMPREPLY=($(compgen -W "add remove rename" -- "$cur"))
    elif [[ $command == get || $command == put || $command == cp || $command == mv ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _qbftp qbftp
