#include "sim/uSimProgram.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/NumberText.h"
#include "qlink/hCodeMemory.h"
#include "zip/uDosDateTime.h"
#include "zip/uZipFile.h"

namespace zelto::sim {

namespace {

// "...;CPU Zelto-2 NAD 10..." gives 10.
int32_t CpuNAD(const std::string& AlcText) {
    const auto marker = AlcText.find(";CPU Zelto-2 ");
    if (marker == std::string::npos) return -1;
    const auto lineEnd = AlcText.find_first_of("\r\n", marker);
    const std::string line =
        AlcText.substr(marker, lineEnd == std::string::npos ? std::string::npos : lineEnd - marker);
    const auto nad = line.find("NAD ");
    if (nad == std::string::npos) return -1;
    std::string digits;
    for (auto i = nad + 4; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) digits.push_back(line[i]);
    int32_t value = -1;
    return TryParseWholeNumber(digits, value) ? value : -1;
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TCodeFileDescriptor FileEntry(const std::string& Name, uint32_t Address, int32_t Size) {
    TCodeFileDescriptor d;
    std::copy(Name.begin(), Name.end(), d.file_name);
    d.name_length = static_cast<uint16_t>(Name.size());
    d.file_address = static_cast<int32_t>(Address);
    d.file_size = Size;
    return d;
}

}  // namespace

std::shared_ptr<const TSimProgram> BuildSimProgram(const std::string& AlcName, const std::string& AlcText,
                                                   TDateTime FileTime) {
    auto program = std::make_shared<TSimProgram>();
    program->AlcName = AlcName;
    program->AlcText = AlcText;
    program->CpuNAD = CpuNAD(AlcText);
    std::istringstream alc(AlcText);
    program->Vars.LoadFromStream(alc, 0);

    TZipFile zip;
    zip.AddFile(AlcName, 0x20);  // archive bit, as the programming tool sets it
    zip.SetUncompressed(0, AlcText);
    zip.SetDateTime(0, FileTime);
    // The central record carries the file's time too, as in the programming tool's archives, so that the
    // same ALC file always gives the same archive bytes.
    zip.CentralDirectory[0].CommonFileHeader.LastModFileTimeDate = zip.Files[0].CommonFileHeader.LastModFileTimeDate;
    std::ostringstream archive;
    zip.SaveToStream(archive);
    program->AlcZip = archive.str();
    // Beyond this the archive would not fit code memory, or a server would refuse its size.
    if (program->AlcZip.size() > std::min<std::size_t>(kMaxCodeFileSize, TSimCodeMemory::kSize - kSimAlcZipAddress))
        throw std::runtime_error("The ALC archive does not fit code memory");
    return program;
}

std::shared_ptr<const TSimProgram> LoadSimProgram(const std::string& FileName, std::string& Error) {
    std::ifstream in(FileName, std::ios::binary);
    if (!in) {
        Error = "Cannot open the ALC file " + FileName;
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        std::error_code ec;
        const auto written = std::filesystem::last_write_time(FileName, ec);
        TDateTime fileTime = Now();
        if (!ec) {
            const auto system = std::chrono::file_clock::to_sys(written);
            fileTime = UnixToDateTime(std::chrono::duration<double>(system.time_since_epoch()).count());
        }
        return BuildSimProgram(std::filesystem::path(FileName).filename().string(), text.str(), fileTime);
    } catch (const std::exception& e) {
        Error = FileName + ": " + e.what();
        return nullptr;
    }
}

void LayOutProgram(TSimCodeMemory& Code, const TSimProgram& Program, int32_t NAD, int32_t TransferDate) {
    Code.Clear();
    const auto alcSize = static_cast<int32_t>(Program.AlcZip.size());

    TCodeHeader header;
    header.magic = kCodeHeaderMagic;
    header.alloc_crc = static_cast<uint16_t>(ZipCRC32(Program.AlcText));
    header.code_crc = static_cast<uint16_t>(ZipCRC32(Program.AlcZip) >> 16);
    header.transfer_date = TransferDate;
    header.total_size = static_cast<uint16_t>(kSimCodeFileSize);
    header.tasks_count = 1;
    header.master_NAD = NAD;
    header.file_adr = static_cast<int32_t>(kSimFileTableAddress);
    header.file_count = 2;
    std::array<uint8_t, sizeof(TCodeHeader)> headerBytes{};
    EncodeCodeHeader(header, headerBytes);
    Code.Write(static_cast<uint32_t>(kCodeHeaderAddress), headerBytes);

    const TCodeFileDescriptor entries[] = {
        FileEntry(kSimCodeFileName, kSimCodeFileAddress, kSimCodeFileSize),
        FileEntry(kAlcFileName, kSimAlcZipAddress, alcSize),
    };
    uint32_t at = kSimFileTableAddress;
    for (const auto& entry : entries) {
        std::array<uint8_t, sizeof(TCodeFileDescriptor)> entryBytes{};
        EncodeCodeFileDescriptor(entry, entryBytes);
        Code.Write(at, entryBytes);
        at += sizeof(TCodeFileDescriptor);
    }

    // The program code itself is not simulated; a recognisable filler stands in for it.
    std::vector<uint8_t> code(static_cast<std::size_t>(kSimCodeFileSize));
    for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(0xC0 + (i % 16));
    Code.Write(kSimCodeFileAddress, code);
    Code.Write(kSimAlcZipAddress, Bytes(Program.AlcZip));
}

int32_t NextTransferDate(int32_t Previous) {
    auto date = static_cast<int32_t>(DateTimeToDosDateTime(Now()));
    if (date > Previous) return date;
    // Within the same 2 seconds (or a clock set back): two seconds after the previous load.
    const auto previous = DosDateTimeToDateTime(static_cast<uint32_t>(Previous));
    if (previous) date = static_cast<int32_t>(DateTimeToDosDateTime(*previous + 3.0 / 86400.0));
    return date > Previous ? date : Previous + 1;
}

}  // namespace zelto::sim
