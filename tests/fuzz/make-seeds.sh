#!/usr/bin/env bash
# Remakes the seed files of the fuzz targets that start from disk structures: boot regions cut
# from volumes made by mkfs.fat and mkntfs (label_fuzz), and drive layouts that point at the
# volumes layout_fuzz places on its disk. The results are checked in; run this only to change
# them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
labels=$here/corpus/label_fuzz
layouts=$here/corpus/layout_fuzz
mkdir -p "$labels" "$layouts"
export SOURCE_DATE_EPOCH=1370250000

# FAT32: 1 MiB, 512-byte clusters, 8 reserved sectors, so the root directory starts at 20 KiB.
fat() {  # name label-args...
  truncate -s 1M "$work/$1.img"
  mkfs.fat -F 32 -s 1 -R 8 -i 1234ABCD "${@:2}" "$work/$1.img" >/dev/null 2>&1
  head -c 20992 "$work/$1.img" >"$labels/$1"
}
fat fat32-recovery -n RECOVERY
fat fat32-nolabel

# NTFS: 2 MiB, 512-byte clusters; record 3 of the file table ends at 20 KiB.
ntfs() {  # name label
  truncate -s 2M "$work/$1.img"
  mkntfs -F -q -Q -c 512 -s 512 -L "$2" "$work/$1.img" >/dev/null 2>&1
  head -c 20480 "$work/$1.img" >"$labels/$1"
}
ntfs ntfs-recovery Recovery
ntfs ntfs-data Data

# BitLocker: an NTFS boot sector with the BitLocker signature in place of "NTFS    ".
head -c 512 "$labels/ntfs-recovery" >"$labels/bitlocker"
printf -- '-FVE-FS-' | dd of="$labels/bitlocker" bs=1 seek=3 conv=notrunc status=none

python3 - "$layouts" <<'PY'
import struct, sys
out = sys.argv[1]
MIB = 1 << 20

def entry(style, offset, length, number, mbr_type=0x07, recognized=1):
    e = bytearray(144)
    struct.pack_into('<IqqI', e, 0, style, offset, length, number)
    if style == 0:
        struct.pack_into('<BBBxI', e, 0x20, mbr_type, 0, recognized, offset // 512)
    else:
        e[0x20:0x30] = bytes.fromhex('a2a0d0ebe5b9334487c068b6b72699c7')
        e[0x30:0x40] = bytes(range(16))
        e[0x48:0x48 + 16] = 'Basic data'.encode('utf-16-le').ljust(16, b'\0')
    return bytes(e)

def layout(style, entries, count=None):
    head = bytearray(48)
    struct.pack_into('<II', head, 0, style, len(entries) if count is None else count)
    if style == 1:
        struct.pack_into('<qqI', head, 0x18, 34 * 512, 3 * MIB, 128)
    else:
        struct.pack_into('<I', head, 8, 0x1234ABCD)
    return bytes(head) + b''.join(entries)

seeds = {
    'gpt-fat32-recovery': layout(1, [entry(1, 0, MIB, 1), entry(1, MIB, MIB, 2)]),
    'gpt-ntfs-recovery': layout(1, [entry(1, MIB, MIB, 1), entry(1, 2 * MIB, MIB, 2)]),
    'mbr-ntfs-recovery': layout(0, [entry(0, MIB, MIB, 1), entry(0, 2 * MIB, MIB, 2),
                                    entry(0, 0, 0, 0, 0, 0), entry(0, 0, 0, 0, 0, 0)]),
    'mbr-unrecognized': layout(0, [entry(0, 2 * MIB, MIB, 1, 0x05, 0)]),
    'raw': layout(2, []),
    'count-beyond-bytes': layout(1, [entry(1, MIB, MIB, 1)], count=101),
    'short-header': layout(1, [])[:6],
}
for name, data in seeds.items():
    with open(f'{out}/{name}', 'wb') as f:
        f.write(data)
PY
echo "seeds written to $labels and $layouts"
