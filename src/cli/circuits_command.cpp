#include "cli/circuits_command.h"
#include "cli/cli_util.h"
#include "cli/log_arg.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <set>
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

using cli::jsonString;
int failWith(const Diagnostic& d) {
    return cli::reportError(d);
}

const char* kCircuitsUsage =
    "usage: lorvane-cli circuits add --gxr FILE --name NAME [--country C] [--direction both|forward|reverse]\n"
    "                                [--gate-width M] [--lap-distance M] [--notes TEXT] [--db PATH]\n"
    "       lorvane-cli circuits list [--json] [--search TEXT] [--db PATH]\n"
    "       lorvane-cli circuits export NAME [-o FILE.gxr] [--db PATH]\n"
    "       lorvane-cli circuits import DIR [--db PATH]\n"
    "       lorvane-cli circuits find (--log FILE | --zlg FILE | --wmx FILE) [--json] [--db PATH]\n"
    "       lorvane-cli circuits rename NAME NEW-NAME [--db PATH]\n"
    "       lorvane-cli circuits remove NAME [--db PATH]\n"
    "       lorvane-cli circuits add-country --name NAME --box MINLAT MINLONG MAXLAT MAXLONG [--db PATH]\n"
    "       lorvane-cli circuits countries [--db PATH]\n"
    "The --box corners are decimal degrees, north and east positive. Without --country, add takes\n"
    "the country whose stored box holds the start line. Without -o, export writes to standard output.\n"
    "find lists the circuits whose start line the log crosses, most crossings first.\n"
    "The database is $XDG_DATA_HOME/lorvane/circuits.db (else ~/.local/share/lorvane/circuits.db)\n"
    "unless --db PATH is given; it is created on first use.\n";

int usage(const std::string& why) {
    if (!why.empty()) std::cerr << "lorvane-cli: " << why << "\n";
    std::cerr << kCircuitsUsage;
    return 2;
}

std::string jsonNumber(std::optional<double> v) {
    return v ? formatRoundTrip(*v) : "null";
}

std::string jsonGate(const Gate& g) {
    return "{\"lat1\": " + formatRoundTrip(g.lat1) + ", \"long1\": " + formatRoundTrip(g.long1) +
           ", \"lat2\": " + formatRoundTrip(g.lat2) + ", \"long2\": " + formatRoundTrip(g.long2) + "}";
}

std::string jsonCircuit(const Circuit& c) {
    std::string o = "{\"name\": " + jsonString(c.name);
    o += ", \"country\": " + (c.country ? jsonString(*c.country) : std::string("null"));
    o += ", \"start\": " + jsonGate(c.start);
    o += ", \"finish\": " + (c.finish ? jsonGate(*c.finish) : std::string("null"));
    o += ", \"splits\": [";
    for (std::size_t i = 0; i < c.splits.size(); ++i) o += (i ? ", " : "") + jsonGate(c.splits[i]);
    o += "], \"direction\": " + jsonString(directionName(c.rules.direction));
    o += ", \"gate_width\": " + jsonNumber(c.rules.gateWidth);
    o += ", \"min_lap\": " + formatRoundTrip(c.rules.minLap);
    o += ", \"lap_distance\": " + jsonNumber(c.lapDistance);
    o += ", \"notes\": " + jsonString(c.notes) + "}";
    return o;
}

struct Parsed {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::vector<std::string> box;
    bool json = false;
};

// Options each command takes; those with a value are listed in kValued.
const std::map<std::string, std::set<std::string>> kOptions = {
    {"add", {"--gxr", "--name", "--country", "--direction", "--gate-width", "--lap-distance", "--notes"}},
    {"list", {"--json", "--search"}},
    {"export", {"-o"}},
    {"import", {}},
    {"rename", {}},
    {"remove", {}},
    {"add-country", {"--name", "--box"}},
    {"countries", {}},
    {"find", {"--log", "--zlg", "--wmx", "--json"}},
};
const std::map<std::string, std::size_t> kPositional = {
    {"add", 0},    {"list", 0},        {"export", 1},    {"import", 1}, {"rename", 2},
    {"remove", 1}, {"add-country", 0}, {"countries", 0}, {"find", 0},
};

