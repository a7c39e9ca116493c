#include "run/run_entry.h"

#include <cstring>

#include "engine/run_driver.h"
#include "engine/search_pattern.h"
#include "platform/arguments.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/log_file.h"
#include "report/progress_dialog.h"
#include "report/run_state.h"
#include "run/command_line.h"
#include "run/command_splitter.h"
#include "run/final_report.h"
#include "support/failure_stops.h"
#include "support/heap.h"
#include "support/run_stop.h"

namespace {

constexpr size_t kWorkerStackSize = 100000;
constexpr int kCancelButton = 1003;

// Fills the argument vector, either from the platform's own vector or by
// splitting a private copy of the command line. Returns the count.
int takeArguments(const char* commandLine, char** argumentVector, TextBuffer& commandText) {
    int argc = 0;
    const char* argumentText = nullptr;
    if (char** argv = platform::processArgumentVector(&argc, &argumentText)) {
        // One more than the limit is kept so that the parser can refuse it.
        if (argc > kMaxArguments + 1) argc = kMaxArguments + 1;
        std::memcpy(argumentVector, argv, static_cast<size_t>(argc) * sizeof(char*));
        if (argc > 1) commandText.append(argumentText);
        return argc;
    }
    size_t size = std::strlen(commandLine) + 1;
    char* copy = static_cast<char*>(heapAllocate(size));
    if (copy == nullptr) outOfMemory(static_cast<int32_t>(size));
    std::memcpy(copy, commandLine, size);
    return splitCommandLine(copy, argumentVector, kMaxArguments, commandText);
}

// The exit code of a run that went to its end without doing all it was
// asked: a file failed or stayed busy, a difference was found, an entry was
// refused, the delete limit kept entries the source lacks, an extended
// attribute did not reach its copy.
constexpr int kRunIncomplete = 2;

bool leftWorkUndone() {
    return runState.exceptionList.count > 0 || runState.busyList.count > 0 ||
           runState.copiedNotVerified > 0 || runState.entriesKeptByLimit > 0 ||
           runState.attributesNotCarried > 0;
}

// Shows the closing report where no log holds it; the exit code of a run
// that went to its end.
int finishRun() {
    if (runState.logHandle == INVALID_HANDLE_VALUE && !runState.noWarn) showClosingMessage();
    return leftWorkUndone() ? kRunIncomplete : 0;
}

}  // namespace

bool startWorker(ProgressDialog* dialog) {
    HANDLE uiThread = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &uiThread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    auto* param = static_cast<WorkerParam*>(heapAllocate(sizeof(WorkerParam)));
    if (param == nullptr) outOfMemory(static_cast<int32_t>(sizeof(WorkerParam)));
    *param = WorkerParam{dialog, uiThread, GetCommandLineA()};
    runState.workerThread =
        CreateThread(nullptr, kWorkerStackSize, workerMain, param, CREATE_SUSPENDED, nullptr);
    return runState.workerThread != nullptr;
}

DWORD WINAPI workerMain(LPVOID raw) {
    auto* param = static_cast<WorkerParam*>(raw);
    if (runState.workerParam != nullptr) {
        MessageBoxA(dialogWindow(runState.progressDialog), "KAZ recursive call to KAZthread.",
                    "KAZ", MB_OK);
        return 1;
    }
    runState.workerParam = param;
    runState.progressDialog = param->dialog;
    runState.uiThreadHandle = param->uiThread;
    SetThreadPriority(param->uiThread, THREAD_PRIORITY_LOWEST);
    stopRun(runEntry(param->commandLine));
}

int runEntry(const char* commandLine) {
    installRunStop(endRun);
    // The arguments and the text behind them live as long as the run.
    size_t lineLength = commandLine ? std::strlen(commandLine) : 0;
    TextBuffer commandText("KAZ ", static_cast<int32_t>(lineLength + 1));
    char* argumentVector[kMaxArguments + 1];
    int argc = takeArguments(commandLine ? commandLine : "", argumentVector, commandText);
    runState.commandText = commandText.text();
    if (argc > 1) setDialogTitle(runState.progressDialog, runState.commandText);
    createEntryTable();
    runState.runStartTicks = timeGetTime();
    int mode = parseCommandLine(argc, argumentVector, runState.commandText);
    if (mode == 0) fatalMessage(1, "KAZ - Invalid arguments");
    int exitCode = runDriver(mode) != 0 ? 1 : finishRun();
    closeLog();
    // Its text ends with this call.
    runState.commandText = nullptr;
    return exitCode;
}

void endRun(int exitCode, const char* message) {
    showAndCloseLog(exitCode, message);
    repaintDialog(runState.progressDialog);
    endDialog(runState.progressDialog, kCancelButton);
    ExitThread(static_cast<DWORD>(exitCode));
}
