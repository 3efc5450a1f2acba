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
#include "formats/start_finish.h"
#include "laps/gate_rules.h"

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

// A track sample for the lookup: latitude and longitude in minutes.
struct GeoSample {
    double lat = 0, lon = 0;
};

struct CircuitMatch {
    Circuit circuit;
    int crossings = 0; // start gate crossings under the circuit's rules
};

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

    // The circuits whose start gate the track crosses under that circuit's
    // gate rules (direction; gate width, 25 m when unset; the minimum lap time
    // is not applied), most crossings first. Samples in recorded order; a
    // non-finite sample or one at 0,0 (no fix) breaks the track.
    std::vector<CircuitMatch> findCircuitsForTrack(std::span<const GeoSample> track) const;

private:
    struct Impl;
    explicit CircuitDb(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// How many times the track crosses `gate` under `rules` (direction and gate
// width; the minimum lap time is not applied).
int countGateCrossings(const Gate& gate, const GateRules& rules, std::span<const GeoSample> track);

} // namespace lorvane
