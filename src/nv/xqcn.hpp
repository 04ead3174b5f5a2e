#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "nv/nv_record.hpp"

// XQCN: the XML form of a QCN backup, as the repair community exchanges them. The tree mirrors
// the QCN compound file, storages holding storages and streams:
//     <?xml version="1.0" encoding="Windows-1252"?>
//     <Storage Name='<file>'>
//       <Storage Name='00000000'>
//         <Storage Name='default'>
//           <Storage Name='NV_NUMBERED_ITEMS'>
//             <Stream Length='272' Name='NV_ITEM_ARRAY' Value='88 00 01 00 26 02 00 00 ...'/>
//           </Storage>
//           <Storage Name='EFS_Backup'>   (and 'Provisioning_Item_Files', 'NV_Items')
//             <Storage Name='EFS_Dir'>  <Stream Name='00000000' .../> path  </Storage>
//             <Storage Name='EFS_Data'> <Stream Name='00000000' .../> bytes </Storage>
//           </Storage>
//         </Storage>
//         <Storage Name='Mobile_Property_Info'/>
//       </Storage>
//       <Stream Length='6' Name='File_Version' Value='02 00 00 00 00 00'/>
//     </Storage>
// A stream's Value is its bytes as upper-case two-digit hex separated by single spaces, its
// Length their count. NV_ITEM_ARRAY holds one 136-byte little-endian record per item: 0x0088,
// 0x0001, the item number in 32 bits, the 128 data bytes. EFS files are pairs of streams of
// the same "%08X" name: the path in EFS_Dir, the bytes in EFS_Data. The RF calibration files
// (/nv/item_files/rfnv/...) go in EFS_Backup, whose paths carry an 8-byte prefix (01 00 01 01
// and a 32-bit value) and no terminating zero; the other sections' paths end with one.
namespace tapfix::nv {

struct XqcnFile {
    // As on the router: "/nv/item_files/rfnv/00020207".
    std::string path;
    std::string bytes;
    bool operator==(const XqcnFile&) const = default;
};

struct XqcnContent {
    // Items read whole from the router (status 0); the status is not part of the format.
    std::vector<NvRecord> items;
    std::vector<XqcnFile> efsFiles;
};

// `name` names the root storage (the file's name, as other tools write it).
std::string WriteXqcn(const XqcnContent& content, std::string_view name);

// Reads what every writer agrees on and accepts what they differ on (the path prefix's value,
// a terminating zero or not, sections left empty or out). False, with a reason a user can act
// on, for text that is not XQCN, a record of another length, an item or path given twice, or
// a path outside "/nv/" or with "..".
bool ReadXqcn(std::string_view text, XqcnContent& content, std::string& error);

}  // namespace tapfix::nv
