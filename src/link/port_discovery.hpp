#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/port_enumeration.hpp"

namespace tapfix::link {

// The router shows up as a serial port named like "Qualcomm HS-USB Diagnostics 9025 (COM7)"
// in its normal mode and "Qualcomm HS-USB QDLoader 9008 (COM5)" in its download mode. Every
// search takes a fresh port list; nothing is kept between calls.

// The number of the first present port whose name contains "Diag" (this letter case) or, in
// any letter case, "QDLOADER". False when none does or the port list is unavailable; the
// number is then untouched.
bool FindDiagPort(int* port);
// True when no present port named with "Diag" has this number. False while it is present,
// and also when the port list is unavailable (the caller then keeps waiting).
bool IsPortAbsent(int port);

// The same searches over a list the caller obtained.
bool FindDiagPort(const platform::PortList& list, int* port);
bool IsPortAbsent(const platform::PortList& list, int port);

// The port's display name; false when it has none.
bool ReadPortName(const platform::PortInfo& port, std::string* name);

// The number a display name gives: from its first "COM" (or the whole name when there is
// none) up to its first ")", without the three letters, read as atoi reads (no digits give
// 0). Empty when that text is empty or has no ")": such a port does not count.
std::optional<int> PortNumberFromName(std::string_view name);

}  // namespace tapfix::link
