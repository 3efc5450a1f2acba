#include "gui/app/library_worker.h"

#include <exception>
#include <new>
#include <utility>

#include "circuits/circuit_db.h"
#include "formats/diagnostic.h"

namespace lorvane::app {

LibraryWorker::~LibraryWorker() {
    abandon();
}

bool LibraryWorker::start(const std::string& dbPath, std::vector<std::string> paths) {
    if (running_) return false;
    running_ = true;
    cancel_ = false;
    const std::uint64_t generation = ++generation_;
    const std::string db = dbPath.empty() ? defaultCircuitDbPath() : dbPath;
    thread_ = std::thread([this, db, paths = std::move(paths), generation] {
        LibraryAddReport report;
        std::size_t lastDone = 0, lastTotal = 0;
        try {
            SessionLibrary library = SessionLibrary::open(db);
            AddOptions options;
            options.keepGoing = [this] { return !cancel_.load(); };
            options.onFile = [&, this, generation](const AddResult&, std::size_t done,
                                                   std::size_t total) {
                lastDone = done;
                lastTotal = total;
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, done, total] {
                        if (generation == generation_ && running_)
                            emit progress(static_cast<qint64>(done), static_cast<qint64>(total));
                    },
                    Qt::QueuedConnection);
            };
            report.results = library.add(paths, options);
        } catch (const LoadError& e) {
            report.error = e.diagnostic().describe();
        } catch (const std::bad_alloc&) {
            report.error = "Out of memory";
        } catch (const std::exception& e) {
            report.error = e.what();
        }
        // A cancel that came after the last file stopped nothing.
        report.cancelled = cancel_.load() && !(lastTotal > 0 && lastDone == lastTotal);
        QMetaObject::invokeMethod(
            this,
            [this, generation, report = std::move(report)] {
                if (generation != generation_) return;
                if (thread_.joinable()) thread_.join();
                running_ = false;
                emit finished(report);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void LibraryWorker::abandon() {
    if (!running_) return;
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    running_ = false;
    ++generation_; // its end, already queued, is no longer ours
}

} // namespace lorvane::app
