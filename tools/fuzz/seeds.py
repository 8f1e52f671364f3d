#!/usr/bin/env python3
"""Cuts fuzz seeds out of writer-made Jet 4 files: data pages with the column layout of their
table (row_decoder_fuzz) and long values with the pages of their chains (long_value_fuzz).
usage: seeds.py ROWS_DIR LONG_VALUES_DIR FILE..."""
import os
import struct
import sys

PAGE = 4096


def u16(b, at):
    return struct.unpack_from('<H', b, at)[0]


def u32(b, at):
    return struct.unpack_from('<I', b, at)[0]


def row_bounds(page, row):
    start = u16(page, 14 + 2 * row) & 0x1FFF
    end = PAGE if row == 0 else u16(page, 12 + 2 * row) & 0x1FFF
    return start, end


def main():
    rows_dir, lv_dir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    for path in files:
        image = open(path, 'rb').read()
        name = os.path.basename(path)
        pages = [image[i:i + PAGE] for i in range(0, len(image) - PAGE + 1, PAGE)]
        for number, page in enumerate(pages):
            if page[0] == 0x02 and page[1] == 0x01:
                num_var, num_cols, num_ridx = u16(page, 43), u16(page, 45), u32(page, 51)
                at = 63 + num_ridx * 12
                columns = []
                for c in range(num_cols):
                    e = page[at + 25 * c: at + 25 * (c + 1)]
                    if len(e) < 25:
                        break
                    columns.append((e[5], u16(e, 7), u16(e, 21), 0 if e[0] == 1 else u16(e, 23),
                                    e[15] & 1))
                columns.sort()
                layout = bytes([len(columns) % 32, 2 if num_var else 0])
                for col_num, var, fixed_at, size, fixed in columns[:31]:
                    layout += struct.pack('<BBHHB', col_num & 0xFF, var & 0xFF, fixed_at, size, fixed)
                for data_number, data in enumerate(pages):
                    if data[0] == 0x01 and u32(data, 4) == number:
                        with open(os.path.join(rows_dir, f'{name}-{data_number}'), 'wb') as f:
                            f.write(layout + data)
            if page[0] == 0x01 and page[4:8] == b'LVAL':
                for row in range(u16(page, 12)):
                    start, end = row_bounds(page, row)
                    header = struct.pack('<III', (end - start) | 0x40000000, (number << 8) | row, 0)
                    with open(os.path.join(lv_dir, f'{name}-{number}-{row}'), 'wb') as f:
                        f.write(struct.pack('<IB', number, 12) + header + page)
                start, end = row_bounds(page, 0)
                chain, length, nxt = [page], end - start - 4, u32(page, start)
                while nxt == (number + len(chain)) << 8 and number + len(chain) < len(pages):
                    following = pages[number + len(chain)]
                    s, e = row_bounds(following, 0)
                    chain.append(following)
                    length += e - s - 4
                    nxt = u32(following, s)
                if len(chain) > 1:
                    header = struct.pack('<III', length, number << 8, 0)
                    with open(os.path.join(lv_dir, f'{name}-{number}-chain'), 'wb') as f:
                        f.write(struct.pack('<IB', number, 12) + header + b''.join(chain))


main()
