#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/port_enumeration.hpp"

namespace tapfix::link {

// The router shows up as a serial port named like "Qualcomm HS-USB Diagnostics 9025 (COM7)"
// in its normal mode and "Qualcomm HS-USB QDLoader 9008 (COM5)" in its download mode. Every
// search takes a fresh port list; nothing is kept between calls.
//
// A search may follow one router by its USB location (`router`): it then takes only ports at
// that location, so a second router plugged in is never taken for it. An unknown location
// (a port not on USB, a registry written without locations) lets every port count.

// Whether a port sits where the followed router does: the same USB serial number when both
// have one, else the same USB path. Every port belongs to an unknown location.
bool BelongsToRouter(const platform::PortInfo& port, const platform::UsbLocation& router);

// Which names a search takes: "Diag" (this letter case) or, in any letter case, "QDLOADER";
// or only the first.
enum class RouterPortNames { DiagOrDownload, DiagOnly };

// The first listed port of the router whose name qualifies and yields a number; nothing when
// none does or the list is unavailable.
std::optional<platform::PortInfo> FindRouterPort(const platform::PortList& list,
                                                 const platform::UsbLocation& router,
                                                 RouterPortNames names);

// The number of the first present port whose name contains "Diag" (this letter case) or, in
// any letter case, "QDLOADER", at the router's location. False when none does or the port
// list is unavailable; the number is then untouched.
bool FindDiagPort(int* port, const platform::UsbLocation& router = {});
// True when no present port named with "Diag" has this number. False while it is present,
// and also when the port list is unavailable (the caller then keeps waiting).
bool IsPortAbsent(int port);

// The same searches over a list the caller obtained.
bool FindDiagPort(const platform::PortList& list, int* port,
                  const platform::UsbLocation& router = {});
bool IsPortAbsent(const platform::PortList& list, int port);

// Whether a display name is a download-mode port's ("QDLOADER", in any letter case).
bool IsDownloadModeName(std::string_view name);

// The port's display name; false when it has none.
bool ReadPortName(const platform::PortInfo& port, std::string* name);

// The number a display name gives: from its first "COM" (or the whole name when there is
// none) up to its first ")", without the three letters, read as atoi reads (no digits give
// 0). Empty when that text is empty or has no ")": such a port does not count.
std::optional<int> PortNumberFromName(std::string_view name);

// The port is the one of the router's download mode ("QDLoader", in any letter case).
bool IsDownloadModePort(const platform::PortInfo& port);

}  // namespace tapfix::link
