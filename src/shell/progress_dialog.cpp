#include "shell/progress_dialog.h"

#include <algorithm>
#include <condition_variable>

#include "platform/cancel_signals.h"
#include "platform/closing_report.h"
#include "platform/message_boxes.h"
#include "platform/panel_terminal.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "shell/application.h"
#include "shell/progress_panel.h"

namespace {

constexpr int kKeyWaitMs = 200;
constexpr int kStartWaitMs = 50;

// A message box (or the closing report's turn) on its way from the worker
// to the UI thread, which owns the terminal while the panel is up.
struct PanelRequest {
    bool pending = false;
    bool shown = false;
    bool finish = false;
    bool question = false;
    std::string text, caption;
    bool answered = false;
    int answer = 0;
};

// What the worker and the UI thread share while one dialog is shown.
struct PanelShared {
    std::mutex requestMutex;
    std::condition_variable requestAnswered;
    PanelRequest request;
    // The panel has figures to show: boxes now go into it.
    std::atomic<bool> live{false};
    // The panel has stepped aside for good (the closing report).
    std::atomic<bool> finished{false};
    std::atomic<unsigned> repaintCount{0};

    int askUiThread(const PanelRequest& asked) {
        std::unique_lock<std::mutex> lock(requestMutex);
        request = asked;
        request.pending = true;
        platform::wakePanelTerminal();
        requestAnswered.wait(lock, [this] { return request.answered; });
        request.pending = false;
        return request.answer;
    }

    void answerRequest(int answer) {
        std::lock_guard<std::mutex> lock(requestMutex);
        request.answered = true;
        request.answer = answer;
        requestAnswered.notify_all();
    }
};

// The panel being shown; the platform's box and report hooks carry no
// context of their own.
std::atomic<PanelShared*> shownPanel{nullptr};

int presentInPanel(const char* text, const char* caption, UINT type) {
    PanelShared* panel = shownPanel.load();
    if (panel == nullptr || !panel->live.load())
        return platform::plainMessageBox(text, caption, type);
    PanelRequest box;
    box.text = text;
    box.caption = caption;
    box.question = (type & 0x0Fu) == MB_YESNO;
    return panel->askUiThread(box);
}

void stepAsideForReport() {
    PanelShared* panel = shownPanel.load();
    if (panel == nullptr || !panel->live.load()) return;
    PanelRequest finish;
    finish.finish = true;
    panel->askUiThread(finish);
}

PanelFigures snapshot(ProgressDialog& dialog) {
    PanelFigures figures;
    std::lock_guard<std::mutex> lock(dialog.mutex);
    figures.title = dialog.title;
    for (int i = 0; i < kProgressFieldCount; ++i) figures.fields[i] = dialog.fields[i];
    return figures;
}

void send(const std::string& bytes) {
    if (!bytes.empty()) platform::writePanelTerminal(bytes.data(), bytes.size());
}

bool workerEnded(HANDLE worker, DWORD waitMs) {
    return WaitForSingleObject(worker, waitMs) == WAIT_OBJECT_0;
}

// The panel on the UI thread: keys, boxes and drawing until the worker ends
// or the closing report needs the terminal.
class PanelLoop {
public:
    PanelLoop(ProgressDialog& dialog, HANDLE worker, PanelShared& shared)
        : dialog_(dialog), worker_(worker), shared_(shared) {}

    void run() {
        while (!shared_.live.load()) {
            if (workerEnded(worker_, kStartWaitMs)) return;
        }
        if (!platform::openPanelTerminal()) {
            stepAside();
            return;
        }
        while (!workerEnded(worker_, 0)) {
            platform::KeyPress press = platform::readPanelKey(kKeyWaitMs);
            if (press.key == platform::PanelKey::Resized) {
                painter_.redrawAll();
            } else if (press.key != platform::PanelKey::None) {
                carryOut(controls_.key(press));
            }
            if (takeRequest()) return;
            draw();
        }
        figures_ = snapshot(dialog_);
        stepAside();
    }

private:
    void carryOut(const KeyOutcome& outcome) {
        if (outcome.bell) send("\a");
        if (outcome.cancel) {
            // A confirmed Cancel (SIGTERM) is never turned back into a question.
            int32_t none = 0;
            runState.cancelRequested.compare_exchange_strong(none, platform::kCancelAsk);
        }
        if (outcome.delaysTaken) {
            dialog_.delayOpenValue = outcome.delays[0];
            dialog_.delaySourceValue = outcome.delays[1];
            dialog_.delayTargetValue = outcome.delays[2];
        }
        if (outcome.answer != 0) shared_.answerRequest(outcome.answer);
    }

