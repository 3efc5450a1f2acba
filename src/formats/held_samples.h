// The first samples of a log whose channels show only in its records (NMEA
// sentence types, the elements of GPX points), held back while channels are
// wanted until enough of them tell which channels the log carries, then
// handed on in order. Logs that start without some of their values (a
// receiver that sends GGA once a second and RMC ten times, a heart rate strap
// found a few seconds in) still get every channel.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "formats/sample.h"

namespace lorvane {

template <std::size_t Channels>
class HeldSamples {
public:
    using Values = std::array<double, Channels>;
    static constexpr std::size_t kHold = 64;

    bool holding() const { return holding_; }
    std::size_t size() const { return held_.size(); }
    bool full() const { return held_.size() >= kHold; }
    // Keeps a copy of the sample with its values of every possible channel.
    void hold(const Sample& s, const Values& values) { held_.push_back({s, values}); }
    // Ends the holding: hands every held sample to deliver(sample, values) in
    // order, until it returns false (the sink said stop). Returns false then.
    template <class Deliver>
    bool release(Deliver&& deliver) {
        holding_ = false;
        std::vector<Held> held = std::move(held_);
        held_.clear();
        for (const Held& h : held)
            if (!deliver(h.sample, h.values)) return false;
        return true;
    }

private:
    struct Held {
        Sample sample;
        Values values;
    };
    std::vector<Held> held_;
    bool holding_ = true;
};

} // namespace lorvane
