#!/bin/sh
# Makes the ZIP fixtures of the ZIP walk tests (packages: zip, libarchive-tools).
# Content is deterministic text so the archives stay small; timestamps are fixed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TZ=UTC

# Entry content: text that compresses, and pseudo-random bytes that do not (so the entries
# span several sectors).
python3 - <<'PY'
import random
random.seed(20240517)
with open("notes.txt", "w") as f:
    for i in range(400):
        f.write("line %d of the notes, kept for the archive tests\n" % i)
with open("noise.bin", "wb") as f:
    f.write(bytes(random.getrandbits(8) for _ in range(9000)))
with open("small.txt", "w") as f:
    f.write("a short entry\n")
with open("[Content_Types].xml", "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"></Types>\n')
import os
os.makedirs("word", exist_ok=True)
with open("word/document.xml", "w") as f:
    f.write("<w:document>" + "<w:p>text</w:p>" * 300 + "</w:document>\n")
with open("comment.txt", "w") as f:
    # zip -z stores each line break as CR LF and drops the last one: 19 * 50 + 50 = 1,000 bytes.
    for i in range(19):
        f.write("comment line %02d " % i + "-" * 32 + "\n")
    f.write("the last line of the comment, fifty characters ...\n")
PY
touch -t 202401020304.05 notes.txt noise.bin small.txt comment.txt '[Content_Types].xml' word word/document.xml

# Several entries and a 1,000-byte archive comment.
zip -X -q plain.zip notes.txt noise.bin small.txt
zip -q -z plain.zip < comment.txt
# Data descriptors behind every entry (libarchive writes streaming entries).
bsdtar --format zip -cf descriptor.zip notes.txt noise.bin small.txt
# Forced ZIP64 (ZIP64 extra fields, ZIP64 end record and locator).
zip -X -q -fz zip64.zip notes.txt noise.bin small.txt
# Stored only: sizes in the local headers and again in a data descriptor behind each entry.
# (Written to a file: through a pipe bsdtar pads the archive to whole 10 KiB blocks.)
bsdtar --format zip --options zip:compression=store -cf stored.zip notes.txt noise.bin small.txt
# Read from stdin and written to a pipe: one entry with a signed 32-bit data descriptor.
cat noise.bin | zip -X -q -fz- - - | cat > stream.zip
# The same in ZIP64 form: a 64-bit data descriptor.
cat notes.txt | zip -X -q - - | cat > stream64.zip
# Office-like package: [Content_Types].xml first.
zip -X -q -D office.zip '[Content_Types].xml' word/document.xml

cp plain.zip descriptor.zip zip64.zip stored.zip stream.zip stream64.zip office.zip "$here/"
