// Adds files and folders to the session library on a thread of its own: the
// window shows the progress that is handed back to the GUI thread after each
// file, and may ask the add to stop between files (what is stored stays).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "library/session_library.h"

namespace lorvane::app {

struct LibraryAddReport {
    std::vector<AddResult> results; // one per file handled, in order
    bool cancelled = false;         // stopped before the last file
    std::string error;              // the database could not be opened or written
};

class LibraryWorker : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~LibraryWorker() override; // cancels a running add and waits for its end

    // Adds `paths` to the library in the circuit database at `dbPath` (empty:
    // the user's default one); false when an add is running.
    bool start(const std::string& dbPath, std::vector<std::string> paths);
    bool running() const { return running_; }
    // Asks the add to stop before its next file; finished still follows.
    void cancel() { cancel_ = true; }
    bool cancelling() const { return running_ && cancel_; }
    // Cancels a running add and waits for its thread; no signal follows.
    void abandon();

signals:
    // After each file: files done, files in all.
    void progress(qint64 done, qint64 total);
    void finished(const lorvane::app::LibraryAddReport& report);

private:
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    std::uint64_t generation_ = 0; // what a queued call from an abandoned add is told apart by
};

} // namespace lorvane::app
