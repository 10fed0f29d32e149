#!/usr/bin/env python3
"""Builds the Windows icon file from the application's PNG icons.

    make-ico.py OUTPUT.ico ICON.png...

Images narrower than 256 pixels become 32-bit BGRA bitmaps with an AND mask, the
form every version of Windows reads; a 256 x 256 image is stored as an 8-bit RGBA
PNG, as Windows expects for that size. Inputs are non-interlaced PNGs of colour
type RGB or RGBA at 8 or 16 bits per channel. Only the standard library is used,
so the build needs nothing beyond Python itself.
"""

import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def read_png(path):
    """Returns (width, height, rows of 8-bit RGBA bytes, top row first)."""
    with open(path, "rb") as f:
        data = f.read()

    if not data.startswith(PNG_SIGNATURE):
        raise SystemExit(f"{path}: not a PNG file")

    pos = len(PNG_SIGNATURE)
    header = None
    compressed = bytearray()

    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length

        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break

    width, height, depth, colour_type, _, _, interlace = header

    if colour_type not in (2, 6) or depth not in (8, 16) or interlace != 0:
        raise SystemExit(f"{path}: colour type {colour_type}, depth {depth}, "
                         f"interlace {interlace} is not supported")

    channels = 4 if colour_type == 6 else 3
    pixel_bytes = channels * depth // 8
    stride = width * pixel_bytes
    raw = zlib.decompress(bytes(compressed))

    rows = []
    previous = bytearray(stride)

    for y in range(height):
        start = y * (stride + 1)
        filter_type = raw[start]
        row = bytearray(raw[start + 1:start + 1 + stride])

        for i in range(stride):
            left = row[i - pixel_bytes] if i >= pixel_bytes else 0
            up = previous[i]
            up_left = previous[i - pixel_bytes] if i >= pixel_bytes else 0

            if filter_type == 1:
                row[i] = (row[i] + left) & 0xFF
            elif filter_type == 2:
                row[i] = (row[i] + up) & 0xFF
            elif filter_type == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif filter_type == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else up_left)
                row[i] = (row[i] + predictor) & 0xFF

        previous = row

        if depth == 16:
            samples = [(((row[i] << 8) | row[i + 1]) * 255 + 32767) // 65535
                       for i in range(0, stride, 2)]
        else:
            samples = list(row)

        if channels == 3:
            samples = [v for i in range(0, len(samples), 3) for v in samples[i:i + 3] + [255]]

        rows.append(bytes(samples))

    return width, height, rows


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def encode_png(width, height, rows):
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    scanlines = b"".join(b"\x00" + row for row in rows)
    return (PNG_SIGNATURE + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(scanlines, 9)) + png_chunk(b"IEND", b""))


def encode_bitmap(width, height, rows):
    # BITMAPINFOHEADER of an icon image: the height counts the colour rows and
    # the AND mask together; both are stored bottom row first.
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)

    colours = bytearray()
    for row in reversed(rows):
        for x in range(width):
            r, g, b, a = row[4 * x:4 * x + 4]
            colours += bytes((b, g, r, a))

    # Every mask row is padded to a multiple of 32 bits; a set bit marks a
    # fully transparent pixel for readers that ignore the alpha channel.
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x in range(width):
            if row[4 * x + 3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line

    return header + bytes(colours) + bytes(mask)


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)

    images = []
    for path in argv[2:]:
        width, height, rows = read_png(path)
        if width != height or width > 256:
            raise SystemExit(f"{path}: icons are square and at most 256 pixels wide")
        body = encode_png(width, height, rows) if width == 256 else encode_bitmap(width, height, rows)
        images.append((width, body))

    images.sort(key=lambda image: image[0])

    # ICONDIR, then one ICONDIRENTRY per image (a size of 256 is written as 0),
    # then the images in the same order.
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, body in images:
        size = width % 256
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(body), offset)
        offset += len(body)

    with open(argv[1], "wb") as f:
        f.write(directory + b"".join(body for _, body in images))


if __name__ == "__main__":
    main(sys.argv)
