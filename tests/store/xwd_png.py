"""XWD screen dumps (as xwd -root writes them on a 24/32-bit display) to PNG, standard
library only."""

import struct
import zlib


def convert(data, target):
    header_size, _version, _format, depth, width, height = struct.unpack(">6I", data[:24])
    fields = struct.unpack(">25I", data[:100])
    bits_per_pixel = fields[11]
    bytes_per_line = fields[12]
    byte_order = fields[7]
    ncolors = fields[19]
    if bits_per_pixel not in (24, 32) or depth not in (24, 32):
        raise ValueError("unsupported dump: %d bits per pixel, depth %d" % (bits_per_pixel, depth))
    step = bits_per_pixel // 8
    pixels = data[header_size + ncolors * 12:]
    rows = bytearray()
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * step]
        rows.append(0)
        if byte_order == 0:  # least significant byte first: B G R [X]
            for x in range(0, len(line), step):
                rows += bytes((line[x + 2], line[x + 1], line[x]))
        else:  # most significant first: [X] R G B
            for x in range(step - 3, len(line), step):
                rows += line[x:x + 3]

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))
    with open(target, "wb") as f:
        f.write(png)
