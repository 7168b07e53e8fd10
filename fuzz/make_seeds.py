#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/, one directory per target.

The seeds are committed; run this again after changing a target's input
layout. Integers are laid out as FuzzedDataProvider takes them: from the
tail of the input backwards, the last byte the most significant.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


class Tail:
    """Integers for FuzzedDataProvider, in the order the target takes them."""

    def __init__(self):
        self.reversed_bytes = bytearray()

    def integral(self, value, width):
        # The target's first integer is the input's last byte(s).
        for shift in reversed(range(width)):
            self.reversed_bytes.append((value >> (8 * shift)) & 0xFF)

    def bytes(self):
        return bytes(reversed(self.reversed_bytes))


def write(target, name, content):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(content)


# --- catalogue: file 1, file 2, file 3, then the two lengths (16 bits) ---

def catalogue(name, keys, names, paths):
    tail = Tail()
    tail.integral(len(keys), 2)
    tail.integral(len(names), 2)
    write("catalogue", name, keys + names + paths + tail.bytes())


def lines(items, end):
    return b"".join(item + end for item in items)


three = [b"a", b"b", b"c"]
catalogue("crlf", lines(three, b"\r\n"),
          lines([b"Primero", b"Segundo", b"Tercero"], b"\r\n"),
          lines([b"uno.zip", b"dos.zip", b"tres.zip"], b"\r\n"))
catalogue("lf_empty_key_line", b"a\n\nb\nc\n", b"Uno\nDos\nTres\n",
          b"1.bin\n2.bin\n3.bin")
catalogue("lone_cr_and_26", b"a\rb\r\rc", b"Uno\rDos\x1aTres\r",
          b"1\r\n2\r3\x1a\r\n4\r\n")
catalogue("bom_and_long_line", b"\xef\xbb\xbfa\r\nb\r\n",
          b"\xef\xbb\xbf" + b"n" * 300 + b"\r\n  spaced  \r\n",
          b"p" * 255 + b"\r\n" + b"q" * 256 + b"\r\n")
catalogue("empty", b"", b"", b"")
many = [b"k"] * 1001
catalogue("more_than_999_lines", lines(many, b"\n"), lines(many, b"\r\n"),
          lines(many, b"\r"))


# --- stream: bytes, then operations, the length (0..4096, 16 bits), the
# --- piece sizes (1..256, 8 bits each) and their count (1..8)

AT_END, READ_CHAR, READ_STRING, SKIP_LINE = range(4)


def stream(name, data, pieces, operations):
    tail = Tail()
    tail.integral(len(pieces) - 1, 1)
    for piece in pieces:
        tail.integral(piece - 1, 1)
    tail.integral(len(data), 2)
    for operation in operations:
        if isinstance(operation, tuple):
            tail.integral(READ_STRING, 1)
            tail.integral(operation[1], 2)
        else:
            tail.integral(operation, 1)
    write("stream", name, data + tail.bytes())


loader_pass = [AT_END, (READ_STRING, 255), SKIP_LINE]
stream("lines_whole_refills", b"uno\r\ndos\nres\rcuatro", [256], loader_pass * 5)
stream("crlf_split_by_refill", b"ab\r\ncd\r\n", [3, 1, 4], loader_pass * 3)
stream("one_byte_refills", b"x\r\ry\x1az\n", [1],
       [READ_CHAR, SKIP_LINE, AT_END, READ_CHAR, SKIP_LINE, AT_END])
stream("long_line", b"L" * 600 + b"\r\nfin", [200, 256, 7],
       [(READ_STRING, 255), (READ_STRING, 300), SKIP_LINE, (READ_STRING, 0),
        AT_END])
stream("empty", b"", [5], [AT_END, READ_CHAR, (READ_STRING, 10), SKIP_LINE])


# --- command_line: arbitrary bytes; a few lines of the usual shapes

write("command_line", "plain", b'"wget.exe"  -O 1.zvd http://127.0.0.1:8642/1.zvd')
write("command_line", "quotes_and_backslashes",
      b'"C:\\Program Files\\wget.exe" "a b" "c\\"d" e\\\\"f g" h\\\\\\"i ""')
write("command_line", "tabs", b'prog\t"x\ty"\t\t"" \\\\')


# --- key_decoder: terminal bytes as typed

