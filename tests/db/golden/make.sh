#!/bin/sh
# Regenerates the golden vaults with tests/db/vault.py and fixed salts and nonces.
# database_test.cpp knows their passwords and plaintexts.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

# "Email\r\n\tuser: alice@example.org\r\n\tpassword: s3crét ✓\r\nBank\r\n\tpin: 0000\r\n"
printf 'Email\r\n\tuser: alice@example.org\r\n\tpassword: s3cr\303\251t \342\234\223\r\nBank\r\n\tpin: 0000\r\n' > "$tmp"
# password "correct horse ✓ battery"
../vault.py write 636f727265637420686f72736520e29c932062617474657279 "$tmp" tree.gkv \
  000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f \
  a0a1a2a3a4a5a6a7a8a9aaab

# The empty vault of a first start, password "x".
: > "$tmp"
../vault.py write 78 "$tmp" empty.gkv \
  ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100 \
  0102030405060708090a0b0c
