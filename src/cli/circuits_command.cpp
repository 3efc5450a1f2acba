#include "cli/circuits_command.h"
#include "cli/cli_util.h"
#include "cli/json_out.h"
#include "cli/log_arg.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "circuits/circuit_db.h"
#include "circuits/log_track.h"
#include "formats/diagnostic.h"
#include "formats/numbers.h"
#include "formats/start_finish.h"
#include "reference/reference_file.h"

namespace lorvane {

namespace {

using cli::Json;
int failWith(const Diagnostic& d) {
    return cli::reportError(d);
}

[[noreturn]] void usage(const std::string& why) {
    throw cli::UsageError(why);
}

Json jsonNumber(std::optional<double> v) {
    return v ? Json(*v) : Json();
}

Json jsonGate(const Gate& g) {
    return {{"lat1", g.lat1}, {"long1", g.long1}, {"lat2", g.lat2}, {"long2", g.long2}};
}

Json jsonCircuit(const Circuit& c) {
    Json splits = Json::array();
    for (const Gate& g : c.splits) splits.push_back(jsonGate(g));
    return {{"name", c.name},
            {"country", c.country ? Json(*c.country) : Json()},
            {"start", jsonGate(c.start)},
            {"finish", c.finish ? jsonGate(*c.finish) : Json()},
            {"splits", std::move(splits)},
            {"direction", directionName(c.rules.direction)},
            {"gate_width", jsonNumber(c.rules.gateWidth)},
            {"min_lap", c.rules.minLap},
            {"lap_distance", jsonNumber(c.lapDistance)},
            {"notes", c.notes}};
}

// A list of documents, one a line: `[A,\n B,\n C]`.
std::string jsonLines(const std::vector<Json>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",\n ";
        out += cli::dumpJson(items[i], cli::JsonNumbers::Shortest);
    }
    return out + "]\n";
}

struct Parsed {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::vector<std::string> box;
    std::vector<Gate> splits; // add --split
    bool json = false;
};

// The commands in the order of the help, and the options each takes besides --db.
const std::vector<std::pair<std::string, std::vector<std::string>>> kOptions = {
    {"add", {"--gxr", "--name", "--country", "--direction", "--gate-width", "--lap-distance", "--notes"}},
    {"list", {"--json", "--search"}},
    {"export", {"-o"}},
    {"import", {}},
    {"find", {"--log", "--zlg", "--wmx", "--json"}},
    {"rename", {}},
    {"remove", {}},
    {"add-country", {"--name", "--box"}},
    {"countries", {}},
};
const std::map<std::string, std::size_t> kPositional = {
    {"add", 0},    {"list", 0},        {"export", 1},    {"import", 1}, {"rename", 2},
    {"remove", 1}, {"add-country", 0}, {"countries", 0}, {"find", 0},
};

const std::map<std::string, std::pair<const char*, const char*>> kCommandHelp = {
    // command: description, its names
    {"add", {"Add the start/finish line of a .gxr file as a circuit", ""}},
    {"list", {"List the circuits: name, country, lap distance (m), start line point (degrees)", ""}},
    {"export", {"Write a circuit as a .gxr file (to standard output without -o)", "NAME"}},
    {"import", {"Add every .gxr file of a folder, named after its file", "DIR"}},
    {"rename", {"Rename a circuit", "NAME NEW-NAME"}},
    {"remove", {"Remove a circuit", "NAME"}},
    {"add-country", {"Add a country: a name and a box in decimal degrees, north and east positive", ""}},
    {"countries", {"List the countries and their boxes", ""}},
    {"find", {"List the circuits whose start line the log crosses, most crossings first", ""}},
};

// option: what it takes, what it does
const std::map<std::string, std::pair<const char*, const char*>> kOptionHelp = {
    {"--gxr", {"FILE", "The start/finish line file"}},
    {"--name", {"NAME", "The name"}},
    {"--country", {"C", "The country (default: the one whose box holds the start line)"}},
    {"--direction", {"both|forward|reverse", "Crossings that count"}},
    {"--gate-width", {"M", "Width of the start/finish gate"}},
    {"--lap-distance", {"M", "Length of a lap"}},
    {"--notes", {"TEXT", "Notes kept with the circuit"}},
    {"--json", {"", "As JSON"}},
    {"--search", {"TEXT", "Only the circuits whose name holds TEXT"}},
    {"-o", {"FILE.gxr", "The file to write"}},
    {"--box", {"MINLAT MINLONG MAXLAT MAXLONG", "The country's box in degrees"}},
    {"--log", {"FILE", "A log of any format we read"}},
    {"--zlg", {"FILE", "A text log"}},
    {"--wmx", {"FILE", "A binary log"}},
};

std::optional<double> positiveNumber(const Parsed& p, const std::string& opt, std::string& err) {
    auto it = p.values.find(opt);
    if (it == p.values.end()) return std::nullopt;
    auto v = parseDecimal(it->second);
    if (!v || !(*v > 0)) err = opt + " takes a positive number of metres, not '" + it->second + "'";
    return v;
}

int runAdd(CircuitDb& db, const Parsed& p) {
    std::string err;
    if (!p.values.count("--gxr")) usage("--gxr FILE is required");
    if (!p.values.count("--name")) usage("--name NAME is required");
    Circuit c;
    c.name = p.values.at("--name");
    if (auto it = p.values.find("--direction"); it != p.values.end()) {
        auto d = parseDirection(it->second);
        if (!d) usage("--direction takes both, forward or reverse");
        c.rules.direction = *d;
    }
    c.rules.gateWidth = positiveNumber(p, "--gate-width", err);
    c.lapDistance = positiveNumber(p, "--lap-distance", err);
    if (!err.empty()) usage(err);
    if (auto it = p.values.find("--notes"); it != p.values.end()) c.notes = it->second;
    // --split in place of the split lines kept beside the .gxr.
    c.splits = p.splits.empty() ? readSplitLinesBeside(p.values.at("--gxr")) : p.splits;
    StartFinish sf = readStartFinishFile(p.values.at("--gxr"));
    c.start = sf.start;
    if (sf.hasFinishLine) c.finish = sf.finish;
    if (auto it = p.values.find("--country"); it != p.values.end())
        c.country = it->second;
    else if (auto k = db.countryFor(c.start.lat1, c.start.long1))
        c.country = k->name;
    db.addCircuit(c);
    std::cout << "added " << c.name;
    if (c.country) std::cout << " (" << *c.country << ")";
    std::cout << "\n";
    return 0;
}

int runList(CircuitDb& db, const Parsed& p) {
    auto it = p.values.find("--search");
    std::vector<Circuit> list = it == p.values.end() ? db.circuits() : db.search(it->second);
    std::string out;
    if (p.json) {
        std::vector<Json> items;
        for (const Circuit& c : list) items.push_back(jsonCircuit(c));
        out = jsonLines(items);
    } else {
        // name, country, lap distance (m), start line point 1 (degrees)
        for (const Circuit& c : list) {
            out += c.name + "\t" + (c.country ? *c.country : "-") + "\t" +
                   (c.lapDistance ? formatFixed(*c.lapDistance, 1, 1) : "-") + "\t" +
                   formatFixed(c.start.lat1 / 60, 1, 6) + " " + formatFixed(c.start.long1 / 60, 1, 6) + "\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int runExport(CircuitDb& db, const Parsed& p) {
    const std::string text = db.exportGxr(p.positional[0]);
    auto it = p.values.find("-o");
    if (it == p.values.end()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    writeFileAtomically(it->second, text);
    std::cout << it->second << "\n";
    return 0;
}

int runImport(CircuitDb& db, const Parsed& p) {
    ImportResult r = db.importGxrFolder(p.positional[0]);
    for (const Diagnostic& d : r.errors) failWith(d);
    std::cout << "added " << r.added << ", skipped " << r.errors.size() << "\n";
    return r.errors.empty() ? 0 : 1;
}

int runFind(CircuitDb& db, const Parsed& p) {
    std::string option;
    for (const char* o : {"--log", "--zlg", "--wmx"}) {
        if (!p.values.count(o)) continue;
        if (!option.empty()) usage("give one log, --log FILE, --zlg FILE or --wmx FILE");
        option = o;
    }
    if (option.empty()) usage("give one log, --log FILE, --zlg FILE or --wmx FILE");
    const std::string& log = p.values.at(option);
    const auto found = db.findCircuitsForTrack(readLogTrack(cli::logKindFor(option, log), log));
    std::string out;
    if (p.json) {
        std::vector<Json> items;
        for (const CircuitMatch& m : found)
            items.push_back({{"crossings", m.crossings}, {"circuit", jsonCircuit(m.circuit)}});
        out = jsonLines(items);
    } else {
        // name, crossings, lap distance (m)
        for (const CircuitMatch& m : found)
            out += m.circuit.name + "\t" + std::to_string(m.crossings) + "\t" +
                   (m.circuit.lapDistance ? formatFixed(*m.circuit.lapDistance, 1, 1) : "-") + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int runAddCountry(CircuitDb& db, const Parsed& p) {
    if (!p.values.count("--name")) usage("--name NAME is required");
    if (p.box.size() != 4) usage("--box MINLAT MINLONG MAXLAT MAXLONG is required");
    double v[4];
    for (int k = 0; k < 4; ++k) {
        auto d = parseDecimal(p.box[static_cast<std::size_t>(k)]);
        if (!d) usage("--box takes four numbers in degrees, not '" + p.box[static_cast<std::size_t>(k)] + "'");
        v[k] = *d * 60;
    }
    Country c;
    c.name = p.values.at("--name");
    c.minLat = v[0];
    c.minLong = v[1];
    c.maxLat = v[2];
    c.maxLong = v[3];
    db.addCountry(c);
    std::cout << "added country " << c.name << "\n";
    return 0;
}

int runCountries(CircuitDb& db) {
    std::string out;
    for (const Country& c : db.countries())
        out += c.name + "\t" + formatFixed(c.minLat / 60, 1, 6) + " " + formatFixed(c.minLong / 60, 1, 6) + " " +
               formatFixed(c.maxLat / 60, 1, 6) + " " + formatFixed(c.maxLong / 60, 1, 6) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace

namespace {

// What CLI11 fills in for one circuits command.
struct CircuitsCommand {
    CLI::App* app = nullptr;
    std::map<std::string, std::string> values;
    std::map<std::string, CLI::Option*> options;
    std::vector<std::string> names, box;
    cli::SplitOptions splits; // add only
    bool json = false;

    // The command line as the commands read it; throws UsageError.
    Parsed parsed(const std::string& cmd) const {
        Parsed p;
        for (const auto& [name, opt] : options) {
            const std::size_t once = name == "--box" ? 4 : 1;
            if (opt->count() > once) usage(name + " given twice");
            if (opt->count() && name != "--json" && name != "--box") p.values[name] = values.at(name);
        }
        if (!box.empty() && box.size() != 4) usage("--box needs four values");
        p.box = box;
        if (cmd == "add") p.splits = splits.lines();
        p.json = json;
        p.positional = names;
        const std::size_t want = kPositional.at(cmd);
        if (p.positional.size() != want)
            usage("circuits " + cmd + " takes " +
                  (want == 0   ? std::string("no names")
                   : want == 1 ? std::string("one name")
                               : std::string("two names")) +
                  " before or after its options");
        return p;
    }
};

int runCircuits(const std::string& cmd, const Parsed& p) {
    try {
        auto dbIt = p.values.find("--db");
        CircuitDb db = CircuitDb::open(dbIt != p.values.end() ? dbIt->second : defaultCircuitDbPath());
        if (cmd == "add") return runAdd(db, p);
        if (cmd == "list") return runList(db, p);
        if (cmd == "export") return runExport(db, p);
        if (cmd == "import") return runImport(db, p);
        if (cmd == "rename") {
            db.renameCircuit(p.positional[0], p.positional[1]);
            std::cout << "renamed " << p.positional[0] << " to " << p.positional[1] << "\n";
            return 0;
        }
        if (cmd == "remove") {
            db.removeCircuit(p.positional[0]);
            std::cout << "removed " << p.positional[0] << "\n";
            return 0;
        }
        if (cmd == "add-country") return runAddCountry(db, p);
        if (cmd == "find") return runFind(db, p);
        return runCountries(db);
    } catch (const LoadError& e) {
        return failWith(e.diagnostic());
    } catch (const cli::UsageError&) {
        throw;
    } catch (const std::exception& e) {
        return failWith(Diagnostic{e.what(), {}, 0, -1});
    }
}

} // namespace

cli::CommandRun addCircuitsCommand(CLI::App& app) {
    CLI::App* circuits = app.add_subcommand("circuits", "Keep start/finish lines in the circuit database");
    circuits->footer("The database is $XDG_DATA_HOME/lorvane/circuits.db (else ~/.local/share/lorvane/circuits.db)\n"
                     "unless --db PATH is given; it is created on first use.");
    auto commands = std::make_shared<std::map<std::string, CircuitsCommand>>();
    for (const auto& [cmd, allowed] : kOptions) {
        CircuitsCommand& c = (*commands)[cmd];
        const auto& [description, names] = kCommandHelp.at(cmd);
        c.app = circuits->add_subcommand(cmd, description);
        if (*names) c.app->add_option("names", c.names, names)->type_name(names)->expected(0, 2);
        for (const std::string& name : allowed) {
            const auto& [takes, what] = kOptionHelp.at(name);
            CLI::Option* opt = nullptr;
            if (name == "--json")
                opt = c.app->add_flag(name, c.json, what);
            else if (name == "--box")
                opt = c.app->add_option(name, c.box, what)->expected(4)->type_name(takes);
            else
                opt = c.app->add_option(name, c.values[name], what)->type_name(takes);
            c.options[name] = opt;
        }
        if (cmd == "add") c.splits.add(*c.app, "");
        c.options["--db"] = c.app->add_option("--db", c.values["--db"], "The circuit database")->type_name("PATH");
    }
    return [circuits, commands]() -> int {
        for (const auto& [cmd, c] : *commands)
            if (c.app->parsed()) return runCircuits(cmd, c.parsed(cmd));
        usage("circuits needs a command");
    };
}

} // namespace lorvane