std::optional<Parsed> parse(const std::string& cmd, int argc, char** argv, std::string& err) {
    Parsed p;
    const std::set<std::string>& allowed = kOptions.at(cmd);
    for (int i = 2; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt.size() > 1 && opt[0] == '-' &&
            !(opt.size() > 1 && (std::isdigit(static_cast<unsigned char>(opt[1])) || opt[1] == '.'))) {
            if (opt != "--db" && !allowed.count(opt)) {
                err = "unknown option '" + opt + "' for circuits " + cmd;
                return std::nullopt;
            }
            if (opt == "--json") {
                p.json = true;
                continue;
            }
            const int need = opt == "--box" ? 4 : 1;
            if (i + need >= argc) {
                err = opt + (need == 1 ? " needs a value" : " needs four values");
                return std::nullopt;
            }
            if (p.values.count(opt) || (opt == "--box" && !p.box.empty())) {
                err = opt + " given twice";
                return std::nullopt;
            }
            if (opt == "--box") {
                for (int k = 0; k < 4; ++k) p.box.push_back(argv[++i]);
            } else {
                p.values[opt] = argv[++i];
            }
        } else {
            p.positional.push_back(opt);
        }
    }
    const std::size_t want = kPositional.at(cmd);
    if (p.positional.size() != want) {
        err = "circuits " + cmd + " takes " +
              (want == 0   ? std::string("no names")
               : want == 1 ? std::string("one name")
                           : std::string("two names")) +
              " before or after its options";
        return std::nullopt;
    }
    return p;
}

std::optional<double> positiveNumber(const Parsed& p, const std::string& opt, std::string& err) {
    auto it = p.values.find(opt);
    if (it == p.values.end()) return std::nullopt;
    auto v = parseDecimal(it->second);
    if (!v || !(*v > 0)) err = opt + " takes a positive number of metres, not '" + it->second + "'";
    return v;
}

int runAdd(CircuitDb& db, const Parsed& p) {
    std::string err;
    if (!p.values.count("--gxr")) return usage("--gxr FILE is required");
    if (!p.values.count("--name")) return usage("--name NAME is required");
    Circuit c;
    c.name = p.values.at("--name");
    if (auto it = p.values.find("--direction"); it != p.values.end()) {
        auto d = parseDirection(it->second);
        if (!d) return usage("--direction takes both, forward or reverse");
        c.rules.direction = *d;
    }
    c.rules.gateWidth = positiveNumber(p, "--gate-width", err);
    c.lapDistance = positiveNumber(p, "--lap-distance", err);
    if (!err.empty()) return usage(err);
    if (auto it = p.values.find("--notes"); it != p.values.end()) c.notes = it->second;
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
        out = "[";
        for (std::size_t i = 0; i < list.size(); ++i) out += (i ? ",\n " : "") + jsonCircuit(list[i]);
        out += "]\n";
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
        if (!option.empty()) return usage("give one log, --log FILE, --zlg FILE or --wmx FILE");
        option = o;
    }
    if (option.empty()) return usage("give one log, --log FILE, --zlg FILE or --wmx FILE");
    const std::string& log = p.values.at(option);
    const auto found = db.findCircuitsForTrack(readLogTrack(cli::logKindFor(option, log), log));
    std::string out;
    if (p.json) {
        out = "[";
        for (std::size_t i = 0; i < found.size(); ++i)
            out += (i ? ",\n " : "") + std::string("{\"crossings\": ") + std::to_string(found[i].crossings) +
                   ", \"circuit\": " + jsonCircuit(found[i].circuit) + "}";
        out += "]\n";
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
    if (!p.values.count("--name")) return usage("--name NAME is required");
    if (p.box.size() != 4) return usage("--box MINLAT MINLONG MAXLAT MAXLONG is required");
    double v[4];
    for (int k = 0; k < 4; ++k) {
        auto d = parseDecimal(p.box[static_cast<std::size_t>(k)]);
        if (!d) return usage("--box takes four numbers in degrees, not '" + p.box[static_cast<std::size_t>(k)] + "'");
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

int runCircuitsCommand(int argc, char** argv) {
    // argv[0] is the program, argv[1] "circuits".
    if (argc < 3) return usage("circuits needs a command");
    const std::string cmd = argv[2];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << kCircuitsUsage;
        return 0;
    }
    if (!kOptions.count(cmd)) return usage("unknown circuits command '" + cmd + "'");
    std::string err;
    // Shift so that parse() sees the options from index 2.
    auto p = parse(cmd, argc - 1, argv + 1, err);
    if (!p) return usage(err);
    try {
        auto dbIt = p->values.find("--db");
        CircuitDb db = CircuitDb::open(dbIt != p->values.end() ? dbIt->second : defaultCircuitDbPath());
        if (cmd == "add") return runAdd(db, *p);
        if (cmd == "list") return runList(db, *p);
        if (cmd == "export") return runExport(db, *p);
        if (cmd == "import") return runImport(db, *p);
        if (cmd == "rename") {
            db.renameCircuit(p->positional[0], p->positional[1]);
            std::cout << "renamed " << p->positional[0] << " to " << p->positional[1] << "\n";
            return 0;
        }
        if (cmd == "remove") {
            db.removeCircuit(p->positional[0]);
            std::cout << "removed " << p->positional[0] << "\n";
            return 0;
        }
        if (cmd == "add-country") return runAddCountry(db, *p);
        if (cmd == "find") return runFind(db, *p);
        return runCountries(db);
    } catch (const LoadError& e) {
        return failWith(e.diagnostic());
    } catch (const std::exception& e) {
        return failWith(Diagnostic{e.what(), {}, 0, -1});
    }
}

} // namespace lorvane
