"""Targa files for the end-to-end test: the pictures it opens in the program,
and the preview buffers that `keyvale-cli preview` writes for comparison.

Only what the test needs: 24/32-bit true-colour writing (raw or run-length
encoded) and reading the uncompressed 32-bit files the command line writes.
"""

import struct

HEADER_BYTES = 18


def _pack_pixel(rgb, bits_per_pixel):
    r, g, b = rgb
    if bits_per_pixel == 32:
        # The file's own alpha must play no part in the key: give it a value
        # that would show if it leaked through.
        return bytes((b, g, r, 0x5A))
    return bytes((b, g, r))


def _rle_row(pixels):
    """One row as run-length packets. Packets never cross rows, which every
    reader accepts."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes((0x80 | (run - 1),)) + pixels[i]  # 1xxxxxxx: repeat
            i += run
            continue
        start = i
        while i < len(pixels) and i - start < 128:
            if i + 1 < len(pixels) and pixels[i + 1] == pixels[i]:
                break
            i += 1
        out += bytes((i - start - 1,)) + b"".join(pixels[start:i])  # 0xxxxxxx: raw
    return bytes(out)


def write_picture(path, width, height, pixel_at, bits_per_pixel=24, rle=False,
                  image_id=b""):
    """Writes pixel_at(x, y) -> (r, g, b), y = 0 at the top, as a bottom-up
    Targa (descriptor 0): the first stored row is the bottom one."""
    image_type = 10 if rle else 2
    header = struct.pack("<BBBHHBHHHHBB", len(image_id), 0, image_type, 0, 0, 0,
                         0, 0, width, height, bits_per_pixel, 0)
    rows = []
    for y in range(height - 1, -1, -1):
        row = [_pack_pixel(pixel_at(x, y), bits_per_pixel) for x in range(width)]
        rows.append(_rle_row(row) if rle else b"".join(row))
    with open(path, "wb") as f:
        f.write(header + image_id + b"".join(rows))


def read_buffer(path):
    """Reads a 32-bit uncompressed Targa as (width, height, BGRA bytes in
    stored row order)."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER_BYTES:
        raise ValueError(f"{path}: shorter than a Targa header")
    id_length, colour_map_type, image_type = data[0], data[1], data[2]
    width, height = struct.unpack_from("<HH", data, 12)
    bits_per_pixel, descriptor = data[16], data[17]
    if (colour_map_type, image_type, bits_per_pixel, descriptor) != (0, 2, 32, 0):
        raise ValueError(f"{path}: not an uncompressed 32-bit bottom-up Targa")
    start = HEADER_BYTES + id_length
    pixels = data[start:start + width * height * 4]
    if len(pixels) != width * height * 4:
        raise ValueError(f"{path}: pixel data cut short")
    return width, height, pixels


def screen_rgb_rows(path):
    """A preview buffer as the screen shows it: a list of RGB rows, top row
    first. Buffer row 0 is the bottom row on screen (the preview surfaces are
    bottom-up bitmaps), and alpha is never painted, so it is dropped."""
    width, height, bgra = read_buffer(path)
    rows = []
    for j in range(height - 1, -1, -1):
        row = bytearray(width * 3)
        line = bgra[j * width * 4:(j + 1) * width * 4]
        row[0::3] = line[2::4]
        row[1::3] = line[1::4]
        row[2::3] = line[0::4]
        rows.append(bytes(row))
    return rows
