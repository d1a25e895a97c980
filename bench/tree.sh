# Sourced by the benchmarks that share bench/run.sh's generated trees:
# bench_tree ENTRIES sets `tree` to $WORK/tree-LABEL (1M, 100k or the count)
# and `stamp` to its stamp file, making the tree first unless it is there
# from the same generator and seed. Needs ROOT, BIN, WORK and SEED.
bench_tree() {
    local entries=$1 label gen_id info
    [[ $BIN/gentree -nt $ROOT/bench/gentree.cpp ]] ||
        c++ -O2 -std=c++20 -Wall -Wextra -o "$BIN/gentree" "$ROOT/bench/gentree.cpp"
    label=$([[ $entries == 1000000 ]] && echo 1M || echo "$entries")
    [[ $entries == 100000 ]] && label=100k
    tree=$WORK/tree-$label stamp=$WORK/tree-$label.stamp
    gen_id="gentree $(cksum <"$ROOT/bench/gentree.cpp" | cut -d' ' -f1) seed=$SEED entries=$entries"
    if ! [[ -d $tree && -f $stamp && $(head -n1 "$stamp") == "$gen_id" ]]; then
        echo "== generating $entries entries in $tree" >&2
        rm -rf -- "$tree" "$tree.tmp" "$stamp"
        info=$("$BIN/gentree" --seed "$SEED" --entries "$entries" "$tree.tmp")
        mv -- "$tree.tmp" "$tree"
        printf '%s\n%s\n' "$gen_id" "$info" >"$stamp"
    fi
}
