#include "platform/windows_api.h"
#include "report/error_name.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// The codes that must have a name, written down independently of the table.
struct CodeRange {
    int32_t low;
    int32_t high;
};
const CodeRange kNamedRanges[] = {
    {-8, 34},     {36, 36},     {38, 39},     {50, 72},     {80, 80},
    {82, 89},     {100, 114},   {117, 162},   {164, 164},   {167, 167},
    {170, 170},   {173, 174},   {180, 180},   {182, 183},   {186, 203},
    {205, 210},   {212, 212},   {214, 215},   {230, 234},   {240, 240},
    {254, 255},   {259, 259},   {266, 267},   {275, 278},   {282, 282},
    {288, 288},   {298, 298},   {317, 317},   {487, 487},   {534, 536},
    {994, 999},   {1001, 1022}, {1051, 1078}, {1100, 1131}, {1200, 1221},
    {1300, 1338}, {1340, 1394}, {1400, 1449}, {1500, 1503}, {1700, 1728},
    {1730, 1737}, {1739, 1753}, {1755, 1757}, {1759, 1762}, {1764, 1816},
    {1898, 1900}, {2138, 2138}, {2202, 2202}, {2250, 2250}, {2401, 2401},
    {2404, 2404}, {6118, 6118},
};

std::vector<int32_t> namedCodes() {
    std::vector<int32_t> codes;
    for (const CodeRange& range : kNamedRanges) {
        for (int32_t code = range.low; code <= range.high; ++code) {
            codes.push_back(code);
        }
    }
    return codes;
}

// Negative codes arrive from GetLastError as their unsigned 32-bit value.
DWORD asDword(int32_t code) { return static_cast<DWORD>(code); }

std::string nameOf(int32_t code) { return errorName(asDword(code)); }

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

// --- the table itself ------------------------------------------------------

TEST(ErrorNameTable, HoldsExactlyTheListedCodesInAscendingSignedOrder) {
    const std::vector<int32_t> expected = namedCodes();
    ASSERT_EQ(expected.size(), 576u);
    ASSERT_EQ(errorNameCount(), 576);

    const ErrorNameRow* rows = errorNameRows();
    std::vector<int32_t> actual;
    for (int i = 0; i < errorNameCount(); ++i) {
        ASSERT_NE(rows[i].name, nullptr) << "row " << i;
        if (i > 0) {
            EXPECT_LT(rows[i - 1].code, rows[i].code) << "row " << i;
        }
        actual.push_back(rows[i].code);
    }
    EXPECT_EQ(actual, expected);
}

TEST(ErrorNameTable, EndsWithNullRow) {
    const ErrorNameRow& end = errorNameRows()[errorNameCount()];
    EXPECT_EQ(end.code, 0);
    EXPECT_EQ(end.name, nullptr);
}

TEST(ErrorNameTable, NamesUseTheExpectedFamiliesAndAreUnique) {
    const ErrorNameRow* rows = errorNameRows();
    std::set<std::string> seen;
    for (int i = 0; i < errorNameCount(); ++i) {
        const char* name = rows[i].name;
        ASSERT_NE(name, nullptr);
        if (rows[i].code < 0) {
            EXPECT_TRUE(startsWith(name, "LZERROR_")) << rows[i].code << " " << name;
        } else if (rows[i].code > 0) {
            EXPECT_TRUE(startsWith(name, "ERROR_") || startsWith(name, "RPC_S_") ||
                        startsWith(name, "RPC_X_") || startsWith(name, "EPT_S_"))
                << rows[i].code << " " << name;
        }
        // The fallback must stay distinguishable from a real name.
        EXPECT_STRNE(name, "ERROR_UNDEFINED");
        EXPECT_TRUE(seen.insert(name).second) << "duplicate name " << name;
    }
}

// --- against the Windows headers ------------------------------------------

