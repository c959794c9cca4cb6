#!/usr/bin/python3
"""Second reader of the rating tags: prints one line per file, its rating and play count
fields as mutagen finds them, sorted, as NAME=VALUE separated by blanks.

POPM frames show as POPM[email]=rating/count."""
import sys

import mutagen
from mutagen.flac import FLAC
from mutagen.id3 import ID3
from mutagen.mp4 import MP4


def fields(path):
    found = {}
    if path.endswith(".mp3"):
        tags = ID3(path)
        for frame in tags.getall("TXXX"):
            if frame.desc.upper().startswith("FMPS_"):
                found[frame.desc] = str(frame.text[0])
        for frame in tags.getall("POPM"):
            found["POPM[%s]" % frame.email] = "%d/%d" % (frame.rating, getattr(frame, "count", 0))
    elif path.endswith(".m4a"):
        for key, values in (MP4(path).tags or {}).items():
            if key.startswith("----:com.apple.iTunes:FMPS_"):
                found[key.split(":", 2)[2]] = bytes(values[0]).decode("utf-8")
    elif path.endswith(".flac"):
        for key, value in FLAC(path).tags or []:
            name = key.upper()
            if name.startswith("FMPS_") or name.startswith("RATING") or name.startswith("PLAYCOUNT"):
                found[name] = value
    return " ".join("%s=%s" % item for item in sorted(found.items()))


for path in sys.argv[1:]:
    try:
        print(fields(path))
    except mutagen.MutagenError as error:
        print("unreadable: %s" % error)
