#include "gui/app/load_worker.h"

#include <exception>
#include <new>

namespace lorvane::app {

// Called on the load's thread: only collects.
class LoadWorker::Observer final : public SessionObserver {
public:
    explicit Observer(LoadWorker& w) : w_(w) {}

    void trackPoints(std::span<const TrackPoint> points) override {
        std::lock_guard lock(w_.mutex_);
        w_.pending_.points.insert(w_.pending_.points.end(), points.begin(), points.end());
    }
    void lapAdded(const Lap& lap, bool best) override {
        std::lock_guard lock(w_.mutex_);
        w_.pending_.laps.push_back({lap, best});
    }
    bool progress(std::uint64_t done, std::uint64_t total) override {
        w_.done_ = done;
        w_.total_ = total;
        return !w_.cancel_;
    }

private:
    LoadWorker& w_;
};

LoadWorker::LoadWorker(Session& session, QObject* parent) : QObject(parent), session_(session) {
    timer_.setInterval(kBatchIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &LoadWorker::drain);
}

LoadWorker::~LoadWorker() {
    abandon();
}

bool LoadWorker::start(LogKind kind, const std::string& path) {
    if (running_ || session_.busy()) return false;
    running_ = true;
    cancel_ = false;
    done_ = 0;
    total_ = 0;
    {
        std::lock_guard lock(mutex_);
        pending_ = LoadBatch{};
        report_ = LoadReport{};
        view_.reset();
    }
    backlog_.clear();
    backlogLaps_.clear();
    backlogPos_ = 0;
    finishing_ = false;
    drainQueued_ = false;
    const std::uint64_t generation = ++generation_;
    thread_ = std::thread([this, kind, path, generation] {
        Observer observer(*this);
        LoadReport report;
        std::shared_ptr<const LogView> view;
        try {
            report = session_.loadLog(kind, path, observer);
        } catch (const std::bad_alloc&) {
            report.kind = kind;
            report.path = path;
            report.error.message = "Out of memory";
            report.error.file = path;
        } catch (const std::exception& e) {
            report.kind = kind;
            report.path = path;
            report.error.message = e.what();
            report.error.file = path;
        }
        try {
            if (!cancel_) view = makeLogView(session_.loaded());
        } catch (const std::exception&) {
            // Made again where it is drawn, which reports what fails.
        }
        {
            std::lock_guard lock(mutex_);
            report_ = std::move(report);
            view_ = std::move(view);
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_) threadDone();
            },
            Qt::QueuedConnection);
    });
    timer_.start();
    return true;
}

bool LoadWorker::startPick(std::shared_ptr<const LoadedLog> log, std::int32_t lap) {
    if (running_ || !log) return false;
    running_ = true;
    const std::uint64_t generation = ++generation_;
    thread_ = std::thread([this, log = std::move(log), lap, generation] {
        ReferenceLap ref;
        Diagnostic error;
        bool ok = false;
        try {
            ref = pickLap(*log, lap);
            ok = true;
        } catch (const LoadError& e) {
            error = e.diagnostic();
        } catch (const std::bad_alloc&) {
            error = Diagnostic{"Out of memory", log->path, 0, -1, ErrorKind::InputOutput};
        } catch (const std::exception& e) {
            error = Diagnostic{e.what(), log->path, 0, -1, ErrorKind::InputOutput};
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, ok, ref = std::move(ref), error = std::move(error)] {
                if (generation != generation_) return;
                if (thread_.joinable()) thread_.join();
                running_ = false;
                if (ok)
                    emit picked(ref);
                else
                    emit pickFailed(error);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void LoadWorker::drain() {
    drainQueued_ = false;
    if (!running_) return;
    if (backlogPos_ >= backlog_.size()) {
        // Take what the load has collected; it refills the emptied vector,
        // which keeps its memory.
        backlog_.clear();
        backlogPos_ = 0;
        std::lock_guard lock(mutex_);
        backlog_.swap(pending_.points);
        backlogLaps_.insert(backlogLaps_.end(), std::make_move_iterator(pending_.laps.begin()),
                            std::make_move_iterator(pending_.laps.end()));
        pending_.laps.clear();
    }
    LoadBatch b;
    const std::size_t n = std::min(kMaxBatchPoints, backlog_.size() - backlogPos_);
    const auto from = backlog_.begin() + static_cast<std::ptrdiff_t>(backlogPos_);
    b.points.assign(from, from + static_cast<std::ptrdiff_t>(n));
    backlogPos_ += n;
    const bool more = backlogPos_ < backlog_.size();
    // A lap's line goes out once all the points before it have.
    if (!more) b.laps.swap(backlogLaps_);
    b.done = done_;
    b.total = total_;
    emit batch(b);
    if (more) {
        queueDrain();
        return;
    }
    if (finishing_) {
        bool left;
        {
            std::lock_guard lock(mutex_);
            left = !pending_.points.empty() || !pending_.laps.empty();
        }
        if (left)
            queueDrain();
        else
            finish();
    }
}

void LoadWorker::queueDrain() {
    if (drainQueued_) return;
    drainQueued_ = true;
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == generation_) drain();
        },
        Qt::QueuedConnection);
}

void LoadWorker::threadDone() {
    if (!running_) return;
    if (thread_.joinable()) thread_.join();
    timer_.stop();
    finishing_ = true;
    drain();
}

void LoadWorker::finish() {
    running_ = false;
    finishing_ = false;
    backlog_.clear();
    backlog_.shrink_to_fit();
    backlogPos_ = 0;
    LoadReport report;
    std::shared_ptr<const LogView> view;
    {
        std::lock_guard lock(mutex_);
        report = std::move(report_);
        view = std::move(view_);
        pending_ = LoadBatch{};
    }
    emit finished(report, view);
}

void LoadWorker::abandon() {
    if (!running_) return;
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    timer_.stop();
    running_ = false;
    finishing_ = false;
    drainQueued_ = false;
    backlog_.clear();
    backlogLaps_.clear();
    backlogPos_ = 0;
    ++generation_; // its end, already queued, is no longer ours
}

} // namespace lorvane::app
