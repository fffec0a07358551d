# bash completion for varnel-convert
_varnel_convert() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
    -f|--format)
        mapfile -t COMPREPLY < <(compgen -W "jpg tif bmp png gif pcx wmf emf tga jp2 jpc ras" -- "$cur")
        return ;;
    -c|--color)
        local IFS=$'\n'
        mapfile -t COMPREPLY < <(compgen -W $'True\\ Color\n256\\ Color\n256\\ Grays\n16\\ Color\n16\\ Grays\nB\\&W' -- "$cur")
        return ;;
    --compression)
        mapfile -t COMPREPLY < <(compgen -W "none lzw rle jpeg packbits fax3 fax4" -- "$cur")
        return ;;
    --paper)
        mapfile -t COMPREPLY < <(compgen -W "a4 letter legal auto" -- "$cur")
        return ;;
    --rotate)
        mapfile -t COMPREPLY < <(compgen -W "0 90 180 270" -- "$cur")
        return ;;
    -o|--output|--watch)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return ;;
    --profile|--files-from)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
    -r|--dpi|--resize|-q|--quality|-j|--jobs|--timeout|--max-memory|--page-limit|--disk-reserve|--shard|--pages)
        return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--format --color --dpi --pages --paper --fit --resize
            --no-resize --rotate --each --no-each --multipage --no-multipage --compression
            --quality --output --beside-source --overwrite --no-clobber --skip-existing
            --profile --use-desktop-profile --recursive --files-from --null --shard --watch
            --jobs --timeout --max-memory --page-limit --disk-reserve --strict --json --quiet --verbose --help --version" -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _varnel_convert varnel-convert