    // True when the panel has stepped aside.
    bool takeRequest() {
        std::unique_lock<std::mutex> lock(shared_.requestMutex);
        PanelRequest& request = shared_.request;
        if (!request.pending || request.answered) return false;
        if (request.finish) {
            lock.unlock();
            figures_ = snapshot(dialog_);
            stepAside();
            shared_.answerRequest(0);
            return true;
        }
        if (!request.shown) {
            request.shown = true;
            controls_.showBox(request.caption, request.text, request.question);
            if (!request.question) {
                request.answered = true;
                request.answer = IDOK;
                shared_.requestAnswered.notify_all();
            }
        } else if (controls_.questionOpen() &&
                   runState.cancelRequested.load() == platform::kCancelConfirmed) {
            // SIGTERM or SIGHUP while a question waits: the run is to end, so
            // the question is answered as it is without anyone to answer it.
            controls_.closeBox();
            request.answered = true;
            request.answer = IDNO;
            shared_.requestAnswered.notify_all();
        }
        return false;
    }

    void draw() {
        unsigned count = shared_.repaintCount.load();
        if (count != seenRepaints_) {
            seenRepaints_ = count;
            figures_ = snapshot(dialog_);
        }
        int32_t values[3] = {dialog_.delayOpenValue.load(), dialog_.delaySourceValue.load(),
                             dialog_.delayTargetValue.load()};
        controls_.followValues(values);
        send(painter_.paint(fittedScreen()));
    }

    // The panel as the terminal's size allows it now.
    PanelScreen fittedScreen() {
        auto rows = static_cast<size_t>(std::max(platform::panelTerminalRows(), 1));
        controls_.fitWidth(static_cast<size_t>(std::max(platform::panelTerminalColumns(), 1)));
        return controls_.screen(figures_, rows > 1 ? rows - 1 : 1);
    }

    // The last figures stay on the terminal, with the last notice under them
    // (a fatal message); boxes are plain from now on.
    void stepAside() {
        shared_.finished = true;
        shared_.live = false;
        send(painter_.paint(fittedScreen()));
        send(painter_.close());
        platform::closePanelTerminal();
        // A box that came in meanwhile is answered the plain way.
        std::unique_lock<std::mutex> lock(shared_.requestMutex);
        const PanelRequest& request = shared_.request;
        if (request.pending && !request.answered && !request.finish) {
            std::string text = request.text, caption = request.caption;
            bool question = request.question;
            lock.unlock();
            shared_.answerRequest(platform::plainMessageBox(text.c_str(), caption.c_str(),
                                                    question ? MB_YESNO : MB_OK));
        }
    }

    ProgressDialog& dialog_;
    HANDLE worker_;
    PanelShared& shared_;
    PanelControls controls_;
    PanelPainter painter_;
    PanelFigures figures_;
    unsigned seenRepaints_ = ~0u;
};

bool anyField(ProgressDialog& dialog) {
    std::lock_guard<std::mutex> lock(dialog.mutex);
    for (const std::string& field : dialog.fields) {
        if (!field.empty()) return true;
    }
    return false;
}

// The panel as the worker's dialog calls on it.
class PanelHost : public DialogHost {
public:
    PanelShared shared;

    HWND window() override { return nullptr; }
    void retitled(ProgressDialog&) override {}
    void repaint(ProgressDialog& dialog) override {
        // The panel appears with the first figures, not before: a run that
        // ends on its command line shows its message plainly.
        if (!shared.finished.load() && anyField(dialog)) shared.live = true;
        shared.repaintCount.fetch_add(1);
        platform::wakePanelTerminal();
    }
    void ended(ProgressDialog&) override { platform::wakePanelTerminal(); }
};

}  // namespace

int showDialogModal(ProgressDialog& dialog, HANDLE worker) {
    bool terminal = platform::standardErrorIsTerminal();
    PanelHost host;
    if (terminal) {
        shownPanel = &host.shared;
        dialog.host = &host;
        platform::setMessageBoxPresenter(presentInPanel);
        platform::setReportHook(stepAsideForReport);
    }
    if (ResumeThread(worker) == static_cast<DWORD>(-1)) {
        // Nothing has run: no log, no panel; only the reason is left to say.
        DWORD code = GetLastError();
        if (terminal) {
            platform::setMessageBoxPresenter(nullptr);
            platform::setReportHook(nullptr);
            dialog.host = nullptr;
            shownPanel = nullptr;
        }
        return workerNotStarted(code);
    }
    if (terminal) PanelLoop(dialog, worker, host.shared).run();
    // The worker ends the dialog and then itself; an assertion stop ends only
    // the worker. Either way the run is over when the worker is.
    WaitForSingleObject(worker, INFINITE);
    if (terminal) {
        platform::setMessageBoxPresenter(nullptr);
        platform::setReportHook(nullptr);
        dialog.host = nullptr;
        shownPanel = nullptr;
    }
    DWORD exitCode = 1;
    GetExitCodeThread(worker, &exitCode);
    return static_cast<int>(exitCode);
}
