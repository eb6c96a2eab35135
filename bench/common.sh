# Shared by the bench scripts that time whole simulator runs: argument checks
# and one timed run that stops the script, with the simulator's last words,
# when the run fails (source it after `set -euo pipefail`).

# An executable file's absolute path, or a message and exit status 2.
simulator_path() {
    if [ ! -f "$1" ] || [ ! -x "$1" ]; then
        echo "$(basename "$0"): $1: not an executable simulator" >&2
        exit 2
    fi
    realpath "$1"
}

# A whole number of rounds from 1 to 100, or a message and exit status 2.
round_count() {
    if ! [[ "$1" =~ ^[1-9][0-9]?$|^100$ ]]; then
        echo "$(basename "$0"): rounds must be a whole number from 1 to 100, not '$1'" >&2
        exit 2
    fi
    echo "$1"
}

# timed_run FOLDER BINARY ARGS...: runs BINARY ARGS in FOLDER, standard output
# to FOLDER/out.txt; sets run_cpu (user + system seconds) and run_wall.
timed_run() {
    local folder=$1
    shift
    if ! (cd "$folder" && /usr/bin/time -f "%U %S %e" -o time.txt "$@" > out.txt 2> err.txt); then
        echo "$(basename "$0"): the run '$*' in $folder failed:" >&2
        tail -n 5 "$folder/err.txt" "$folder/time.txt" >&2 || true
        exit 1
    fi
    run_cpu=$(awk '{print $1 + $2}' "$folder/time.txt")
    run_wall=$(awk '{print $3}' "$folder/time.txt")
}
