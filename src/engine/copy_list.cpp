#include "engine/copy_list.h"

#include <cstring>
#include <string>

#include "platform/conventions.h"
#include "platform/windows_api.h"
#include "report/progress_dialog.h"
#include "report/run_state.h"
#include "transfer/file_copy.h"
#include "transfer/file_verify.h"

namespace {

// The script read through a block buffer; a read error ends it like the
// end of the file.
class ScriptReader {
public:
    explicit ScriptReader(HANDLE file) : file_(file) {}

    bool next(char& byte) {
        if (at_ == filled_) {
            DWORD read = 0;
            if (ended_ || !ReadFile(file_, block_, sizeof block_, &read, nullptr) || read == 0) {
                ended_ = true;
                return false;
            }
            filled_ = read;
            at_ = 0;
        }
        byte = block_[at_++];
        return true;
    }

private:
    HANDLE file_;
    char block_[4096];
    DWORD filled_ = 0, at_ = 0;
    bool ended_ = false;
};

void showNotice(const char* text) {
    MessageBoxA(dialogWindow(runState.progressDialog), text, "KAZ", MB_OK);
}

// The longest line, its line feed included: two paths and room for the
// words and quotes around them, so that every log can be read back.
size_t lineLimit() { return 2 * static_cast<size_t>(platform::kMaxPath) + 103; }

// The next line with its line feed; false at the end of the script. A line
// that reaches the limit without its line feed is dropped with a notice.
bool readLine(ScriptReader& reader, std::string& line) {
    const size_t limit = lineLimit();
    for (;;) {
        line.clear();
        char byte = '\0';
        bool tooLong = false;
        while (reader.next(byte)) {
            line.push_back(byte);
            if (byte == '\n') break;
            if (line.size() == limit) {
                tooLong = true;
                break;
            }
        }
        if (!tooLong) return !line.empty();
        showNotice("Line too long in list file.");
        while (reader.next(byte) && byte != '\n') {
        }
    }
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Lines that KAZ writes into its lists besides the pairs. Read as pairs they
// would name the command word, or "Source", as a file: a replay must never
// act on such a pair.
bool isOwnMessageLine(const std::string& line) {
    if (startsWith(line.c_str(), "MKDIR ") || startsWith(line.c_str(), "RMDIR ") ||
        startsWith(line.c_str(), "DEL ")) {
        return true;
    }
    // Kept as written, misspelling included: logs and messages are read by
    // people's scripts.
    static const std::string kNotice = " dissappeared, nothing to copy";
    size_t end = line.find_last_not_of("\r\n");
    return startsWith(line.c_str(), "Source file ") && end != std::string::npos &&
           end + 1 >= kNotice.size() && line.compare(end + 1 - kNotice.size(), kNotice.size(),
                                                     kNotice) == 0;
}

enum class Entry { kPair, kEmpty, kInvalid };

// Cuts the two names out of the line in place.
Entry splitPair(char* p, char*& first, char*& second) {
    char* end;
    if (*p == '"') {
        first = p + 1;
        end = std::strchr(first, '"');
    } else {
        first = p;
        end = std::strpbrk(first, " ,\t");
    }
    if (end == nullptr) {
        return *first == '\r' || *first == '\n' ? Entry::kEmpty : Entry::kInvalid;
    }
    *end = '\0';
    p = end + 1;
    while (*p == ' ' || *p == ',' || *p == '\t') ++p;
    if (*p == '"') {
        second = p + 1;
        end = std::strchr(second, '"');
    } else {
        second = p;
        end = std::strpbrk(second, " ,\t;\r\n");
    }
    if (end == nullptr || end == second) return Entry::kInvalid;
    *end = '\0';
    return Entry::kPair;
}

}  // namespace

int replayCopyList() {
    ScriptReader reader(runState.scriptHandle);
    std::string line;
    bool firstPending = true;
    bool skippingToLabel = false;
    bool waitingForList = false;
    bool insideList = false;
    line.reserve(lineLimit() + 1);
    while (readLine(reader, line)) {
        const char* text = line.c_str();
        if (firstPending) {
            firstPending = false;
            if (std::strncmp(text, "goto COPY", 9) == 0) {
                // A log: without verify its recopy list after the label,
                // with verify the pairs of its file list.
                if (runState.verify) {
                    waitingForList = true;
                } else {
                    skippingToLabel = true;
                }
                continue;
            }
        }
        if (skippingToLabel) {
            if (startsWith(text, ":COPY")) skippingToLabel = false;
            continue;
        }
        if (waitingForList || insideList) {
            if (startsWith(text, ":---")) {
                if (insideList) break;
                waitingForList = false;
                insideList = true;
                continue;
            }
            if (waitingForList) continue;
        }
        if (text[0] == ':' || isOwnMessageLine(line)) continue;
        char* p = line.data();
        // A "COPY " line carries a pair that still has to be copied, in a
        // recopy list and after a failed write alike.
        if (startsWith(p, "COPY ")) p += 5;
        char* first = nullptr;
        char* second = nullptr;
        switch (splitPair(p, first, second)) {
            case Entry::kEmpty: continue;
            case Entry::kInvalid: showNotice("Invalid copy list file."); return 1;
            case Entry::kPair: break;
        }
        if (runState.verify) {
            verifyFile(first, second);
        } else {
            copyFile(first, second);
        }
    }
    return 0;
}
