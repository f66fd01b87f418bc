# Shared by the bench/run-* scripts that time whole commands: sourced, not run.

# best_seconds RUNS PREPARE COMMAND: the best wall-clock seconds of RUNS runs
# of the bash command COMMAND, timed by hyperfine; PREPARE runs before each
# (untimed). Functions the command calls must be exported (export -f).
best_seconds() {
  local runs=$1 prepare=$2 command=$3 json
  json=$(mktemp)
  hyperfine --shell=bash --runs "$runs" --prepare "$prepare" --style none --export-json "$json" "$command" >/dev/null
  python3 -c 'import json, sys; print(min(json.load(open(sys.argv[1]))["results"][0]["times"]))' "$json"
  rm -f "$json"
}

# calc EXPRESSION: the value of a Python arithmetic expression, e.g. calc "$a / $b".
calc() { python3 -c "import sys; print(eval(sys.argv[1]))" "$1"; }
