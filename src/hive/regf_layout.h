// The regf layout: every signature, field offset, flag and fixed size of a
// hive file and its transaction logs, named once. The reader, the log
// recovery, the deleted scan and the carver read the format through these
// names only. Offsets count from the start of the structure named: a base
// block from the file's start, a bin from its header, a cell from its size
// field; cell offsets themselves count from the end of the base block.
#pragma once

#include <cstdint>

namespace cellbrook {

// The base block fills the first 4 KiB; the bins data start right after it.
constexpr uint64_t kBaseBlockSize = 4096;
// The part of the base block its checksum covers and a log copies.
constexpr uint64_t kSectorSize = 512;
// Bins, and the pages a log writes, are whole multiples of this.
constexpr uint64_t kPageSize = 4096;

namespace base_field {
constexpr uint32_t Signature = 0, PrimarySequence = 4, SecondarySequence = 8, LastWritten = 12, MajorVersion = 20,
                   MinorVersion = 24, FileType = 28, FileFormat = 32, RootCell = 36, HiveBinsDataSize = 40,
                   ClusteringFactor = 44, FileName = 0x30, FileNameBytes = 64, Flags = 144, Checksum = 508;
constexpr uint32_t SignatureValue = 0x66676572;  // "regf"
constexpr uint32_t FileTypePrimary = 0, FileTypeNewLog = 6;
constexpr uint32_t FlagCarried = 0x1;  // the bit a log entry carries into the base block
}  // namespace base_field

// A hive bin's header.
namespace bin_field {
constexpr uint32_t Signature = 0x00, Offset = 0x04, Size = 0x08, LastWritten = 0x14, HeaderSize = 0x20;
constexpr uint32_t SignatureValue = 0x6E696268;  // "hbin"
}  // namespace bin_field

// Every cell: a size field (negative while allocated), then its record,
// whose two-letter signature, where it has one, comes first.
namespace cell_field {
constexpr uint32_t Size = 0x00, Data = 0x04, Signature = 0x04;
constexpr uint32_t Alignment = 8, MinSize = 8;
}  // namespace cell_field

// A key node ("nk").
namespace key_field {
constexpr uint32_t Signature = 0x04, Flags = 0x06, LastWritten = 0x08, Parent = 0x14, SubkeyCount = 0x18,
                   VolatileSubkeyCount = 0x1C, SubkeyIndex = 0x20, ValueCount = 0x28, ValueList = 0x2C, Security = 0x30,
                   ClassName = 0x34, NameLength = 0x4C, ClassNameLength = 0x4E, Name = 0x50;
constexpr uint16_t SignatureValue = 0x6B6E;  // "nk"
constexpr uint16_t FlagVolatile = 0x0001, FlagHiveExit = 0x0002, FlagRoot = 0x0004, FlagNoDelete = 0x0008,
                   FlagSymbolicLink = 0x0010, FlagNameLatin1 = 0x0020, FlagPredefinedHandle = 0x0040,
                   FlagVirtualMirrored = 0x0080, FlagVirtualTarget = 0x0100, FlagVirtualStore = 0x0200;
}  // namespace key_field

// A value node ("vk").
namespace value_field {
constexpr uint32_t Signature = 0x04, NameLength = 0x06, DataSize = 0x08, Data = 0x0C, Type = 0x10, Flags = 0x14,
                   Name = 0x18;
constexpr uint16_t SignatureValue = 0x6B76;  // "vk"
constexpr uint16_t FlagNameLatin1 = 0x0001;
constexpr uint32_t SizeInline = 0x80000000u;  // data of up to 4 bytes kept in the Data field
constexpr uint32_t InlineMax = 4;
}  // namespace value_field

// A security cell ("sk"): its descriptor is shared by every key that names
// it; the cells form one ring through Next and Previous.
namespace security_field {
constexpr uint32_t Signature = 0x04, Next = 0x08, Previous = 0x0C, ReferenceCount = 0x10, DescriptorLength = 0x14,
                   Descriptor = 0x18;
constexpr uint16_t SignatureValue = 0x6B73;  // "sk"
}  // namespace security_field

// A subkey index: a leaf ("lf", "lh": cell and hash; "li": cell) or a root
// index ("ri": cells of leaves).
namespace index_field {
constexpr uint32_t Signature = 0x04, Count = 0x06, Entries = 0x08;
constexpr uint16_t FastLeaf = 0x666C, HashLeaf = 0x686C, Leaf = 0x696C, Root = 0x6972;  // lf lh li ri
constexpr uint32_t HashedEntrySize = 8, EntrySize = 4;                                  // lf/lh, li/ri
constexpr uint32_t HashLeafMinorVersion = 5;  // "lh" from this minor version on
}  // namespace index_field

// A key's value list, and a big-data segment list: cell offsets one after
// the other, no signature.
namespace list_field {
constexpr uint32_t Entries = 0x04, EntrySize = 4;
}  // namespace list_field

// Big data ("db"): data longer than one segment, in hives of minor
// version 4 and later, as a list of segment cells.
namespace big_data_field {
constexpr uint32_t Signature = 0x04, SegmentCount = 0x06, SegmentList = 0x08, Fixed = 0x0C;
constexpr uint16_t SignatureValue = 0x6264;  // "db"
constexpr uint32_t SegmentBytes = 16344;     // data bytes of one segment
constexpr uint32_t MinorVersion = 4;
}  // namespace big_data_field

// A new-format log: the base-block copy (one sector), then entries ("HvLE"),
// each a header, its page references and the pages.
// 64-bit, so that a reference's offset (header + size * index) cannot wrap.
namespace log_entry_field {
constexpr uint64_t Signature = 0, Size = 4, Flags = 8, Sequence = 12, HiveBinsDataSize = 16, PageCount = 20, Hash1 = 24,
                   Hash2 = 32, Header = 40;
constexpr uint32_t SignatureValue = 0x454C7648;  // "HvLE"
// A page reference: where the page goes in the bins data, and its size.
constexpr uint64_t PageOffset = 0, PageSize = 4, PageReferenceSize = 8;
// Hash 2 covers the header up to the hashes.
constexpr uint64_t Hash2Covers = 32;
}  // namespace log_entry_field

// An old-format log: the base-block copy, then a "DIRT" header and a bitmap
// of the dirty sectors, then the dirty pages.
namespace dirt_field {
constexpr uint64_t Signature = kSectorSize, Bitmap = kSectorSize + 4;
constexpr uint32_t SignatureValue = 0x54524944;  // "DIRT"
}  // namespace dirt_field

}  // namespace cellbrook
