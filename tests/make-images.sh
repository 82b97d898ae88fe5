#!/usr/bin/env bash
# Builds the disk images the label and locator tests read, with the real tools (sfdisk,
# sgdisk, mkfs.fat, mkntfs, fatlabel, mtools), sparse, into OUT. For every partition of every
# image it records what blkid reads from the same bytes, in OUT/<image>.blkid:
#   <partition start in bytes> TAB <size in bytes> TAB <LABEL or "<none>">
# Usage: tests/make-images.sh OUT
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
out=${1:?usage: make-images.sh OUT}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$out"
rm -f ./*.img ./*.blkid

MiB=$((1024 * 1024))

# A FAT32 file system image of SIZE MiB: fat32 FILE SIZE [mkfs.fat options...]
fat32() {
  local file=$1 size=$2; shift 2
  rm -f "$file"; truncate -s "${size}M" "$file"
  mkfs.fat -F 32 "$@" "$file" >/dev/null 2>&1
}
# An NTFS file system image of SIZE MiB: ntfs FILE SIZE LABEL
ntfs() {
  local file=$1 size=$2 label=$3
  rm -f "$file"; truncate -s "${size}M" "$file"
  mkntfs -F -Q -q -L "$label" "$file" >/dev/null 2>&1
}
# Copies a file system into a disk image at a sector, keeping holes: put DISK FS SECTOR
put() {
  dd if="$2" of="$1" bs=512 seek="$3" conv=notrunc,sparse status=none
}
# The byte offset of the first root-directory cluster of a FAT32 image.
fat32_root() {
  python3 - "$1" <<'EOF'
import struct, sys
b = open(sys.argv[1], 'rb').read(512)
bps, spc, res = struct.unpack_from('<HBH', b, 11)
fats = b[16]; spf, root = struct.unpack_from('<I4xI', b, 36)
print((res + fats * spf + (root - 2) * spc) * bps)
EOF
}
# Sets one byte of a file: poke FILE OFFSET HEXBYTE
poke() {
  printf "\\x$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# Records blkid's reading of every partition of a disk image.
record() {
  local img=$1
  : >"$img.blkid"
  sfdisk -d "$img" | sed -n 's/.*start= *\([0-9]*\), size= *\([0-9]*\).*/\1 \2/p' |
  while read -r start sectors; do
    local offset=$((start * 512)) size=$((sectors * 512)) label
    label=$(blkid -p -o value -s LABEL --offset "$offset" --size "$size" "$img" 2>/dev/null || true)
    [ -n "$label" ] || label="<none>"
    printf '%s\t%s\t%s\n' "$offset" "$size" "$label" >>"$img.blkid"
  done
}

# 1. GPT: FAT32 and NTFS labels in both cases.
img=gpt-labels.img
truncate -s 160M $img
sgdisk -n 1:2048:+40M -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0700 -n 3:0:+16M -t 3:0700 \
  -n 4:0:+40M -t 4:0700 -n 5:0:+16M -t 5:0c01 $img >/dev/null
fat32 "$work/p1" 40 -s 1 -n SYSTEM;   put $img "$work/p1" 2048
ntfs "$work/p2" 16 Windows;            put $img "$work/p2" $((2048 + 40 * 2048))
ntfs "$work/p3" 16 recovery;           put $img "$work/p3" $((2048 + 56 * 2048))
fat32 "$work/p4" 40 -s 1 -n "data 1"; put $img "$work/p4" $((2048 + 72 * 2048))
record $img

# 2. MBR with an extended partition holding two logical partitions, "RECOVERY" in the first.
img=mbr-extended.img
truncate -s 160M $img
sfdisk -q $img <<'EOF'
label: dos
start=2048, size=32768, type=7
start=34816, size=270336, type=f
start=36864, size=81920, type=c
start=120832, size=32768, type=7
EOF
ntfs "$work/p1" 16 Windows;                   put $img "$work/p1" 2048
fat32 "$work/p5" 40 -s 1 -n RECOVERY;        put $img "$work/p5" 36864
ntfs "$work/p6" 16 Data;                      put $img "$work/p6" 120832
record $img

