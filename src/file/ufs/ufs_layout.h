// Where the on-disk structures keep the fields the UFS reader and the disk label checks
// use: byte offsets into a UFS1 superblock, inode and directory entry, an MBR and its
// partition entries, and a BSD disk label. Every field is little-endian.
#pragma once

#include <cstddef>

namespace quorvel {

namespace ufs1_superblock {
constexpr std::size_t INODE_BLOCK = 16;           // fs_iblkno: first inode block of a group, in fragments
constexpr std::size_t GROUP_OFFSET = 24;          // fs_cgoffset: the cylinder-group rotation
constexpr std::size_t GROUP_MASK = 28;            // fs_cgmask
constexpr std::size_t GROUPS = 44;                // fs_ncg
constexpr std::size_t BLOCK_SIZE = 48;            // fs_bsize
constexpr std::size_t FRAGMENTS_PER_BLOCK = 56;   // fs_frag
constexpr std::size_t FRAGMENT_MASK = 76;         // fs_fmask
constexpr std::size_t BLOCK_SHIFT = 80;           // fs_bshift
constexpr std::size_t FRAGMENT_SHIFT = 96;        // fs_fragshift: log2 of fragments per block
constexpr std::size_t SECTOR_SHIFT = 100;         // fs_fsbtodb: fragments to 512-byte sectors
constexpr std::size_t POINTERS_PER_BLOCK = 116;   // fs_nindir
constexpr std::size_t INODES_PER_BLOCK = 120;     // fs_inopb
constexpr std::size_t INODES_PER_GROUP = 184;     // fs_ipg
constexpr std::size_t FRAGMENTS_PER_GROUP = 188;  // fs_fpg
constexpr std::size_t MAX_INODE_LINK = 1320;      // fs_maxsymlinklen: links kept inside the inode
constexpr std::size_t BLOCK_OFFSET_MASK = 1336;   // fs_qbmask, 64-bit
constexpr std::size_t FRAGMENT_OFFSET_MASK = 1344;  // fs_qfmask, 64-bit
constexpr std::size_t MAGIC = 1372;               // fs_magic
constexpr std::size_t USED_SIZE = MAGIC + 4;      // the fields above all lie before this
}  // namespace ufs1_superblock

namespace ufs1_inode {
constexpr std::size_t MODE = 0;              // 16-bit
constexpr std::size_t SIZE = 8;              // 64-bit
constexpr std::size_t DIRECT_BLOCKS = 40;    // 12 block numbers, or a short link's target
constexpr std::size_t INDIRECT_BLOCKS = 88;  // single, double and triple indirect
}  // namespace ufs1_inode

namespace ufs1_directory_entry {
constexpr std::size_t INODE = 0;
constexpr std::size_t RECORD_LENGTH = 4;        // 16-bit
constexpr std::size_t OLD_NAME_LENGTH = 6;      // 16-bit in the old format; its low byte
constexpr std::size_t NAME_LENGTH = 7;          // after the type byte in the new format
constexpr std::size_t NAME = 8;
}  // namespace ufs1_directory_entry

namespace mbr {
constexpr std::size_t PARTITION_TABLE = 446;
constexpr std::size_t ENTRY_SIZE = 16;
constexpr std::size_t ENTRY_TYPE = 4;
constexpr std::size_t ENTRY_START = 8;  // first sector, 32-bit
}  // namespace mbr

namespace bsd_disklabel {
constexpr std::size_t MAGIC = 0;            // d_magic
constexpr std::size_t MAGIC2 = 132;         // d_magic2
constexpr std::size_t PARTITION_COUNT = 138;  // d_npartitions, 16-bit
constexpr std::size_t PARTITIONS = 148;     // d_partitions: entries of 16 bytes
constexpr std::size_t ENTRY_OFFSET = 4;     // p_offset: first sector, absolute
}  // namespace bsd_disklabel

}  // namespace quorvel
