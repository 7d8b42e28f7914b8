# show_help SCRIPT ARGS...: with --help or -h among ARGS, prints the script's opening comment
# (what it does and how to call it) on standard output and exits 0, before anything is built.
show_help() {
  local script=$1 a
  shift
  for a in "$@"; do
    case "$a" in
      --help | -h)
        sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$script"
        exit 0
        ;;
    esac
  done
}
