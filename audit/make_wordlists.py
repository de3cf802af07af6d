#!/usr/bin/env python3
"""Makes audit/wordlists_data.cpp, the strength estimator's built-in lists and the
passphrase words.

Run once by hand; its output is committed. The sources are Debian packages, named
with their versions in wordlists_sources.txt beside this script:

    mkdir /tmp/lists && cd /tmp/lists
    apt-get download john-data=1.9.0-2 scowl=2020.12.07-2 python3-zxcvbn=4.4.28-3
    python3 audit/make_wordlists.py /tmp/lists > audit/wordlists_data.cpp

Ranked lists, most common first: the frequency lists that python3-zxcvbn ships as
data (MIT licence; only its lists are read, as text): 30,000 common passwords,
30,000 words of English Wikipedia, US television and film words, first names and
surnames; the password-cracking tool's list (usr/share/john/password.lst); and the
examples of well-known password advice (WELL_KNOWN below), which every cracking list
has carried since they were published. A word in several lists keeps its best rank. The words are grouped in bands of rank (1,
2-3, 4-7, ..., each twice the one before): a word costs the middle rank of its band,
so that a common word costs fewer guesses than a rare one within a factor of two.
English words: the spell-checker word lists by size, which grow with rarity: size 10
and size 20, lower-case letters only, three letters or more, as before.
Passphrase words: the 8,192 most common words of English Wikipedia made of 4 to 8
lower-case letters that are no name or surname (13 bits a word).

Storage: the words of a band (or tier) are sorted and front-coded (a byte below
0x20 says how many letters the word shares with the one before, the new letters
follow), then compressed by pair coding: each byte 0x80 + k stands for the two bytes
of kWordPairs[k], which may themselves be such codes.
"""

import collections
import os
import re
import subprocess
import sys
import tempfile

PACKAGES = {"john-data": "1.9.0-2", "scowl": "2020.12.07-2", "python3-zxcvbn": "4.4.28-3"}
WORD_SIZES = (10, 20)
WORD = re.compile(r"^[a-z]{3,}$")
PASSPHRASE_WORD = re.compile(r"^[a-z]{4,8}$")
PASSPHRASE_WORDS = 8192
RANKED = ("passwords", "english_wikipedia", "us_tv_and_film", "female_names", "male_names", "surnames")
PAIR_CODES = 128
# The two examples of a widely read comic strip about password strength (xkcd 936,
# 2011), written as people copy them, and its misspelt word: famous, so tried early.
WELL_KNOWN = (
    "correcthorsebatterystaple",
    "correct-horse-battery-staple",
    "correct_horse_battery_staple",
    "correct.horse.battery.staple",
    "tr0ub4dor&3",
    "troubador",
)
WELL_KNOWN_RANK = 1000


def extract(folder, package, version, tmp):
    deb = os.path.join(folder, f"{package}_{version}_all.deb")
    target = os.path.join(tmp, package)
    subprocess.run(["dpkg-deb", "-x", deb, target], check=True)
    return target


def printable(word):
    return len(word) >= 3 and all(0x21 <= ord(c) <= 0x7E for c in word)


