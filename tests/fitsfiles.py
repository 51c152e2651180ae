"""The FITS file builder of the script tests and of the fuzz seeds: cards, headers and
images written byte by byte, so that a test can also write what no library would, and
tile-compressed images written by astropy, as bytes to damage."""
import io
import struct


def card(key, value=None):
    """An 80-character card. A value text is written as given, right-aligned to column 30
    unless it is a quoted string; no value gives a card of the keyword alone (END)."""
    if value is None:
        return key.ljust(80)[:80]
    value = str(value)
    return (key.ljust(8) + "= " + (value if value.startswith("'") else value.rjust(20))).ljust(80)[:80]


def value_text(value):
    """The card text of a Python value: T/F, a quoted string, or the number."""
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, str):
        return "'" + value.replace("'", "''").ljust(8) + "'"
    return repr(value) if isinstance(value, float) else str(value)


def header(cards):
    """The cards (texts or 80-byte strings) and END, padded with blanks to whole blocks."""
    text = "".join(c.decode("latin-1") if isinstance(c, bytes) else c.ljust(80)[:80]
                   for c in cards) + card("END")
    return (text + " " * (-len(text) % 2880)).encode("latin-1")


PACK = {8: "B", 16: "h", 32: "i", 64: "q", -32: "f", -64: "d"}


def image(bitpix, cols, rows, values=None, extra=(), planes=None):
    """A primary image: `values` in file order (bottom row first, plane by plane), zeros
    when none are given, `extra` cards (texts, or (keyword, value text) pairs) after NAXISn."""
    cards = [card("SIMPLE", "T"), card("BITPIX", bitpix), card("NAXIS", 3 if planes else 2),
             card("NAXIS1", cols), card("NAXIS2", rows)]
    if planes:
        cards.append(card("NAXIS3", planes))
    cards += [c if isinstance(c, (str, bytes)) else card(*c) for c in extra]
    if values is None:
        data = bytes(cols * rows * (planes or 1) * abs(bitpix) // 8)
    else:
        data = struct.pack(">" + PACK[bitpix] * len(values), *values)
    return header(cards) + data + b"\0" * (-len(data) % 2880)


def save(path, data):
    """Writes the bytes `data` to `path`; returns the path."""
    with open(path, "wb") as f:
        f.write(data)
    return path


def compressed(data, cards=(), **options):
    """A tile-compressed image written by astropy (CompImageHDU options) after an empty
    primary, with (keyword, value) `cards` set in its header, as a bytearray to damage."""
    from astropy.io import fits  # only the callers that compress need astropy
    hdu = fits.CompImageHDU(data, **options)
    for key, value in cards:
        hdu.header[key] = value
    out = io.BytesIO()
    fits.HDUList([fits.PrimaryHDU(), hdu]).writeto(out)
    return bytearray(out.getvalue())


def table_rows(raw):
    """(rows, start of the heap) of the table after the one-block primary of compressed()."""
    text = raw[2880:5760].decode("latin-1")
    rows, width = (int(text.split(key + "  =")[1][:21]) for key in ("NAXIS2", "NAXIS1"))
    return rows, 5760 + rows * width
