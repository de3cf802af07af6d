#!/bin/sh
# Regenerates the seed corpus of database_fuzzer: vaults made with its password
# "fuzz password" (so that decryption is reached) and damaged copies of them.
set -e
cd "$(dirname "$0")"
out=corpus/database
vault=../tests/db/vault.py
password=$(printf 'fuzz password' | od -An -tx1 | tr -d ' \n')
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -f "$out"/*

: > "$tmp/empty.txt"
printf 'Mail\r\n\tuser: a@b.c\r\n\tpassword: x\r\nBank\r\n\tpin: 1234\r\n' > "$tmp/tree.txt"
i=0; while [ $i -lt 40 ]; do printf 'Entry %d\r\n\tvalue: %d\r\n' $i $((i * 7919)) >> "$tmp/long.txt"; i=$((i + 1)); done

"$vault" write "$password" "$tmp/empty.txt" "$out/valid-empty.gkv"
"$vault" write "$password" "$tmp/tree.txt" "$out/valid-tree.gkv"
"$vault" write "$password" "$tmp/long.txt" "$out/valid-long.gkv"
"$vault" write 00 "$tmp/tree.txt" "$out/other-password.gkv"
"$vault" write2 "$password" "$tmp/tree.txt" "$out/v2-valid-tree.gkv" 1000

/usr/bin/python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
tree = open(out + "/valid-tree.gkv", "rb").read()
def save(name, data):
    open("%s/%s" % (out, name), "wb").write(data)
save("short-92.gkv", tree[:92])
save("truncated-ciphertext.gkv", tree[:-5])
save("wrong-magic.gkv", b"GLIMKEEPDX" + tree[10:])
save("version-1.1.gkv", tree[:10] + b"1.1" + tree[13:])
save("version-bad.gkv", tree[:10] + b"1,0" + tree[13:])
save("length-huge.gkv", tree[:89] + b"\xff\xff\xff\xf0" + tree[93:])
save("trailing-bytes.gkv", tree + b"\0" * 17)
save("flipped-mac.gkv", tree[:60] + bytes([tree[60] ^ 1]) + tree[61:])
save("flipped-nonce.gkv", tree[:50] + bytes([tree[50] ^ 1]) + tree[51:])
tree2 = open(out + "/v2-valid-tree.gkv", "rb").read()
save("v2-short-96.gkv", tree2[:96])
save("v2-iterations-0.gkv", tree2[:13] + b"\0\0\0\0" + tree2[17:])
save("v2-flipped-nonce.gkv", tree2[:50] + bytes([tree2[50] ^ 1]) + tree2[51:])
save("v2-length-huge.gkv", tree2[:93] + b"\xff\xff\xff\xf0" + tree2[97:])
PY
