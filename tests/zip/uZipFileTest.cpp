#include "zip/uZipFile.h"

#include "zip/AllocationProbe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <unistd.h>

using namespace zelto;

namespace {

const std::string kDataDir = ZIP_TEST_DATA_DIR;
// 2024-05-17 13:45:30, the time of the archives in the data folder; DOS form 0x58B16DAF.
const TDateTime kDataTime = EncodeDateTime({2024, 5, 17, 13, 45, 30, 0});

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TZipFile LoadBytes(const std::string& bytes) {
    std::istringstream in(bytes);
    TZipFile zip;
    zip.LoadFromStream(in);
    return zip;
}

std::string SaveBytes(TZipFile& zip) {
    std::ostringstream out;
    zip.SaveToStream(out);
    return out.str();
}

// An archive built the usual way: AddFile, SetUncompressed, for each (name, content).
TZipFile Build(const std::vector<std::pair<std::string, std::string>>& entries) {
    TZipFile zip;
    for (const auto& [name, content] : entries) {
        zip.AddFile(name, 0x20);
        zip.SetUncompressed(zip.Count() - 1, content);
    }
    return zip;
}

std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

class ZipFile : public ::testing::Test {
protected:
    void SetUp() override { SetNowFunction([] { return kDataTime; }); }
    void TearDown() override { SetNowFunction(nullptr); }
};

TEST_F(ZipFile, ReadsArchivesOfOtherWriters) {
    const std::string alc = ReadFile(kDataDir + "/alc.txt");
    const std::string readme = ReadFile(kDataDir + "/readme.txt");
    ASSERT_EQ(alc.size(), 3301u);
    struct Case {
        const char* file;
        std::vector<std::pair<std::string, std::string>> entries;
        std::string comment;
    };
    const Case cases[] = {
        {"python_deflate.zip", {{"alc.txt", alc}, {"empty.txt", ""}, {"readme.txt", readme}}, "made by zipfile"},
        {"infozip_deflate.zip", {{"alc.txt", alc}, {"readme.txt", readme}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TZipFile zip;
        zip.LoadFromFile(kDataDir + "/" + c.file);
        ASSERT_EQ(zip.Count(), static_cast<int>(c.entries.size()));
        ASSERT_EQ(zip.CentralDirectory.size(), c.entries.size());
        for (int i = 0; i < zip.Count(); ++i) {
            EXPECT_EQ(zip.GetName(i), c.entries[i].first);
            EXPECT_EQ(zip.GetUncompressed(i), c.entries[i].second);
            EXPECT_EQ(zip.Data(i), c.entries[i].second);
            EXPECT_DOUBLE_EQ(zip.GetDateTime(i), kDataTime);
            EXPECT_EQ(zip.CentralDirectory[i].filename, c.entries[i].first);
        }
        EXPECT_EQ(zip.ZipFileComment, c.comment);
        EXPECT_EQ(zip.EndOfCentralDirectory.TotalNumberOfEntries, c.entries.size());
    }
}

// Entries this reader cannot unpack give an exception, never data: a stored entry is fed to the deflate
// decoder all the same, and streamed archives keep their sizes in data descriptors behind the data.
TEST_F(ZipFile, RefusesStoredAndStreamedEntries) {
    for (const char* file : {"infozip_stored.zip", "python_stream.zip", "infozip_stream.zip"}) {
        SCOPED_TRACE(file);
        TZipFile zip;
        zip.LoadFromFile(kDataDir + "/" + file);
        ASSERT_EQ(zip.Count(), 1);
        EXPECT_THROW(zip.GetUncompressed(0), std::runtime_error);
    }
}

TEST_F(ZipFile, RoundTripKeepsNamesSizesCrcsAndContents) {
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"alc.txt", ReadFile(kDataDir + "/alc.txt")},
        {"empty", ""},
        {"Gr\xF6\xDF" "e \x80.txt", "8-bit name"},
        {"noise.bin", Noise(100000, 1)},
        {"zeros.bin", std::string(3000000, '\0')},
    };
    TZipFile zip = Build(entries);
    const std::string bytes = SaveBytes(zip);
    TZipFile back = LoadBytes(bytes);
    ASSERT_EQ(back.Count(), static_cast<int>(entries.size()));
    for (int i = 0; i < back.Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back.GetName(i), entries[i].first);
        EXPECT_EQ(back.GetUncompressed(i), entries[i].second);
        EXPECT_EQ(back.Files[i].CommonFileHeader, zip.Files[i].CommonFileHeader);
        EXPECT_EQ(back.Files[i].CommonFileHeader.Crc32, ZipCRC32(entries[i].second));
        EXPECT_EQ(back.CentralDirectory[i].RelativeOffsetOfLocalHeader,
                  zip.CentralDirectory[i].RelativeOffsetOfLocalHeader);
        EXPECT_EQ(back.CentralDirectory[i].ExternalFileAttributes, 0x20u);
    }
    EXPECT_LT(bytes.size(), 200000u);  // the zeros are compressed
    EXPECT_EQ(SaveBytes(back), bytes);
}

