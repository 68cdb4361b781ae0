#!/usr/bin/env python3
"""check_signature.py - checks the ad-hoc code signature of every slice of
macOS Mach-O files: the LC_CODE_SIGNATURE blob holds a CodeDirectory whose
hash of each page of the slice, up to its code limit, matches the page. A
Mac with Apple silicon runs no arm64 code whose signature does not match.

The layout, from Apple's open-source headers (xnu's osfmk/kern/cs_blobs.h,
cctools' mach-o/loader.h): a big-endian SuperBlob (magic 0xfade0cc0,
length, count, then type and offset of each blob) holding a CodeDirectory
(magic 0xfade0c02: version, flags, hash offset, identifier offset, special
slots, code slots, code limit, hash size, hash type, platform, log2 of the
page size).

    check_signature.py FILE...
"""
import hashlib
import struct
import sys

FAT, MACHO = 0xcafebabe, 0xfeedfacf
LC_CODE_SIGNATURE = 0x1d
HASHES = {1: hashlib.sha1, 2: hashlib.sha256}


def slices(data):
    if struct.unpack_from('>I', data)[0] == FAT:
        count = struct.unpack_from('>I', data, 4)[0]
        for i in range(count):
            cpu, _, offset, size, _ = struct.unpack_from('>5I', data, 8 + 20 * i)
            yield cpu, data[offset:offset + size]
    else:
        yield struct.unpack_from('<I', data, 4)[0], data


def check(name, cpu, image):
    magic, _, _, _, commands, _, _, _ = struct.unpack_from('<8I', image)
    if magic != MACHO:
        return f'{name} (cpu {cpu:#x}): not a 64-bit Mach-O slice'
    at = 32
    for _ in range(commands):
        command, size = struct.unpack_from('<2I', image, at)
        if command == LC_CODE_SIGNATURE:
            offset, length = struct.unpack_from('<2I', image, at + 8)
            break
        at += size
    else:
        return f'{name} (cpu {cpu:#x}): not signed'
    blob = image[offset:offset + length]
    magic, _, count = struct.unpack_from('>3I', blob)
    if magic != 0xfade0cc0:
        return f'{name} (cpu {cpu:#x}): no signature blob'
    for i in range(count):
        kind, where = struct.unpack_from('>2I', blob, 12 + 8 * i)
        if kind != 0:  # the CodeDirectory
            continue
        magic, _, _, _, hash_offset, _, _, slots, limit = struct.unpack_from('>9I', blob, where)
        hash_size, hash_type, _, page_shift = struct.unpack_from('>4B', blob, where + 36)
        if magic != 0xfade0c02 or hash_type not in HASHES:
            return f'{name} (cpu {cpu:#x}): an unknown code directory'
        page = 1 << page_shift
        for slot in range(slots):
            start = slot * page
            got = HASHES[hash_type](image[start:min(start + page, limit)]).digest()[:hash_size]
            want = blob[where + hash_offset + slot * hash_size:][:hash_size]
            if got != want:
                return f'{name} (cpu {cpu:#x}): page {slot} does not match its hash'
        if slots * page < limit:
            return f'{name} (cpu {cpu:#x}): pages beyond the signed ones'
        return None
    return f'{name} (cpu {cpu:#x}): no code directory'


def main():
    failed = False
    for name in sys.argv[1:]:
        with open(name, 'rb') as f:
            data = f.read()
        for cpu, image in slices(data):
            problem = check(name, cpu, image)
            print(problem or f'{name} (cpu {cpu:#x}): every page matches its hash')
            failed |= problem is not None
    sys.exit(1 if failed else 0)


main()
