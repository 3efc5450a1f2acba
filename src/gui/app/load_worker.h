// Runs Session::loadLog on a thread of its own and hands what the load
// reports to the GUI thread in batches: what arrived since the last batch,
// at most every kBatchIntervalMs, so a long load never costs one repaint per
// point and the progress shown is never older than that. The lap choice (the
// re-read of one lap from its file) runs on a thread of its own too. The
// load's lap analysis runs on its thread too, after the last sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QTimer>

#include "session/session.h"
#include "workspace/workspace.h"

Q_DECLARE_METATYPE(std::shared_ptr<const lorvane::LoadedLog>)
Q_DECLARE_METATYPE(lorvane::ReferenceLap)
Q_DECLARE_METATYPE(lorvane::Diagnostic)
Q_DECLARE_METATYPE(std::shared_ptr<const lorvane::LogView>)

namespace lorvane::app {

struct LapEvent {
    Lap lap;
    bool best = false; // the lap became the fastest when it was added
};

struct LoadBatch {
    std::vector<TrackPoint> points;
    std::vector<LapEvent> laps;
    std::uint64_t done = 0, total = 0; // progress through the file, in bytes
};

class LoadWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int kBatchIntervalMs = 50;
    // A batch carries at most this many points; a larger backlog goes out in
    // several batches with the event loop running in between, so one batch
    // never holds the window for long.
    static constexpr std::size_t kMaxBatchPoints = std::size_t{1} << 17;

    explicit LoadWorker(Session& session, QObject* parent = nullptr);
    ~LoadWorker() override; // cancels a running load and waits for its end

    // Starts a load; false when one is running or the session is busy.
    bool start(LogKind kind, const std::string& path);
    // Re-reads lap `lap` of `log`; false when something is running.
    bool startPick(std::shared_ptr<const LoadedLog> log, std::int32_t lap);
    // A load or a lap choice is running.
    bool running() const { return running_; }
    // Asks the load to stop at its next progress report.
    void cancel() { cancel_ = true; }
    // Cancels a running load and waits for its thread; no signal follows.
    void abandon();

signals:
    void batch(const lorvane::app::LoadBatch& batch);
    // After the last batch, once the load's thread has ended (the session is
    // no longer busy and may be read), with the loaded log's view, made on
    // the load's thread so that the window only draws it.
    void finished(const lorvane::LoadReport& report, std::shared_ptr<const lorvane::LogView> view);
    // The lap choice has ended with the lap's points, or with an error.
    void picked(const lorvane::ReferenceLap& ref);
    void pickFailed(const lorvane::Diagnostic& error);

private:
    class Observer;
    void drain();
    void queueDrain();
    void threadDone();
    void finish();

    Session& session_;
    QTimer timer_;
    std::thread thread_;
    bool running_ = false;
    std::uint64_t generation_ = 0; // GUI thread only
    std::atomic<bool> cancel_{false};

    // GUI thread only: what has been taken from the load but not yet handed on.
    std::vector<TrackPoint> backlog_;
    std::size_t backlogPos_ = 0;
    std::vector<LapEvent> backlogLaps_; // handed on with the backlog's last points
    bool drainQueued_ = false;
    bool finishing_ = false; // the load's thread has ended

    std::mutex mutex_; // guards pending_, report_ and view_
    LoadBatch pending_;
    LoadReport report_;
    std::shared_ptr<const LogView> view_;
    std::atomic<std::uint64_t> done_{0}, total_{0};
};

} // namespace lorvane::app
