#pragma once

#include <string>

namespace tapfix::reference {

// A download.xml shaped like the one the router's firmware package carries: UTF-8 with CRLF
// line ends, a "phone" root with an information block, a plug-in list, the DOWNLOADBL settings
// and a DOWNLOADUI block, "//" comment lines between elements and keys the updater does not
// read. The NV and EFS lists are synthetic but have the package's counts, ranges, duplicates,
// first and last numbers. ITEM_VERSIONFILE_PATH and ITEM_NVFILE_PATH are empty, as shipped.
// With `sahara`, ITEM_DL_armprg_type_Sahara chooses the Sahara route for the programmer; the
// router's own package leaves the key out (boot-loader route).
std::string PackageDownloadXml(bool sahara = false);

}  // namespace tapfix::reference
