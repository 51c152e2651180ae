#!/usr/bin/env python3
"""Writes the seed pictures of the decoder fuzz target into fuzz/corpus/nviewlib.

Each seed is one selector byte (index of the file extension the fuzz target gives it:
.tga .dib .rle .jpg .jif .gif .pcx .jpeg) followed by a tiny picture. TARGA, BMP and PCX are
written here byte by byte; GIF, JPEG and PNG by the gm tool."""
import os
import struct
import subprocess
import sys
import tempfile

EXT = {".tga": 0, ".dib": 1, ".rle": 2, ".jpg": 3, ".jif": 4, ".gif": 5, ".pcx": 6, ".jpeg": 7}
W, H = 5, 3
PIXELS = [(40 + 23 * x, 15 + 37 * y, 200 - 11 * x - 5 * y) for y in range(H) for x in range(W)]


def ppm():
    return b"P6\n%d %d\n255\n" % (W, H) + bytes(c for p in PIXELS for c in p)


def bmp24():
    stride = (3 * W + 3) & ~3
    rows = b""
    for y in reversed(range(H)):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in PIXELS[y * W:(y + 1) * W])
        rows += row + b"\0" * (stride - len(row))
    return bmp_headers(W, H, 24, 0, 0, len(rows)) + rows


def bmp_headers(w, h, depth, compression, colours, size):
    offset = 54 + 4 * colours
    return (b"BM" + struct.pack("<IHHI", offset + size, 0, 0, offset) +
            struct.pack("<IiiHHIIiiII", 40, w, h, 1, depth, compression, size, 2835, 2835,
                        colours, 0))


def bmp_rle8():
    palette = [(0, 0, 0), (250, 10, 20), (30, 200, 40), (60, 70, 210)]
    stream = bytes([3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 6, 3, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1])
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return bmp_headers(6, 3, 8, 1, len(palette), len(stream)) + pal + stream


def tga(kind, depth, descriptor, body, w=W, h=H):
    return struct.pack("<BBBHHBHHHHBB", 0, 0, kind, 0, 0, 0, 0, 0, w, h, depth, descriptor) + body


def tga24():
    return tga(2, 24, 0, b"".join(bytes((b, g, r)) for (r, g, b) in PIXELS))


def tga_rle():
    body = b""
    for y in range(H):
        body += bytes([0x80 | 2]) + bytes((9, 8, 7)) + bytes([1]) + bytes((1, 2, 3, 4, 5, 6))
    return tga(10, 24, 0x20, body)


def tga_grey():
    return tga(3, 8, 0x20, bytes(range(0, 15 * 17, 17)))


def tga32():
    return tga(2, 32, 0x28, b"".join(bytes((b, g, r, 40 * i % 256))
                                       for i, (r, g, b) in enumerate(PIXELS)))


def pcx8():
    bpl = (W + 1) & ~1
    head = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, W - 1, H - 1, 72, 72)
    head += bytes(48) + bytes([0, 1]) + struct.pack("<HHHH", bpl, 1, 0, 0)
    head += bytes(128 - len(head))
    body = b""
    for y in range(H):
        # a run of two, a run of one for a value >= 0xC0, two literals, the padding byte
        body += bytes([0xC2, y, 0xC1, 0xC8, 5, 6, 0])
    pal = bytes([0x0C]) + bytes((i * 3 + c) % 256 for i in range(256) for c in range(3))
    return head + body + pal


def gm(source, target, *options, fmt=""):
    output = f"{fmt}:{target}" if fmt else target
    subprocess.run(["gm", "convert", source, *options, "+profile", "*", output], check=True)
    with open(target, "rb") as f:
        return f.read()


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus", "nviewlib")
    os.makedirs(out, exist_ok=True)
    seeds = {
        "tga24": (".tga", tga24()),
        "tga_rle": (".tga", tga_rle()),
        "tga_grey": (".tga", tga_grey()),
        "tga_alpha": (".tga", tga32()),
        "bmp24": (".dib", bmp24()),
        "bmp_rle8": (".rle", bmp_rle8()),
        "pcx8": (".pcx", pcx8()),
    }
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "p.ppm")
        with open(src, "wb") as f:
            f.write(ppm())
        t = lambda name: os.path.join(tmp, name)
        seeds["gif"] = (".gif", gm(src, t("a.gif")))
        seeds["gif_transparent"] = (".gif", gm(src, t("b.gif"), "-transparent", "#280FC8"))
        seeds["pcx24"] = (".pcx", gm(src, t("c.pcx")))
        seeds["jpeg"] = (".jpg", gm(src, t("d.jpg"), "-quality", "50"))
        seeds["jpeg_grey"] = (".jif", gm(src, t("e.jpg"), "-colorspace", "GRAY", "-quality", "50"))
        seeds["jpeg_cmyk"] = (".jpeg", gm(src, t("f.jpg"), "-colorspace", "CMYK", "-quality", "50"))
        seeds["jpeg_progressive"] = (".jpg", gm(src, t("g.jpg"), "-interlace", "Line"))
        seeds["png_as_jpg"] = (".jpg", gm(src, t("h.png"), fmt="PNG"))
        seeds["bmp_as_tga"] = (".tga", bmp24())
    for name, (ext, data) in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(bytes([EXT[ext]]) + data)
        print(f"{name}: {len(data) + 1} bytes", file=sys.stderr)


if __name__ == "__main__":
    main()