// The bytes of a one-entry archive, worked out by hand from the record layouts.
TEST_F(ZipFile, WritesTheRecordsByteForByte) {
    TZipFile zip = Build({{"a", ""}});
    const std::string expected = std::string(
        "PK\x03\x04"                 // local header
        "\x14\x00\x00\x00\x08\x00"   // version 20, flag 0, deflate
        "\xAF\x6D\xB1\x58"           // 13:45:30 2024-05-17
        "\x00\x00\x00\x00"           // CRC of no bytes
        "\x02\x00\x00\x00\x00\x00\x00\x00"
        "\x01\x00\x00\x00"
        "a"
        "\x03\x00"                   // the empty final block
        "PK\x01\x02\x14\x00"         // central record, made by 20
        "\x14\x00\x00\x00\x08\x00\xAF\x6D\xB1\x58\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00"
        "\x00\x00\x00\x00\x00\x00"   // comment length, disk, internal attributes
        "\x20\x00\x00\x00"           // external attributes
        "\x00\x00\x00\x00"           // local header at 0
        "a"
        "PK\x05\x06\x00\x00\x00\x00\x01\x00\x01\x00"
        "\x2F\x00\x00\x00"           // central directory: 47 bytes
        "\x21\x00\x00\x00"           // at 33
        "\x00\x00",
        33 + 47 + 22);
    EXPECT_EQ(SaveBytes(zip), expected);
}

// What is written here passes the checks of Info-ZIP's unzip and of Python's zipfile.
TEST_F(ZipFile, OtherReadersAcceptWhatIsWritten) {
    const std::string dir = ::testing::TempDir() + "zip_interop_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/written.zip";
    TZipFile zip = Build({{"alc.txt", ReadFile(kDataDir + "/alc.txt")}, {"empty.txt", ""},
                          {"noise.bin", Noise(5000, 2)}});
    zip.AddFile("added, never filled", 0x20);
    zip.SetName(0, "renamed.txt");
    zip.ZipFileComment = "comment";
    zip.SaveToFile(path);
    EXPECT_EQ(std::system(("unzip -tqq " + path).c_str()), 0);
    EXPECT_EQ(std::system(("python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                           "sys.exit(z.testzip() is not None or z.namelist()[0] != 'renamed.txt')\" " + path)
                              .c_str()),
              0);
    const std::string extracted = dir + "/extracted.txt";
    ASSERT_EQ(std::system(("unzip -p " + path + " renamed.txt > " + extracted).c_str()), 0);
    EXPECT_EQ(ReadFile(extracted), ReadFile(kDataDir + "/alc.txt"));
    EXPECT_EQ(LoadBytes(SaveBytes(zip)).GetUncompressed(3), "");
    std::filesystem::remove_all(dir);
}

