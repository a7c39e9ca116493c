// The one process-wide record of a run: settings, handles, counters, the
// exception and busy lists, the log buffer and the progress display's memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "support/text_buffer.h"

struct ProgressDialog;
struct SourceEntry;
struct WorkerParam;

struct ListEntry {
    char* firstName = nullptr;   // source path (delete tree: the failed path)
    char* secondName = nullptr;  // target path (delete tree: the message)
    DWORD code = 0;              // Windows error code, 0 for none
    int32_t messageIndex = 0;    // into resultMessages, used when code is 0
};

struct EntryList {
    int32_t capacity = 0;
    ListEntry* entries = nullptr;
    int32_t count = 0;
};

enum ResultMessage : int32_t {
    kNoError = 0,
    kVerifyError = 1,
    kSourceNotFound = 2,
    kTargetNotFound = 3,
    kDifferentLength = 4,
};
extern const char* const resultMessages[5];

// What the display showed last; -1 (all bits set) is never a real value, so
// the first refresh shows every field.
struct ProgressMemory {
    int32_t lastShownSeconds = -1, lastShownMinutes = -1, lastShownHours = -1;
    uint32_t lastShownFilesProcessed = UINT32_MAX, lastShownVirtualFilesProcessed = UINT32_MAX;
    uint32_t lastShownBusyCount = UINT32_MAX, lastShownFilesCreated = UINT32_MAX;
    uint32_t lastShownFoldersCreated = UINT32_MAX, lastShownFilesDeleted = UINT32_MAX;
    uint32_t lastShownFoldersDeleted = UINT32_MAX, lastShownExceptionCount = UINT32_MAX;
    double lastShownBytes = -1.0, lastShownVirtualBytes = -1.0;
    // The dialog whose delay boxes were given the command-line delays.
    ProgressDialog* delaysStartedFor = nullptr;
    bool repainted = false;
    uint32_t lastRepaintTicks = 0;
};

enum RunMode : int {
    TreeToTree = 1,
    ReferenceToTree = 2,
    TreeToReference = 3,
    Script = 4,
};

struct RunState {
    RunState();
    ~RunState();
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    // Thread links.
    HANDLE workerThread = nullptr;
    WorkerParam* workerParam = nullptr;
    ProgressDialog* progressDialog = nullptr;
    HANDLE uiThreadHandle = nullptr;

    // Settings, cleared by the command-line parser before it reads the arguments.
    TextBuffer sourceArg, targetArg, logFileName;
    TextBuffer excludeText;
    int32_t busyWaitTime = 0;
    int32_t delayOpen = 0, delaySource = 0, delayTarget = 0;
    int32_t debug = 0, dos = 0, noUnc = 0, noWarn = 0, quiet = 0, noShare = 0;
    int32_t tally = 0, test = 0, time = 0, trialRun = 0, verbose = 0, verify = 0;
    int32_t maxErrors = 0;
    // The most target entries a run removes; -1 for no limit.
    int32_t limitDelete = -1;

    // Handles and buffers.
    // The command line as the log and messages show it ("KAZ " and the
    // arguments); it lives as long as the run.
    const char* commandText = nullptr;
    HANDLE scriptHandle = INVALID_HANDLE_VALUE;
    HANDLE referenceFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA referenceFindData{};
    HANDLE logHandle = INVALID_HANDLE_VALUE;
    // Made when the log is opened, so that closing it needs no memory: the
    // out-of-memory stop closes the log as well. The entry name is its last
    // component, the name a walk would meet it under.
    TextBuffer temporaryLogName;
    std::string temporaryLogEntryName;
    static constexpr uint32_t kLogBufferSize = 32768;
    char logBuffer[kLogBufferSize];
    uint32_t logBufferUsed = 0;
    // Each of kTransferBufferSize bytes: the block a copy or a comparison
    // moves at a time.
    static constexpr uint32_t kTransferBufferSize = 131072;
    char* transferBuffer1 = nullptr;
    char* transferBuffer2 = nullptr;
    // The source entries of the folders on the walk's path, and their names.
    SourceEntry* entryTable = nullptr;
    int32_t entryCapacity = 0;
    char* entryNames = nullptr;
    uint32_t entryNamesUsed = 0, entryNamesCapacity = 0;
    char** excludeFilters = nullptr;
    int32_t excludeCount = 0;
    int32_t excludeCapacity = 0;
    int32_t extensionRuleEnabled = 1;

    // Progress counters.
    uint32_t filesProcessed = 0, virtualFilesProcessed = 0;
    double bytesCopied = 0, virtualBytesCopied = 0;
    uint32_t filesCreated = 0, foldersCreated = 0, filesDeleted = 0, foldersDeleted = 0;
    // Target entries removed (in a trial run: that would be), files and
    // folders alike, and those the delete limit kept. A file replaced by its
    // new version is neither.
    uint32_t entriesRemoved = 0, entriesKeptByLimit = 0;

    // Summary counters.
    int32_t totalDirectoriesConsidered = 0, totalDirectoriesCreated = 0;
    int32_t totalDirectoriesDeleted = 0, totalFilesConsidered = 0, totalFilesCopied = 0;
    int32_t exceptionCount = 0, totalFilesDeleted = 0, totalFilesExcluded = 0;
    int32_t busySourceOpens = 0, busyTargetOpens = 0;
    int32_t estimatedClusters = 0, blocks1024 = 0, blocks512 = 0;

    // Progress display memory. The Cancel request is written by the UI thread.
    std::atomic<int32_t> cancelRequested{0};
    uint32_t runStartTicks = 0, lastTicks = 0, lastRefreshTicks = 0;
    int32_t forceRefresh = 0;
    TextBuffer shownSource{260u}, shownTarget{260u}, shownExcludes{260u};
    int32_t shownSourceChanged = 0, shownTargetChanged = 0, shownExcludesChanged = 0;
    ProgressMemory progressMemory;

    EntryList exceptionList;
    EntryList busyList;
    // Pairs whose copy failed for another reason than a busy source: the
    // recopy list names them with the busy files, for a replay to finish.
    EntryList recopyList;
    // Busy files that the retry pass of a verify run copied instead.
    int32_t copiedNotVerified = 0;
    // Files and folders that did not get all their source's extended
    // attributes, and the reasons (Windows codes) the log has told already:
    // each once a run.
    int32_t attributesNotCarried = 0;
    std::vector<DWORD> attributeRefusalsTold;

    // The pattern of the source folder a mirror walk started from.
    std::string sourceRootPattern;

    // Puts the settings block back to all zero, as the parser does first.
    void clearSettings();
};

extern RunState runState;

// Puts the whole run state back to its start values, as a new process has
// it (every run-scoped value lives in runState), and installs the stop of a
// run without its run layer: the message shown, the log closed under its
// final name. The tests start each case with it.
void resetRunState();

int addEntry(EntryList& list, const char* firstName, const char* secondName, DWORD code,
             int32_t messageIndex);
int addException(const char* firstName, const char* secondName, DWORD code,
                 int32_t messageIndex);
int addBusyFile(const char* source, const char* target, DWORD code);
void addBytes(double& total, DWORD high, DWORD low);
void destroyList(EntryList& list);
