#!/usr/bin/env bash
# A corpus measured in parts on a Slurm cluster: one array task per shard, each writing JSON
# Lines that it resumes when Slurm requeues it, then one job that merges the parts.
#
#   CORPUS=/data/images OUT=$HOME/tallox PARTS=8 docs/slurm-array.sh
#
# Run outside a job, the script submits itself as the array and the merge after it. Every task
# must see the corpus under the same path: a shard is every PARTS-th file of the sorted list.
# Tasks on different machines make speed summaries that mix machines; merge marks them
# ("mixed_machines"). Sizes and ratios do not depend on the machine.
#SBATCH --job-name=tallox
#SBATCH --cpus-per-task=1
#SBATCH --exclusive
#SBATCH --requeue
#SBATCH --open-mode=append
#SBATCH --output=tallox-%A_%a.log
set -euo pipefail

corpus="${CORPUS:?set CORPUS to the folder of images}"
out="${OUT:-$PWD/tallox-results}"
parts="${PARTS:-8}"
cli="${TALLOX_CLI:-tallox-cli}"
# The same arguments for every part and for every resumption of it.
codecs="${CODECS:-jpeg,rle,huffman,rice,zstd:1,19}"

if [[ -z "${SLURM_ARRAY_TASK_ID:-}" ]]; then
    mkdir -p "$out"
    job=$(sbatch --parsable --array="1-$parts" \
        --export=ALL,CORPUS="$corpus",OUT="$out",PARTS="$parts" "$0")
    sbatch --dependency="afterok:$job" --job-name=tallox-merge --output="$out/merge.log" \
        --wrap "$cli merge $out/part*.jsonl -o $out/all.json"
    echo "submitted $job (parts) and its merge; results in $out/all.json"
    exit 0
fi

part="$SLURM_ARRAY_TASK_ID"
# --resume starts the file when it is missing, and after a requeue keeps every record the
# killed task finished, cuts a line it left half written, and measures the rest.
"$cli" --codecs "$codecs" --no-progress -r --shard "$part/$parts" \
    --resume "$out/part$part.jsonl" "$corpus"
