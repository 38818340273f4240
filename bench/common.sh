# Shared by the bench scripts: sourced, with $root set to the repository.

# require NAME TOOL...: stops with the set-up hint when a tool is missing.
require() {
  local name=$1 tool
  shift
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "$name: $tool is missing; run: bash scripts/setup.sh --bench" >&2
      exit 2
    fi
  done
}

# release_program TARGET: prints the path of build/release/TARGET, built
# here first.
release_program() {
  local build="$root/build/release" generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target "$1" -j "${JOBS:-$(nproc)}" >/dev/null
  echo "$build/$1"
}

# shielded COMMAND...: runs the command at real-time priority when
# REALTIME=1 and the system allows it (root or CAP_SYS_NICE), so that other
# work on a shared machine takes the processors from neither contestant.
shielded() {
  if [[ ${REALTIME:-0} == 1 ]] && chrt -f 1 true 2>/dev/null; then
    chrt -f 1 "$@"
  else
    "$@"
  fi
}