def john_passwords(root):
    out = []
    with open(os.path.join(root, "usr/share/john/password.lst"), encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line.startswith("#!comment"):
                out.append(line.lower())
    return out


def frequency_lists(root):
    """The lists of the data file, read as text: "name": "word,word,...". """
    path = os.path.join(root, "usr/lib/python3/dist-packages/zxcvbn/frequency_lists.py")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return {m.group(1): m.group(2).split(",") for m in re.finditer(r'"([a-z_]+)": "([^"]*)"', text)}


def words(root, size, skip):
    folder = os.path.join(root, "usr/share/dict/scowl")
    found = set()
    for name in (f"english-words.{size}", f"american-words.{size}"):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            found.update(w for w in (line.strip() for line in f) if WORD.match(w))
    return sorted(found - skip)


def front_code(sorted_words):
    out = bytearray()
    previous = ""
    for word in sorted_words:
        shared = 0
        while shared < min(len(word), len(previous), 31) and word[shared] == previous[shared]:
            shared += 1
        out.append(shared)
        out += word[shared:].encode("ascii")
        previous = word
    return bytes(out)


def pair_code(blocks):
    """Replaces the most frequent pair of bytes by a new code, PAIR_CODES times."""
    pairs = []
    for k in range(PAIR_CODES):
        counts = collections.Counter()
        for block in blocks:
            counts.update(zip(block, block[1:]))
        (a, b), count = counts.most_common(1)[0]
        if count < 4:
            break
        code = bytes([0x80 + k])
        blocks = [block.replace(bytes([a, b]), code) for block in blocks]
        pairs.append((a, b))
    return blocks, pairs


def literal(data):
    """A C++ string literal of `data`, one line of source per 96 bytes or so."""
    lines = []
    line = ""
    for b in data:
        if b < 0x20 or b >= 0x7F:
            line += "\\%03o" % b
        elif chr(b) in '"\\?':
            line += "\\" + chr(b)
        else:
            line += chr(b)
        if len(line) >= 96:
            lines.append('    "' + line + '"')
            line = ""
    if line:
        lines.append('    "' + line + '"')
    return "\n".join(lines) if lines else '    ""'


def main():
    folder = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        john = john_passwords(extract(folder, "john-data", PACKAGES["john-data"], tmp))
        lists = frequency_lists(extract(folder, "python3-zxcvbn", PACKAGES["python3-zxcvbn"], tmp))
        lists["john"] = john
        best = {}
        for name in RANKED + ("john",):
            for rank, word in enumerate(lists[name], 1):
                word = word.lower()
                if printable(word) and (word not in best or rank < best[word]):
                    best[word] = rank
        for word in WELL_KNOWN:
            best[word] = min(best.get(word, WELL_KNOWN_RANK), WELL_KNOWN_RANK)
        bands = collections.defaultdict(list)
        for word, rank in best.items():
            bands[rank.bit_length()].append((word, rank))
        scowl = extract(folder, "scowl", PACKAGES["scowl"], tmp)
        tiers = []
        skip = set(best)
        for size in WORD_SIZES:
            tier = words(scowl, size, skip)
            skip.update(tier)
            tiers.append(tier)
        names = set(lists["female_names"]) | set(lists["male_names"]) | set(lists["surnames"])
        passphrase = []
        for word in lists["english_wikipedia"]:
            if PASSPHRASE_WORD.match(word) and word not in names and word not in passphrase:
                passphrase.append(word)
            if len(passphrase) == PASSPHRASE_WORDS:
                break
    assert len(passphrase) == PASSPHRASE_WORDS

    band_keys = sorted(bands)
    band_words = [sorted(w for w, _ in bands[b]) for b in band_keys]
    band_ranks = [sorted(r for _, r in bands[b])[len(bands[b]) // 2] for b in band_keys]
    blocks = [front_code(w) for w in band_words] + [front_code(t) for t in tiers] + [front_code(sorted(passphrase))]
    raw = sum(len(b) for b in blocks)
    blocks, pairs = pair_code(blocks)

    sources = ", ".join(f"{p} {v}" for p, v in PACKAGES.items())
    print("// Generated by audit/make_wordlists.py from the Debian packages " + sources + ".")
    print("// Do not edit; run the script again instead.")
    print()
    print('#include "audit/wordlists.h"')
    print()
    print(f"// {raw} bytes front-coded, {sum(len(b) for b in blocks)} after pair coding.")
    print("const char kWordPairs[][2] = {")
    for a, b in pairs:
        print("    {'\\%03o', '\\%03o'}," % (a, b))
    print("};")
    print(f"const std::size_t kWordPairCount = {len(pairs)};")
    print()
    print("static const char kData[] =")
    offsets = []
    at = 0
    data = b"".join(blocks)
    for block in blocks:
        offsets.append((at, len(block)))
        at += len(block)
    print(literal(data) + ";")
    print()
    names_of = [f"ranks {1 << (b - 1)} to {(1 << b) - 1}" for b in band_keys]
    print(f"// {len(best)} words of common passwords, English text, television and film, first")
    print("// names and surnames, in bands of rank.")
    print("const WordTier kRankedWordTiers[] = {")
    for k, b in enumerate(band_keys):
        start, size = offsets[k]
        print(f"    {{kData + {start}, {size}, {len(band_words[k])}, {band_ranks[k]}}},  // {names_of[k]}")
    print("};")
    print(f"const std::size_t kRankedWordTierCount = {len(band_keys)};")
    print()
    print("// English words, one tier per size of the spell-checker lists (the most common first);")
    print("// the rank is given by the estimator.")
    print("const WordTier kEnglishWordTiers[] = {")
    for i, tier in enumerate(tiers):
        start, size = offsets[len(band_keys) + i]
        print(f"    {{kData + {start}, {size}, {len(tier)}, 0}},  // size {WORD_SIZES[i]}")
    print("};")
    print(f"const std::size_t kEnglishWordTierCount = {len(tiers)};")
    print()
    start, size = offsets[-1]
    print(f"// {PASSPHRASE_WORDS} passphrase words, sorted.")
    print(f"const WordTier kPassphraseWords = {{kData + {start}, {size}, {PASSPHRASE_WORDS}, 0}};")


if __name__ == "__main__":
    main()
