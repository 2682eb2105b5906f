#!/usr/bin/env bash
# Rebuilds the archives beside this script from alc.txt and readme.txt with Python's zipfile and Info-ZIP's
# zip. The archives are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"
rm -f python_*.zip infozip_*.zip
touch -d '2024-05-17 13:45:30' alc.txt readme.txt

python3 - <<'PY'
import io, zipfile

def add(z, name, data):
    info = zipfile.ZipInfo(name, date_time=(2024, 5, 17, 13, 45, 30))
    info.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(info, data)

alc = open("alc.txt", "rb").read()
readme = open("readme.txt", "rb").read()
with zipfile.ZipFile("python_deflate.zip", "w") as z:
    add(z, "alc.txt", alc)
    add(z, "empty.txt", b"")
    add(z, "readme.txt", readme)
    z.comment = b"made by zipfile"

class Unseekable(io.RawIOBase):
    """A write-only stream without seek: zipfile then writes data descriptors."""
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)

with open("python_stream.zip", "wb") as f:
    with zipfile.ZipFile(Unseekable(f), "w") as z:
        add(z, "alc.txt", alc)
PY

zip -q infozip_deflate.zip alc.txt readme.txt
zip -q -0 infozip_stored.zip readme.txt
zip -q - alc.txt | cat > infozip_stream.zip