// Where the Debian package mingw-w64-common puts the SDK headers the table
// is generated from.
const std::string kSdkInclude = "/usr/share/mingw-w64/include/";

// The defines of one SDK header, name to value text; empty when the header
// is not there. Read here on their own, not the way the generator reads them.
std::map<std::string, std::string> definesIn(const std::string& header) {
    std::map<std::string, std::string> defines;
    std::ifstream in(kSdkInclude + header);
    const std::regex define(R"(^\s*#\s*define\s+([A-Za-z_]\w*)\s+(.*?)\s*(/[/*].*)?$)");
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
        if (std::regex_match(line, match, define)) defines.emplace(match[1], match[2]);
    }
    return defines;
}

// The number a define's value text stands for: 2L, __MSABI_LONG(2), (-1).
bool numberIn(std::string text, int64_t& number) {
    const std::regex wrapped(R"(^(?:__MSABI_LONG)?\((.*)\)$)");
    std::smatch match;
    while (std::regex_match(text, match, wrapped)) text = match[1];
    if (!std::regex_match(text, match, std::regex(R"(^\s*(-?[0-9]+)[lLuU]*\s*$)"))) return false;
    number = std::stoll(match[1]);
    return true;
}

// Each row's name is the one the headers define with the row's code: a row
// whose name and code were mismatched, or whose name was mistyped, shows.
TEST(ErrorNameTable, EveryRowIsTheHeadersNameForItsCode) {
    const auto winerror = definesIn("winerror.h");
    const auto lzexpand = definesIn("lzexpand.h");
    const auto rpcnterr = definesIn("rpcnterr.h");
    if (winerror.empty() || lzexpand.empty())
        GTEST_SKIP() << "no mingw-w64 headers in " << kSdkInclude << " to compare with";
    // Names the headers have since moved to another code, or made aliases
    // of other names; the table keeps the code they had.
    const std::set<std::string> moved = {"RPC_S_SERVER_OUT_OF_MEMORY",
                                         "RPC_X_SS_CONTEXT_MISMATCH", "ERROR_NO_NETWORK"};
    const ErrorNameRow* rows = errorNameRows();
    for (int i = 0; i < errorNameCount(); ++i) {
        const std::string name = rows[i].name;
        const auto& header = rows[i].code < 0 ? lzexpand : winerror;
        if (moved.count(name) != 0) {
            EXPECT_TRUE(winerror.count(name) != 0 || rpcnterr.count(name) != 0) << name;
            continue;
        }
        auto found = header.find(name);
        if (found == header.end()) {
            ADD_FAILURE() << name << " (" << rows[i].code << ") is not defined in the headers";
            continue;
        }
        int64_t value = 0;
        EXPECT_TRUE(numberIn(found->second, value)) << name << " " << found->second;
        EXPECT_EQ(value, rows[i].code) << name;
    }
}

// --- lookup ----------------------------------------------------------------

// Codes as the Windows documentation of system error codes lists them, in
// every stretch of the table.
TEST(ErrorNameLookup, NamesCommonCodes) {
    const std::pair<int32_t, const char*> documented[] = {
        {0, "NO_ERROR"},
        {1, "ERROR_INVALID_FUNCTION"},
        {2, "ERROR_FILE_NOT_FOUND"},
        {3, "ERROR_PATH_NOT_FOUND"},
        {5, "ERROR_ACCESS_DENIED"},
        {13, "ERROR_INVALID_DATA"},
        {15, "ERROR_INVALID_DRIVE"},
        {21, "ERROR_NOT_READY"},
        {32, "ERROR_SHARING_VIOLATION"},
        {39, "ERROR_HANDLE_DISK_FULL"},
        {109, "ERROR_BROKEN_PIPE"},
        {112, "ERROR_DISK_FULL"},
        {183, "ERROR_ALREADY_EXISTS"},
        {267, "ERROR_DIRECTORY"},
        {995, "ERROR_OPERATION_ABORTED"},
        {998, "ERROR_NOACCESS"},
        {1314, "ERROR_PRIVILEGE_NOT_HELD"},
        {1326, "ERROR_LOGON_FAILURE"},
        {1392, "ERROR_FILE_CORRUPT"},
        {1816, "ERROR_NOT_ENOUGH_QUOTA"},
    };
    for (const auto& [code, name] : documented) EXPECT_EQ(nameOf(code), name) << code;
}