# 3. FAT32 label cases on MBR primaries.
img=fat32-cases.img
truncate -s 180M $img
sfdisk -q $img <<'EOF'
label: dos
start=2048, size=81920, type=c
start=83968, size=81920, type=c
start=165888, size=81920, type=c
start=247808, size=81920, type=c
EOF
# a) The label entry lies beyond the root's first cluster: twenty files first, then the label.
fat32 "$work/a" 40 -s 1
for i in $(seq -w 1 20); do echo "$i" >"$work/f.txt"; mcopy -i "$work/a" "$work/f.txt" "::F$i.TXT"; done
fatlabel "$work/a" RECOVERY >/dev/null
root=$(fat32_root "$work/a")
if dd if="$work/a" bs=1 skip="$root" count=512 status=none | python3 -c '
import sys; d = sys.stdin.buffer.read()
sys.exit(any(d[i + 11] == 8 for i in range(0, 512, 32)))'; then :; else
  echo "make-images: the label entry of fat32-cases p1 is in the first cluster" >&2; exit 1
fi
put $img "$work/a" 2048
# b) A deleted label entry (mkfs.fat writes the label entry first in the root directory).
fat32 "$work/b" 40 -s 1 -n RECOVERY
poke "$work/b" "$(fat32_root "$work/b")" e5
put $img "$work/b" 83968
# c) A label entry with the archive bit as well (attributes 0x28).
fat32 "$work/c" 40 -s 1 -n RECOVERY
poke "$work/c" $(($(fat32_root "$work/c") + 11)) 28
put $img "$work/c" 165888
# d) A short label padded to 11 bytes, in lower case, set by mtools.
fat32 "$work/d" 40 -s 1
mlabel -i "$work/d" ::"a b" 2>/dev/null || mlabel -i "$work/d" ::"A B"
put $img "$work/d" 247808
record $img

# 4. A BitLocker-marked NTFS partition labelled "Recovery".
img=bitlocker.img
truncate -s 24M $img
sgdisk -n 1:2048:+16M -t 1:0700 $img >/dev/null
ntfs "$work/bl" 16 Recovery
printf -- '-FVE-FS-' | dd of="$work/bl" bs=1 seek=3 conv=notrunc status=none
put $img "$work/bl" 2048
record $img

# 5. Two disks that both hold "Recovery" (NTFS on GPT, FAT32 on MBR).
img=recovery-a.img
truncate -s 40M $img
sgdisk -n 1:2048:+8M -t 1:0c01 -n 2:0:+16M -t 2:0700 $img >/dev/null
ntfs "$work/ra" 16 Recovery; put $img "$work/ra" $((2048 + 8 * 2048))
record $img
img=recovery-b.img
truncate -s 48M $img
sfdisk -q $img <<'EOF'
label: dos
start=2048, size=81920, type=c
EOF
fat32 "$work/rb" 40 -s 1 -n Recovery; put $img "$work/rb" 2048
record $img

# 6. Plain file-system images for reading a label through an image file.
fat32 fat32-alone.img 40 -s 1 -n "RECOVERY"
ntfs ntfs-alone.img 16 Recovery
for f in fat32-alone.img ntfs-alone.img; do
  size=$(stat -c %s $f)
  printf '0\t%s\t%s\n' "$size" "$(blkid -p -o value -s LABEL $f)" >$f.blkid
done

# 7. A FAT32 volume of 71 GiB with 512-byte clusters: its allocation table (559 MiB) is larger
# than a 32-bit process can be sure to hold in one piece. mkfs.fat writes the tables' zeros;
# punching them out again keeps the image at a few KiB on disk.
fat32 fat32-large.img $((71 * 1024)) -S 512 -s 1 -n RECOVERY
fallocate --dig-holes fat32-large.img
printf '0\t%s\t%s\n' "$(stat -c %s fat32-large.img)" \
  "$(blkid -p -o value -s LABEL fat32-large.img)" >fat32-large.img.blkid

touch images.stamp