write("key_decoder", "typing", "año 1\r".encode() + b"\x7f\x08\t")
write("key_decoder", "cursor_keys", b"\x1b[A\x1b[B\x1b[1;5C\x1bOD\x1b[H\x1b[4~")
write("key_decoder", "function_keys", b"\x1bOP\x1b[15~\x1b[24;2~\x1b[[A")
write("key_decoder", "alt_and_escape", b"\x1bx\x1b\x1b\x1b[\x1b")
write("key_decoder", "focus_and_reports", b"\x1b[I\x1b[O\x1b[12;40R\x1b[?1;2c")
write("key_decoder", "utf8_edges", "€‚\u00a0".encode() + b"\xc3\xe2\x82\xff\xf4\x90")


# --- cursor_report: the key-buffer choice (a bool at the tail), then bytes

for name, typed in (("report_alone", b"\x1b[12;5R"),
                    ("keys_around_report", b"ab\x1b[3;40Rcd\x1b[A"),
                    ("escape_then_report", b"\x1b\x1b[1;2R\x1b[12R\x1b[1;2")):
    write("cursor_report", name, typed + bytes([0]))


# --- console_output: console calls as the target takes them; integers from
# --- the tail, texts from the head (a backslash and another byte end one)

class Calls:
    STEPS = ["writeCharacters", "writeAttributes", "fillCharacters",
             "fillAttributes", "scroll", "setCursor", "paint",
             "foreignOutput", "resize"]

    def __init__(self, columns, rows, line_feed_returns):
        self.head = bytearray()
        self.tail = Tail()
        self.columns = columns
        self.rows = rows
        self.tail.integral(columns - 2, 1)
        self.tail.integral(rows - 1, 1)
        self.tail.integral(int(line_feed_returns), 1)

    def step(self, name):
        self.tail.integral(self.STEPS.index(name), 1)

    def cell(self, x, y):
        self.tail.integral(x + 1, 1)
        self.tail.integral(y + 1, 1)

    def text(self, content):
        self.head += content.replace(b"\\", b"\\\\") + b"\\."

    def write(self, x, y, content):
        self.step("writeCharacters")
        self.cell(x, y)
        self.text(content)

    def fill(self, x, y, length, character=32, attribute=7):
        self.step("fillCharacters")
        self.tail.integral(character, 1)
        self.tail.integral(length, 2)
        self.cell(x, y)
        self.step("fillAttributes")
        self.tail.integral(attribute, 2)
        self.tail.integral(length, 2)
        self.cell(x, y)

    def scroll_up(self):
        self.step("scroll")
        for value in (0, 1, self.columns - 1, self.rows - 1):  # source
            self.tail.integral(value + 3, 1)
        self.tail.integral(1, 1)  # clipped
        for value in (0, 0, self.columns - 1, self.rows - 1):  # clip
            self.tail.integral(value + 3, 1)
        self.cell(0, 0)
        self.tail.integral(32, 1)
        self.tail.integral(7, 2)

    def cursor(self, x, y):
        self.step("setCursor")
        self.cell(x, y)

    def resize(self, columns, rows):
        self.step("resize")
        self.tail.integral(columns - 2, 1)
        self.tail.integral(rows - 1, 1)

    def foreign(self, content):
        self.step("foreignOutput")
        self.text(content)

    def bytes(self):
        return bytes(self.head) + self.tail.bytes()


menu = Calls(80, 25, True)
menu.fill(0, 0, 80 * 25)
for row in range(24):
    menu.write(0, row, b"%c para descargar Elemento %d" % (65 + row, row))
menu.cursor(2, 24)
menu.step("paint")
menu.scroll_up()
menu.write(0, 24, b"> ")
menu.cursor(2, 24)
write("console_output", "menu_and_scroll", menu.bytes())

cells = Calls(20, 6, False)
cells.fill(0, 0, 120, 0, 0x1E)
cells.write(0, 0, bytes(range(256))[:120])
cells.cursor(19, 5)
write("console_output", "every_byte_in_colour", cells.bytes())

resized = Calls(30, 10, True)
resized.write(0, 9, b"bottom row of the window")
resized.cursor(5, 9)
resized.step("paint")
resized.resize(20, 5)
resized.step("paint")
resized.resize(40, 12)
resized.foreign(b"wget: 100% [=====>]")
resized.write(3, 3, b"after")
write("console_output", "resize_and_foreign_output", resized.bytes())
