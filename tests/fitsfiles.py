"""The FITS file builder of the script tests and of the fuzz seeds: cards, headers and
images written byte by byte, so that a test can also write what no library would."""
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
