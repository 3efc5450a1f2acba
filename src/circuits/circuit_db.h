// The circuit database: countries with their bounding boxes and circuits with
// their gates, kept in one file that the windows and the command line share.
// Every write is one transaction; a file this program cannot read safely (a
// newer schema, damage, not a database at all) is refused and left untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/sample.h"
#include "formats/start_finish.h"
#include "laps/gate_rules.h"
#include "laps/local_plane.h"
#include "session/loaded_log.h"
#include "track/track.h"

struct sqlite3;

namespace lorvane {

// Positions are in minutes of arc, north and east positive, as everywhere in
// the engine.
struct Country {
    std::int64_t id = 0; // set by the database
    std::string name;
    double minLat = 0, minLong = 0, maxLat = 0, maxLong = 0;

    bool contains(double lat, double lon) const {
        return lat >= minLat && lat <= maxLat && lon >= minLong && lon <= maxLong;
    }
};

// One layout of a venue. Several layouts are several circuits, and their start
// gates may coincide.
struct Circuit {
    std::int64_t id = 0;                // set by the database
    std::string name;                   // unique, compared without regard to case
    std::optional<std::string> country; // a stored country's name
    Gate start;
    std::optional<Gate> finish;
    std::vector<Gate> splits; // sector lines in driving order
    GateRules rules;
    std::optional<double> lapDistance; // metres
    std::string notes;

    StartFinish startFinish() const;
};

// A track sample for the lookup without a loaded log: latitude and longitude
// in minutes.
struct GeoSample {
    double lat = 0, lon = 0;
};

struct CircuitMatch {
    Circuit circuit;
    int crossings = 0; // start gate crossings under the circuit's rules
};

// A lap distance or a gate width as the lists show it: "2503.6 m".
std::string distanceText(double metres);

// The circuit as a start/finish file's text, as exportGxr writes it: its gates
// and a comment naming it (with its country and lap distance when stored).
std::string circuitGxrText(const Circuit& c);

// What puts a chosen circuit in force. circuitStartFinish: path = the
// circuit's name, text = its exported .gxr text (what a reference file
// copies), gates read back from that text (so they cut the laps a saved copy
// cuts) and splits = its split lines. circuitRules: the circuit's stored gate
// rules, with the pause limit (maxGap) of `current`, the rules in force
// before: a circuit stores no pause limit, that belongs to the recording.
// The window and the command line both use these two:
//     session.setStartFinish(circuitStartFinish(c));
//     session.setGateRules(circuitRules(c, session.gateRules()));
StartFinishFile circuitStartFinish(const Circuit& c);
GateRules circuitRules(const Circuit& c, const GateRules& current);

struct ImportResult {
    int added = 0;
    std::vector<Diagnostic> errors; // one per file not added, naming it
};

// $XDG_DATA_HOME/lorvane/circuits.db, else $HOME/.local/share/lorvane/circuits.db.
std::string defaultCircuitDbPath();

// Newest schema this program reads and writes.
int circuitDbSchemaVersion();

class CircuitDb {
public:
    // Opens the database at `path`, creating it (and its folders) when it does
    // not exist and bringing an older schema up to date. Throws LoadError
    // naming the file when it is of a newer schema, damaged, or not a
    // database of this program; such a file is not modified.
    static CircuitDb open(const std::string& path);

    CircuitDb(CircuitDb&&) noexcept;
    CircuitDb& operator=(CircuitDb&&) noexcept;
    ~CircuitDb();

    const std::string& path() const;
    // The open connection, set up as above (busy timeout, write-ahead log,
    // foreign keys), for the session library whose tables share the file.
    sqlite3* connection() const;

    // Countries. Names are unique regardless of case; the box must not be
    // empty or inverted.
    std::int64_t addCountry(const Country& c);
    std::vector<Country> countries() const; // sorted by name
    // The smallest stored box that contains the point.
    std::optional<Country> countryFor(double lat, double lon) const;

    // Circuits. Each of these is one transaction; on any error (empty or
    // duplicate name, unknown country, bad numbers) nothing is stored and a
    // LoadError says why.
    std::int64_t addCircuit(const Circuit& c);
    // All or nothing: a failure on any of them stores none.
    std::vector<std::int64_t> addCircuits(std::span<const Circuit> cs);
    // Replaces the stored circuit with the same id (name included).
    void updateCircuit(const Circuit& c);
    void renameCircuit(std::string_view oldName, std::string_view newName);
    void removeCircuit(std::string_view name);

    std::vector<Circuit> circuits() const; // sorted by name, case-insensitively
    std::optional<Circuit> findByName(std::string_view name) const;
    // Circuits whose name, country or notes contain `text` (case-insensitive);
    // all of them for an empty text.
    std::vector<Circuit> search(std::string_view text) const;

    // The circuit as a start/finish file's text. Throws LoadError when there
    // is no circuit of that name.
    std::string exportGxr(std::string_view name) const;

    // Adds every *.gxr file directly in `dir` as a circuit named after the
    // file (base name without extension), its country found from the start
    // gate. A file that does not read or whose name is taken is reported and
    // skipped; the others are stored in one transaction.
    ImportResult importGxrFolder(const std::string& dir);

    // The circuit lookup of a loaded log: the circuits whose start gate the
    // log's kept track (`track`, in the log's local plane `plane`, from a log
    // of `kind`) crosses, most crossings first, then by name. A circuit's
    // crossings are counted by the lap step itself, cutting the track as
    // recut() would with circuitStartFinish(c) and circuitRules(c, current)
    // (an unset gate width is the format's default, see effectiveRules; the
    // direction, the minimum lap time and the pause limit apply): the start
    // gate crossings of the laps the log gives once that circuit is in force.
    // Nothing for an empty track or a plane without a base point.
    std::vector<CircuitMatch> findCircuitsForTrack(const Track& track, const LocalPlane& plane, LogKind kind,
                                                   const GateRules& current = {}) const;

    // The same for positions without a loaded log (`circuits find`): the start
    // gate crossings under the circuit's direction and gate width, an unset
    // width being 25 m at the crossing point as for imported logs; no times,
    // so the minimum lap time and pauses do not apply. Samples in recorded
    // order; a non-finite sample or one at 0,0 (no fix) breaks the track.
    std::vector<CircuitMatch> findCircuitsForTrack(std::span<const GeoSample> track) const;

private:
    // The stored circuits whose start gate's point 1 lies in the box
    // (minutes), widened by the farthest a counted crossing can lie from the
    // track: `reach` metres or the widest stored gate width.
    std::vector<Circuit> circuitsNear(double minLat, double maxLat, double minLon, double maxLon, double reach) const;

    static CircuitDb openOnce(const std::string& path);
    struct Impl;
    explicit CircuitDb(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// How many times the track crosses `gate` under `rules`: the lap step's gate
// test (crossGate) in a plane centred on the gate, with its direction and gate
// width, an unset width being 25 m at the crossing point; the minimum lap
// time is not applied. For positions without times; a loaded log's track is
// looked up with CircuitDb::findCircuitsForTrack(track, plane, kind).
int countGateCrossings(const Gate& gate, const GateRules& rules, std::span<const GeoSample> track);

} // namespace lorvane
