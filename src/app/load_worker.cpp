#include "app/load_worker.h"

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
    }
    const std::uint64_t generation = ++generation_;
    thread_ = std::thread([this, kind, path, generation] {
        Observer observer(*this);
        LoadReport report;
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
        {
            std::lock_guard lock(mutex_);
            report_ = std::move(report);
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

void LoadWorker::drain() {
    LoadBatch b;
    {
        std::lock_guard lock(mutex_);
        b.points.swap(pending_.points);
        b.laps.swap(pending_.laps);
    }
    b.done = done_;
    b.total = total_;
    emit batch(b);
}

void LoadWorker::threadDone() {
    if (!running_) return;
    if (thread_.joinable()) thread_.join();
    timer_.stop();
    drain();
    running_ = false;
    LoadReport report;
    {
        std::lock_guard lock(mutex_);
        report = std::move(report_);
    }
    emit finished(report);
}

void LoadWorker::abandon() {
    if (!running_) return;
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
    timer_.stop();
    running_ = false;
    ++generation_; // its end, already queued, is no longer ours
}

} // namespace lorvane::app
