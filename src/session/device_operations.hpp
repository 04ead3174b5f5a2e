#pragma once

// The device operations the session runs by number on a slot's link.
namespace tapfix::session::op {

inline constexpr int kClosePort = 0;
inline constexpr int kIsPortOpen = 1;
// A diagnostic status request; a boot stage or programmer answers it with an error, which
// is all it is for: it wakes the port and clears the device's input.
inline constexpr int kProbe = 2;
inline constexpr int kSwitchToDownloader = 3;
inline constexpr int kSubsystemStatus = 4;
inline constexpr int kSendSpc = 5;
inline constexpr int kStreamReset = 6;
inline constexpr int kStreamNop = 7;
inline constexpr int kDownloadModeQuery = 8;
inline constexpr int kSetOffline = 9;
inline constexpr int kStreamClose = 10;
inline constexpr int kDrainStreamAnswers = 11;
inline constexpr int kBootLoaderNop = 12;
inline constexpr int kResetPhone = 13;

}  // namespace tapfix::session::op
