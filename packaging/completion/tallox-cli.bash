# bash completion for tallox-cli                                       -*- shell-script -*-

# Every option, with what may follow it: nothing for a flag, "#" for a number (nothing to
# offer), "<file>" for a file name, otherwise the words to offer; a leading "," marks a
# comma-separated list, and "@codecs" the codec names the program lists. A new option is one
# line.
declare -gA _tallox_cli_run_options=(
    [--codecs]=",@codecs"
    [--all]=
    [--fast]=
    [--accurate]=
    [--iterations]="#"
    [--quality]="#"
    [--subsampling]=",444 422 420"
    [--progressive]=
    [--optimize]=
    [--plot]="<file>"
    [--warmup]="#"
    [--min-time]="#"
    [--threads]="#"
    [--max-time]="#"
    [--cpu]="#"
    [--bytes]="file pixels"
    [--samples]=
    [--metrics]=",psnr ssim ssimulacra2 butteraugli"
    [--reference]="jpeg webp jxl avif j2k"
    [--at]="psnr_y= ssim= ssimulacra2= butteraugli_3norm="
    [--no-pin]=
    [--no-verify]=
    [--no-decode]=
    [--format]="text csv json jsonl markdown table"
    [--output]="<file>"
    [--resume]="<file>"
    [--shard]="#"
    [--crlf]=
    [--no-progress]=
    [-r]=
    [--recursive]=
    [--include]="#"
    [--stop-on-error]=
    [--isolate]=
    [--no-isolate]=
    [--timeout]="#"
    [--help]=
    [--version]=
    [--verbose]=
    [--list-codecs]=
)
declare -gA _tallox_cli_encode_options=(
    [-o]="<file>"
    [--output]="<file>"
    [--rice-type]="1 2 3 4 7 8"
    [--quality]="#"
    [--help]=
)
declare -gA _tallox_cli_compare_options=(
    [--alpha]="#"
    [--fail-above]="#"
    [--format]="text json csv markdown"
    [--help]=
)
declare -gA _tallox_cli_merge_options=(
    [-o]="<file>"
    [--output]="<file>"
    [--reference]="jpeg webp jxl avif j2k"
    [--at]="psnr_y= ssim= ssimulacra2= butteraugli_3norm="
    [--help]=
)
# The codec names, as the program lists them.
_tallox_cli_codecs() {
    "${words[0]}" --list-codecs 2>/dev/null | awk 'NR > 1 && $4 != "yardstick" { print $1 }'
}

_tallox_cli() {
    local cur prev words cword
    _init_completion || return

    # The encode and merge commands change the options and the positional arguments.
    local -n options=_tallox_cli_run_options
    local i command="" positional=0
    for ((i = 1; i < cword; i++)); do
        local word=${words[i]}
        if [[ -v "options[$word]" && -n ${options[$word]} ]]; then
            ((i++))  # skip the option's value
        elif [[ $word != -* ]]; then
            if [[ -z $command && $positional -eq 0 && $word == encode ]]; then
                command=encode
                local -n options=_tallox_cli_encode_options
            elif [[ -z $command && $positional -eq 0 && $word == compare ]]; then
                command=compare
                local -n options=_tallox_cli_compare_options
            elif [[ -z $command && $positional -eq 0 && $word == merge ]]; then
                command=merge
                local -n options=_tallox_cli_merge_options
            else
                ((positional++))
            fi
        fi
    done

    if [[ -v "options[$prev]" && -n ${options[$prev]} ]]; then
        local values=${options[$prev]}
        [[ $values == ,@codecs ]] && values=",$(_tallox_cli_codecs)"
        case $values in
            "#") ;;
            "<file>") _filedir ;;
            ,*)
                # Complete the last item of the list, keeping the ones before it.
                local done=""
                [[ $cur == *,* ]] && done=${cur%,*},
                local IFS=$' \t\n'
                COMPREPLY=($(compgen -P "$done" -W "${values#,}" -- "${cur##*,}"))
                compopt -o nospace
                ;;
            *) COMPREPLY=($(compgen -W "$values" -- "$cur")) ;;
        esac
        return
    fi

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${!options[*]}" -- "$cur"))
    elif [[ $command == encode && $positional -eq 0 ]]; then
        COMPREPLY=($(compgen -W "$(_tallox_cli_codecs)" -- "$cur"))
    elif [[ -z $command ]]; then
        _filedir  # files and folders, as many as wanted
        [[ $positional -eq 0 ]] && COMPREPLY+=($(compgen -W "encode compare merge" -- "$cur"))
    elif [[ $command == encode && $positional -eq 1 ]] || [[ $command == compare ]] ||
        [[ $command == merge ]]; then
        _filedir
    fi
} &&
    complete -F _tallox_cli tallox-cli

# ex: filetype=sh
