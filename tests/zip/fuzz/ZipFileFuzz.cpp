// Fuzz target for the zip reader: loads any bytes as an archive, unpacks every entry, and checks that an
// archive that can be written again loads back to the same records.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

#include "zip/uZipFile.h"

using namespace zelto;

namespace {
bool SameEntry(const TLocalFile& a, const TLocalFile& b) {
    return a.LocalFileHeaderSignature == b.LocalFileHeaderSignature && a.CommonFileHeader == b.CommonFileHeader &&
           a.filename == b.filename && a.extrafield == b.extrafield && a.CompressedData == b.CompressedData;
}

void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TZipFile zip;
    zip.LoadFromStream(in);
    Check(zip.CentralDirectory.size() == zip.Files.size());
    for (int i = 0; i < zip.Count(); ++i) {
        try {
            const std::string content = zip.GetUncompressed(i);
            Check(content.size() == zip.Files[static_cast<size_t>(i)].CommonFileHeader.UncompressedSize);
        } catch (const std::exception&) {
        }
        try {
            zip.GetDateTime(i);
        } catch (const EZipFileError&) {
        }
    }

    std::ostringstream out;
    try {
        zip.SaveToStream(out);
    } catch (const EZipFileError&) {
        return 0;  // an entry cut short cannot be written
    }
    std::istringstream again(out.str());
    TZipFile reloaded;
    reloaded.LoadFromStream(again);
    Check(reloaded.Count() == zip.Count());
    for (size_t i = 0; i < zip.Files.size(); ++i) Check(SameEntry(reloaded.Files[i], zip.Files[i]));
    return 0;
}
