#pragma once
// The Q-link command codes (the byte at frame offset 14 of a request) and the two status values a
// controller reports to ReadStatus. Shared by the communicator and the controller simulator.
#include <cstdint>

namespace zelto {

inline constexpr uint8_t kCmdPing = 0x10;
inline constexpr uint8_t kCmdReadStatus = 0x11;
inline constexpr uint8_t kCmdFlashInit = 0x20;
inline constexpr uint8_t kCmdReadCode = 0x21;
inline constexpr uint8_t kCmdWriteCode = 0x22;
inline constexpr uint8_t kCmdDataInit = 0x30;
inline constexpr uint8_t kCmdReadData = 0x31;
inline constexpr uint8_t kCmdWriteData = 0x32;
inline constexpr uint8_t kCmdReadRandom = 0x33;
inline constexpr uint8_t kCmdWriteRandom = 0x34;

// Scoped, because the controller proxy's own steps use some of the same names (psRun).
enum class TSysStatus : uint8_t { ssLoader = 0, ssKernel = 1, ssNone = 2 };
enum class TPLCStatus : uint8_t { psStop = 0, psPause = 1, psRun = 2, psNoValidProgram = 3, psCongestionError = 4, psNone = 5 };

}  // namespace zelto
