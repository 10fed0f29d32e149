#!/usr/bin/env python3
"""Writes the framing fuzzer's seed corpus: the start of the development
firmware image, the empty image, and images damaged in each way the upload
must stop at.

    tests/fuzz/make-corpus.py build/fuzz/firmware/development-image.syx tests/fuzz/corpus
"""
import pathlib
import sys


def split_messages(image, count):
    """The first `count` messages of a well-formed SysEx stream."""
    messages, start = [], 0
    while len(messages) < count:
        end = image.index(0xF7, start)
        messages.append(image[start:end + 1])
        start = end + 1
    return messages


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)

    image = pathlib.Path(sys.argv[1]).read_bytes()
    out = pathlib.Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)

    # Six short header messages, then the first 4,009-byte data block.
    m = split_messages(image, 7)
    headers = b"".join(m[:6])

    seeds = {
        "embedded-first-messages.syx": headers + m[6],
        "empty.syx": b"",
        "first-message-truncated.syx": m[0][:5],
        "data-block-truncated.syx": headers + m[6][:2000],
        "missing-f0.syx": m[0] + m[1][1:] + m[2],
        "stray-byte-between-messages.syx": m[0] + b"\x00" + m[1] + m[2],
        "no-f7-before-the-end.syx": m[0] + m[1] + m[2][:-1],
        "lost-f7-joins-two-messages.syx": m[0] + m[1][:-1] + m[2],
        "many-empty-messages.syx": b"\xF0\xF7" * 2000,
    }

    for name, data in seeds.items():
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main()