TEST_F(ZipFile, CrcTestDecides) {
    const std::string content = ReadFile(kDataDir + "/alc.txt");
    struct Case {
        const char* what;
        std::function<void(TLocalFile&)> change;
        std::string expected;  // empty: a CRC error
    };
    const Case cases[] = {
        {"stored CRC changed", [](TLocalFile& f) { f.CommonFileHeader.Crc32 ^= 1; }, ""},
        {"announced size shorter", [](TLocalFile& f) { f.CommonFileHeader.UncompressedSize = 100; }, ""},
        {"shorter, with the prefix's CRC",
         [&](TLocalFile& f) {
             f.CommonFileHeader.UncompressedSize = 100;
             f.CommonFileHeader.Crc32 = ZipCRC32(content.substr(0, 100));
         },
         content.substr(0, 100)},
        {"announced size longer, CRC of no bytes",
         [](TLocalFile& f) {
             f.CommonFileHeader.UncompressedSize += 1;
             f.CommonFileHeader.Crc32 = 0;
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TZipFile zip = Build({{"alc.txt", content}});
        c.change(zip.Files[0]);
        if (c.expected.empty()) {
            try {
                zip.GetUncompressed(0);
                ADD_FAILURE() << "no exception";
            } catch (const EZipFileCRCError& e) {
                EXPECT_STREQ(e.what(), "CRC Error in \"alc.txt\".");
            }
        } else {
            EXPECT_EQ(zip.GetUncompressed(0), c.expected);
        }
    }
}

TEST_F(ZipFile, CorruptDeflateDataRaises) {
    TZipFile zip = Build({{"noise.bin", Noise(2000, 3)}, {"x", std::string(1000, 'x')}});
    zip.Files[0].CompressedData[0] = '\xFF';  // block type 3 does not exist
    EXPECT_THROW(zip.GetUncompressed(0), EZDecompressionError);
    zip.Files[1].CompressedData[1] ^= 0x5A;
    EXPECT_THROW(zip.GetUncompressed(1), std::runtime_error);
    TZipFile named = Build({{"Gr\xF6\xDF" "e", "abc"}});
    named.Files[0].CommonFileHeader.Crc32 = 0;
    try {
        named.GetUncompressed(0);
        ADD_FAILURE() << "no exception";
    } catch (const EZipFileCRCError& e) {
        EXPECT_STREQ(e.what(), "CRC Error in \"Gr\xC3\xB6\xC3\x9F" "e\".");  // the name as UTF-8 text
    }
}

TEST_F(ZipFile, IndexOutOfRangeChangesNothing) {
    TZipFile zip = Build({{"a", "1"}, {"b", "2"}});
    const std::string before = SaveBytes(zip);
    const std::vector<std::function<void(int)>> operations = {
        [&](int i) { zip.GetUncompressed(i); }, [&](int i) { zip.SetUncompressed(i, "x"); },
        [&](int i) { zip.GetName(i); },         [&](int i) { zip.SetName(i, "x"); },
        [&](int i) { zip.GetDateTime(i); },     [&](int i) { zip.SetDateTime(i, kDataTime + 1); },
    };
    for (size_t op = 0; op < operations.size(); ++op) {
        for (int index : {-1, 2, 1000}) {
            SCOPED_TRACE(testing::Message() << "operation " << op << " index " << index);
            try {
                operations[op](index);
                ADD_FAILURE() << "no exception";
            } catch (const EZipFileError& e) {
                EXPECT_STREQ(e.what(), "Index out of range.");
            }
        }
    }
    EXPECT_EQ(SaveBytes(zip), before);
}

TEST_F(ZipFile, NamesAndTimes) {
    TZipFile zip = Build({{"first", "abc"}});
    zip.SetName(0, "second.txt");
    EXPECT_EQ(zip.GetName(0), "second.txt");
    EXPECT_EQ(zip.CentralDirectory[0].filename, "second.txt");
    EXPECT_EQ(zip.Files[0].CommonFileHeader.FilenameLength, 10);
    EXPECT_EQ(zip.CentralDirectory[0].CommonFileHeader.FilenameLength, 10);

    // SetDateTime changes the local header only; the next SetUncompressed sets both to now.
    const TDateTime later = EncodeDateTime({2031, 2, 3, 4, 5, 7, 0});
    zip.SetDateTime(0, later);
    EXPECT_DOUBLE_EQ(zip.GetDateTime(0), EncodeDateTime({2031, 2, 3, 4, 5, 6, 0}));  // two-second steps
    EXPECT_EQ(zip.CentralDirectory[0].CommonFileHeader.LastModFileTimeDate, 0x58B16DAFu);
    zip.SetUncompressed(0, "def");
    EXPECT_DOUBLE_EQ(zip.GetDateTime(0), kDataTime);

    zip.SetDateTime(0, EncodeDateTime({1975, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(zip.Files[0].CommonFileHeader.LastModFileTimeDate, 0u);
    EXPECT_EQ(zip.GetDateTime(0), 0.0);
    zip.Files[0].CommonFileHeader.LastModFileTimeDate = 0x58A00000;  // month 5, day 0
    EXPECT_THROW(zip.GetDateTime(0), EZipFileError);
}

// The search for the first local header steps four bytes at a time; offsets count from the stream's start.
TEST_F(ZipFile, ArchiveBehindOtherBytes) {
    TZipFile zip = Build({{"a.txt", "hello"}});
    const std::string archive = SaveBytes(zip);
    for (size_t lead = 0; lead <= 9; ++lead) {
        SCOPED_TRACE(lead);
        const TZipFile loaded = LoadBytes(std::string(lead, 'x') + archive);
        EXPECT_EQ(loaded.Count(), lead % 4 == 0 ? 1 : 0);
    }
    std::ostringstream out;
    out << "12345";
    zip.SaveToStream(out);
    EXPECT_EQ(zip.CentralDirectory[0].RelativeOffsetOfLocalHeader, 5u);
    EXPECT_EQ(zip.EndOfCentralDirectory.OffsetOfStartOfCentralDirectory, 5u + 30 + 5 + 7);
    EXPECT_EQ(LoadBytes(std::string(3, 'x') + out.str()).GetUncompressed(0), "hello");
}

TEST_F(ZipFile, GarbageAndEmptyStreamsLoadNothing) {
    for (const std::string& bytes : {std::string(), std::string("PK\x03\x04", 4), std::string(1000, 'z'),
                                     Noise(4096, 4), std::string("PK\x05\x06") + std::string(18, '\0')}) {
        EXPECT_EQ(LoadBytes(bytes).Count(), 0);
    }
    TZipFile zip = Build({{"a", "1"}});
    std::istringstream garbage("nothing");
    zip.LoadFromStream(garbage);
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_TRUE(zip.CentralDirectory.empty());
}

// Every prefix of a valid archive: entries complete in the prefix unpack to their contents, every other
// entry is refused with an exception, and nothing crashes.
TEST_F(ZipFile, EveryTruncationIsRefusedCleanly) {
    TZipFile built = Build({{"a.txt", "first entry"}, {"empty", ""}, {"b.txt", std::string(500, 'b')}});
    const std::vector<std::string> archives = {SaveBytes(built), ReadFile(kDataDir + "/python_deflate.zip"),
                                               ReadFile(kDataDir + "/infozip_deflate.zip")};
    for (const std::string& archive : archives) {
        const TZipFile full = LoadBytes(archive);
        std::vector<size_t> entryEnd;  // where each entry's local record ends
        size_t at = 0;
        for (const TLocalFile& f : full.Files) {
            at += 30 + f.filename.size() + f.extrafield.size() + f.CompressedData.size();
            entryEnd.push_back(at);
        }
        for (size_t n = 0; n < archive.size(); ++n) {
            SCOPED_TRACE(n);
            const TZipFile cut = LoadBytes(archive.substr(0, n));
            ASSERT_LE(cut.Count(), full.Count());
            for (int i = 0; i < cut.Count(); ++i) {
                if (n >= entryEnd[i]) {
                    EXPECT_EQ(cut.GetUncompressed(i), full.GetUncompressed(i));
                } else {
                    EXPECT_THROW(cut.GetUncompressed(i), EZipFileError);
                    TZipFile copy = cut;
                    EXPECT_THROW(SaveBytes(copy), EZipFileError);
                }
            }
        }
    }
}

// Sizes announced by an archive are never trusted for an allocation.
TEST_F(ZipFile, HugeAnnouncedSizesAllocateNothingLarge) {
    TZipFile built = Build({{"a.txt", std::string(1000, 'a')}});
    const std::string small = SaveBytes(built);
    const uint32_t realSize = built.Files[0].CommonFileHeader.CompressedSize;
    auto withHeader = [&](uint32_t compressedSize, uint32_t uncompressedSize) {
        std::string bytes = small;
        for (int b = 0; b < 4; ++b) {
            bytes[18 + b] = static_cast<char>(compressedSize >> (8 * b));
            bytes[22 + b] = static_cast<char>(uncompressedSize >> (8 * b));
        }
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"compressed size past the end", withHeader(0xFFFFFFF0u, 1000)},
        {"uncompressed size 4 GiB", withHeader(realSize, 0xFFFFFFFFu)},
        {"uncompressed size just over 64 MiB", withHeader(realSize, TZipFile::kMaxUncompressedSize + 1)},
        {"both huge", withHeader(0xFFFFFFFFu, 0xFFFFFFFFu)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ResetLargestAllocation();
        const TZipFile zip = LoadBytes(c.bytes);
        ASSERT_EQ(zip.Count(), 1);
        EXPECT_THROW(zip.GetUncompressed(0), EZipFileError);
        EXPECT_LT(test::LargestAllocation(), 1024u * 1024);
    }
    // Exactly 64 MiB announced, but the data holds 1000 bytes: a CRC error, and no 64 MiB buffer.
    test::ResetLargestAllocation();
    const TZipFile zip = LoadBytes(withHeader(realSize, TZipFile::kMaxUncompressedSize));
    EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);
    EXPECT_LT(test::LargestAllocation(), 1024u * 1024);
}

// Central records beyond the local entries are dropped; the end record is still read.
TEST_F(ZipFile, ExtraCentralRecordsAreDropped) {
    TZipFile two = Build({{"a.txt", "one"}, {"b.txt", "two"}});
    two.ZipFileComment = "note";
    const std::string archive = SaveBytes(two);
    const size_t secondLocal = two.CentralDirectory[1].RelativeOffsetOfLocalHeader;
    const size_t centralStart = two.EndOfCentralDirectory.OffsetOfStartOfCentralDirectory;
    const TZipFile zip = LoadBytes(archive.substr(0, secondLocal) + archive.substr(centralStart));
    ASSERT_EQ(zip.Count(), 1);
    ASSERT_EQ(zip.CentralDirectory.size(), 1u);
    EXPECT_EQ(zip.CentralDirectory[0].filename, "a.txt");
    EXPECT_EQ(zip.EndOfCentralDirectory.TotalNumberOfEntries, 2);
    EXPECT_EQ(zip.ZipFileComment, "note");
    EXPECT_EQ(zip.GetUncompressed(0), "one");
}

TEST_F(ZipFile, LimitsOfTheFormatAreRefused) {
    TZipFile zip;
    EXPECT_THROW(zip.AddFile(std::string(70000, 'n'), 0), EZipFileError);
    EXPECT_EQ(zip.Count(), 0);
    zip.AddFile("a", 0);
    EXPECT_THROW(zip.SetName(0, std::string(65536, 'n')), EZipFileError);
    EXPECT_EQ(zip.GetName(0), "a");
    zip.SetName(0, std::string(65535, 'n'));
    EXPECT_EQ(LoadBytes(SaveBytes(zip)).GetName(0).size(), 65535u);
}

}  // namespace
