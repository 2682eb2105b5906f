#pragma once
// The program a simulated controller holds: the ALC text it was built from, the "alc.zip" archive made of
// it, and its variables; and the layout of that program in code memory: the code header at 0x20000, the
// file table after it, a stand-in for the program code, and the archive.
#include <cstdint>
#include <memory>
#include <string>

#include "base/DateTime.h"
#include "sim/uSimMemory.h"
#include "vars/uZeltoVars.h"

namespace zelto::sim {

// Where the program lies in code memory.
inline constexpr uint32_t kSimFileTableAddress = 0x20500;
inline constexpr uint32_t kSimCodeFileAddress = 0x20600;
inline constexpr int32_t kSimCodeFileSize = 0x800;
inline constexpr uint32_t kSimAlcZipAddress = 0x21000;
inline constexpr const char* kSimCodeFileName = "prog.bin";

struct TSimProgram {
    std::string AlcName;  // the ALC's file name inside the archive
    std::string AlcText;  // the ALC's bytes as read
    std::string AlcZip;   // the archive's bytes
    TZeltoVarList Vars;   // the program's variables, as the server will read them
    int32_t CpuNAD = -1;  // the NAD on the ";CPU Zelto-2 NAD n" line, -1 when it names none
};

// Builds a program from ALC text. Raises EAlcParseError for an ALC the server could not read either, and
// std::runtime_error when the archive cannot hold it.
std::shared_ptr<const TSimProgram> BuildSimProgram(const std::string& AlcName, const std::string& AlcText,
                                                   TDateTime FileTime);
// Reads an ALC file and builds its program; nullptr with a message when the file is unusable.
std::shared_ptr<const TSimProgram> LoadSimProgram(const std::string& FileName, std::string& Error);

// Writes the code header (valid, with TransferDate and the file table), the file table ("prog.bin",
// "alc.zip") and both files into erased code memory for the controller with this NAD.
void LayOutProgram(TSimCodeMemory& Code, const TSimProgram& Program, int32_t NAD, int32_t TransferDate);

// The DOS form of the time of a program load: now, but always later than Previous, so that every load
// carries a transfer date of its own even within the 2-second step of the DOS form.
int32_t NextTransferDate(int32_t Previous);

}  // namespace zelto::sim