// The POSIX backend writes these codes down itself; each must carry the value
// Windows gives the name, from whose header the table is made.
#define EXPECT_NAMED(code) EXPECT_STREQ(errorName(code), #code)

TEST(ErrorNameLookup, CodesNamedByThePlatformHeaderHaveThoseNames) {
    EXPECT_NAMED(NO_ERROR);
    EXPECT_NAMED(ERROR_FILE_NOT_FOUND);
    EXPECT_NAMED(ERROR_PATH_NOT_FOUND);
    EXPECT_NAMED(ERROR_TOO_MANY_OPEN_FILES);
    EXPECT_NAMED(ERROR_ACCESS_DENIED);
    EXPECT_NAMED(ERROR_INVALID_HANDLE);
    EXPECT_NAMED(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_NAMED(ERROR_OUTOFMEMORY);
    EXPECT_NAMED(ERROR_NOT_SAME_DEVICE);
    EXPECT_NAMED(ERROR_NO_MORE_FILES);
    EXPECT_NAMED(ERROR_WRITE_PROTECT);
    EXPECT_NAMED(ERROR_GEN_FAILURE);
    EXPECT_NAMED(ERROR_SHARING_VIOLATION);
    EXPECT_NAMED(ERROR_LOCK_VIOLATION);
    EXPECT_NAMED(ERROR_SHARING_BUFFER_EXCEEDED);
    EXPECT_NAMED(ERROR_HANDLE_EOF);
    EXPECT_NAMED(ERROR_NOT_SUPPORTED);
    EXPECT_NAMED(ERROR_BAD_NETPATH);
    EXPECT_NAMED(ERROR_NETWORK_BUSY);
    EXPECT_NAMED(ERROR_DEV_NOT_EXIST);
    EXPECT_NAMED(ERROR_NETNAME_DELETED);
    EXPECT_NAMED(ERROR_SHARING_PAUSED);
    EXPECT_NAMED(ERROR_FILE_EXISTS);
    EXPECT_NAMED(ERROR_OUT_OF_STRUCTURES);
    EXPECT_NAMED(ERROR_INVALID_PARAMETER);
    EXPECT_NAMED(ERROR_OPEN_FAILED);
    EXPECT_NAMED(ERROR_DISK_FULL);
    EXPECT_NAMED(ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_NAMED(ERROR_SEM_TIMEOUT);
    EXPECT_NAMED(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_NAMED(ERROR_INVALID_NAME);
    EXPECT_NAMED(ERROR_BUSY_DRIVE);
    EXPECT_NAMED(ERROR_DIR_NOT_EMPTY);
    EXPECT_NAMED(ERROR_PATH_BUSY);
    EXPECT_NAMED(ERROR_BAD_PATHNAME);
    EXPECT_NAMED(ERROR_BUSY);
    EXPECT_NAMED(ERROR_ALREADY_EXISTS);
    EXPECT_NAMED(ERROR_FILENAME_EXCED_RANGE);
    EXPECT_NAMED(ERROR_LOCKED);
    EXPECT_NAMED(ERROR_CANTOPEN);
    EXPECT_NAMED(ERROR_IO_DEVICE);
}

TEST(ErrorNameLookup, KeepsTheHeaderSpellingOddities) {
    EXPECT_EQ(nameOf(194), "ERROR_ITERATED_DATA_EXCEEDS_64k");
    EXPECT_EQ(nameOf(201), "ERROR_RELOC_CHAIN_XEEDS_SEGLIM");
}

TEST(ErrorNameLookup, NamesLzExpansionCodesFromTheirUnsignedValue) {
    EXPECT_EQ(errorName(4294967295u), std::string("LZERROR_BADINHANDLE"));
    EXPECT_EQ(nameOf(-1), "LZERROR_BADINHANDLE");
    EXPECT_EQ(nameOf(-2), "LZERROR_BADOUTHANDLE");
    EXPECT_EQ(nameOf(-8), "LZERROR_UNKNOWNALG");
    EXPECT_EQ(nameOf(-9), "ERROR_UNDEFINED");
}

TEST(ErrorNameLookup, RangeEdges) {
    EXPECT_EQ(nameOf(34), "ERROR_WRONG_DISK");
    EXPECT_EQ(nameOf(35), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(36), "ERROR_SHARING_BUFFER_EXCEEDED");
    EXPECT_EQ(nameOf(37), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(72), "ERROR_REDIR_PAUSED");
    EXPECT_EQ(nameOf(73), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(1728), "RPC_S_PROTOCOL_ERROR");
    EXPECT_EQ(nameOf(1729), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(1730), "RPC_S_UNSUPPORTED_TRANS_SYN");
    EXPECT_EQ(nameOf(1751), "EPT_S_INVALID_ENTRY");
    EXPECT_EQ(nameOf(1772), "RPC_X_NO_MORE_ENTRIES");
    EXPECT_NE(nameOf(1816), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(1817), "ERROR_UNDEFINED");
    EXPECT_EQ(nameOf(6118), "ERROR_NO_BROWSER_SERVERS_FOUND");
    EXPECT_EQ(nameOf(6119), "ERROR_UNDEFINED");
}

TEST(ErrorNameLookup, NamesCodesTheCurrentHeadersNoLongerAssign) {
    EXPECT_EQ(nameOf(1731), "RPC_S_SERVER_OUT_OF_MEMORY");
    EXPECT_EQ(nameOf(1776), "RPC_X_SS_CONTEXT_MISMATCH");
    EXPECT_EQ(nameOf(2138), "ERROR_NO_NETWORK");
    // ERROR_NO_NETWORK's later value is not one of the named codes.
    EXPECT_EQ(nameOf(1222), "ERROR_UNDEFINED");
}

TEST(ErrorNameLookup, EveryListedCodeHasItsRowName) {
    const ErrorNameRow* rows = errorNameRows();
    for (int i = 0; i < errorNameCount(); ++i) {
        EXPECT_STREQ(errorName(asDword(rows[i].code)), rows[i].name) << rows[i].code;
    }
}

TEST(ErrorNameLookup, EveryOtherCodeIsUndefined) {
    const std::vector<int32_t> listed = namedCodes();
    const std::set<int32_t> named(listed.begin(), listed.end());
    for (int32_t code = -100; code <= 10000; ++code) {
        const char* name = errorName(asDword(code));
        ASSERT_NE(name, nullptr) << code;
        if (named.count(code) != 0) {
            EXPECT_STRNE(name, "ERROR_UNDEFINED") << code;
        } else {
            EXPECT_STREQ(name, "ERROR_UNDEFINED") << code;
        }
    }
}

TEST(ErrorNameLookup, ComparesAllThirtyTwoBits) {
    // Same low 16 bits as ERROR_ACCESS_DENIED / NO_ERROR / LZERROR_BADINHANDLE.
    EXPECT_EQ(errorName(0x80070005u), std::string("ERROR_UNDEFINED"));
    EXPECT_EQ(errorName(0x00010000u), std::string("ERROR_UNDEFINED"));
    EXPECT_EQ(errorName(0x0000FFFFu), std::string("ERROR_UNDEFINED"));
    EXPECT_EQ(errorName(0x7FFFFFFFu), std::string("ERROR_UNDEFINED"));
    EXPECT_EQ(errorName(0x80000000u), std::string("ERROR_UNDEFINED"));
}
