#!/bin/sh
# Instructions executed by vk-json and by the RapidJSON normaliser, each a
# whole process on one of the six ~1 MiB shapes, counted by callgrind: a
# figure that does not move with the load of a shared machine.
#
#   bench/json_instructions.sh [BUILD_DIR]      (default build/release)
set -eu

build=${1:-build/release}
for tool in valgrind callgrind_annotate; do
  command -v "$tool" >/dev/null || { echo "json_instructions: needs $tool (Debian package valgrind)" >&2; exit 1; }
done
dir=$(mktemp -d "$build/json-instructions.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$build/bench/json_bench" --write-payloads="$dir" >/dev/null

# Instructions of one run of program $1 on file $2.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$dir/out" "$1" <"$2" >/dev/null 2>"$dir/log"
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$dir/log"
}

echo "| shape | vk-json | RapidJSON | RapidJSON / vk-json |"
echo "|---|---|---|---|"
for shape in vault numbers strings ones arrays objects; do
  vk=$(count "$build/tools/vk-json" "$dir/$shape.json")
  rj=$(count "$build/bench/rapidjson_normalise" "$dir/$shape.json")
  awk -v s="$shape" -v a="$vk" -v b="$rj" 'BEGIN { printf "| %s | %.1f M | %.1f M | %.2f |\n", s, a / 1e6, b / 1e6, b / a }'
done
