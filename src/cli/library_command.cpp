#include "cli/library_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_util.h"
#include "cli/json_out.h"
#include "formats/any_log.h"
#include "formats/numbers.h"
#include "library/session_library.h"
#include "session/session.h"

namespace lorvane {

namespace {

using cli::Json;

struct LibraryArgs {
    std::string db;
    // add
    std::vector<std::string> paths;
    std::string jobs;
    // list, best
    std::string circuit, top;
    bool json = false;
};

std::string dbOrDefault(const std::string& db) {
    return db.empty() ? defaultCircuitDbPath() : db;
}

Json optNumber(const std::optional<double>& v) {
    return v ? Json(*v) : Json();
}
Json optText(const std::optional<std::string>& v) {
    return v ? Json(*v) : Json();
}

// A list of documents, one a line: `[A,\n B,\n C]`, as `circuits list --json`.
void printJsonLines(const std::vector<Json>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",\n ";
        out += cli::dumpJson(items[i], cli::JsonNumbers::Shortest);
    }
    out += "]\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Seconds with three decimals, locale-free; "-" for none.
std::string seconds(const std::optional<double>& v) {
    return v ? formatFixed(*v, 1, 3) : std::string("-");
}

int runAdd(const LibraryArgs& a) {
    unsigned jobs = 0;
    if (!a.jobs.empty()) {
        const auto n = parseInteger(a.jobs);
        if (!n || *n < 1 || *n > 1024) throw cli::UsageError("--jobs takes a whole number from 1 to 1024");
        jobs = static_cast<unsigned>(*n);
    }
    if (a.paths.empty()) throw cli::UsageError("give the logs or folders to add");
    const bool progress = ::isatty(STDERR_FILENO) == 1;
    bool refused = false;
    try {
        SessionLibrary lib = SessionLibrary::open(dbOrDefault(a.db));
        AddOptions options;
        options.jobs = jobs;
        options.onFile = [&](const AddResult& r, std::size_t done, std::size_t total) {
            std::string line(addOutcomeName(r.outcome));
            line += ' ';
            line += r.path;
            if (r.outcome == AddOutcome::Refused) {
                refused = true;
                line += ": " + r.reason;
            }
            line += '\n';
            if (progress) std::fputs("\r\x1b[K", stderr);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
            if (progress) {
                std::fprintf(stderr, "%zu/%zu", done, total);
                if (done == total) std::fputs("\r\x1b[K", stderr);
                std::fflush(stderr);
            }
        };
        lib.add(a.paths, options);
    } catch (const LoadError& e) {
        if (progress) std::fputs("\r\x1b[K", stderr);
        return cli::reportError(e.diagnostic());
    }
    return refused ? 1 : 0;
}

int runList(const LibraryArgs& a) {
    std::vector<StoredSession> sessions;
    try {
        const SessionLibrary lib = SessionLibrary::open(dbOrDefault(a.db));
        sessions = lib.sessions(a.circuit.empty() ? std::nullopt : std::optional<std::string_view>(a.circuit));
    } catch (const LoadError& e) {
        return cli::reportError(e.diagnostic());
    }
    if (a.json) {
        std::vector<Json> items;
        for (const StoredSession& s : sessions)
            items.push_back({{"id", s.id},
                             {"path", s.path},
                             {"kind", logKindName(s.kind)},
                             {"date", optText(s.date)},
                             {"circuit", optText(s.circuit)},
                             {"laps", s.lapCount},
                             {"best", optNumber(s.bestTime)},
                             {"best_lap", s.bestLap ? Json(*s.bestLap) : Json()},
                             {"theoretical_best", optNumber(s.theoreticalBest)}});
        printJsonLines(items);
        return 0;
    }
    std::string out;
    for (const StoredSession& s : sessions) {
        out += std::to_string(s.id) + '\t' + s.date.value_or("-") + '\t' + s.timeOfDay.value_or("-") + '\t' +
               s.circuit.value_or("-") + '\t' + std::to_string(s.lapCount) + '\t' + seconds(s.bestTime) + '\t' +
               (s.bestLap ? std::to_string(*s.bestLap) : "-") + '\t' + seconds(s.theoreticalBest) + '\t' +
               logKindName(s.kind) + '\t' + s.path + '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int runBest(const LibraryArgs& a) {
    if (a.circuit.empty()) throw cli::UsageError("--circuit NAME is required");
    int top = 10;
    if (!a.top.empty()) {
        const auto n = parseInteger(a.top);
        if (!n || *n < 1) throw cli::UsageError("--top takes a whole number from 1");
        top = *n;
    }
    std::vector<BestLapEntry> laps;
    try {
        const SessionLibrary lib = SessionLibrary::open(dbOrDefault(a.db));
        laps = lib.bestLaps(a.circuit, top);
    } catch (const LoadError& e) {
        return cli::reportError(e.diagnostic());
    }
    if (a.json) {
        std::vector<Json> items;
        for (const BestLapEntry& l : laps)
            items.push_back({{"session", l.session},
                             {"lap", l.lap},
                             {"time", l.time},
                             {"path", l.path},
                             {"date", optText(l.date)}});
        printJsonLines(items);
        return 0;
    }
    std::string out;
    for (const BestLapEntry& l : laps)
        out += formatFixed(l.time, 1, 3) + '\t' + std::to_string(l.session) + '\t' + std::to_string(l.lap) + '\t' +
               l.date.value_or("-") + '\t' + l.path + '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace

cli::CommandRun addLibraryCommand(CLI::App& app) {
    auto a = std::make_shared<LibraryArgs>();
    CLI::App* lib = app.add_subcommand("library", "The session library: every log added, with its circuit and laps");
    lib->require_subcommand(1);
    auto addDb = [&](CLI::App* cmd) {
        cmd->add_option("--db", a->db, "The database (default: the circuit database, " + defaultCircuitDbPath() + ")")
            ->type_name("PATH");
    };
    CLI::App* add = lib->add_subcommand("add", "Add logs, or every log below folders");
    add->add_option("paths", a->paths, "Logs and folders")->type_name("PATH...")->required();
    add->add_option("--jobs", a->jobs, "Threads reading the logs (default: one per core)")->type_name("N");
    addDb(add);
    add->footer("One line per file on standard output: added, unchanged, updated (read again, or moved) or\n"
                "refused PATH: REASON. Exit status 1 when a file was refused; the others are added.");
    CLI::App* list = lib->add_subcommand("list", "List the stored sessions");
    list->add_option("--circuit", a->circuit, "Only the sessions at this circuit")->type_name("NAME");
    list->add_flag("--json", a->json, "As a JSON array");
    addDb(list);
    list->footer("Columns, tab-separated: id, date, time of day (UTC), circuit, laps, best lap time (s),\n"
                 "best lap, theoretical best (s), kind, path; '-' where there is none.");
    CLI::App* best = lib->add_subcommand("best", "The fastest laps at a circuit over all sessions");
    best->add_option("--circuit", a->circuit, "The circuit (required)")->type_name("NAME");
    best->add_option("--top", a->top, "How many laps (default 10)")->type_name("N");
    best->add_flag("--json", a->json, "As a JSON array");
    addDb(best);
    best->footer("Columns, tab-separated: time (s), session, lap, date, path.");
    return [a, add, list, best] {
        if (add->parsed()) return runAdd(*a);
        if (list->parsed()) return runList(*a);
        if (best->parsed()) return runBest(*a);
        throw cli::UsageError("library: give add, list or best");
    };
}

int runStoredRef(const std::string& dbPath, const std::string& sessionText, const std::string& lapText, bool fixed,
                 const std::string& out) {
    const auto id = parseInteger(sessionText);
    if (!id || *id < 1) throw cli::UsageError("--session takes a session id from `library list`");
    if (lapText.empty()) throw cli::UsageError("--lap N|best is required");
    std::int32_t lap = 0;
    if (lapText != "best") lap = cli::lapNumber("--lap", lapText);
    try {
        const SessionLibrary lib = SessionLibrary::open(dbOrDefault(dbPath));
        const auto stored = lib.session(*id);
        if (!stored) fail(ErrorKind::Invalid, "No session " + sessionText + " in the library", lib.path());
        const StoredSession& s = *stored;
        if (!s.circuit)
            fail(ErrorKind::Invalid, "Session " + sessionText + " has no circuit, so no laps to write", s.path);
        if (::access(s.path.c_str(), F_OK) != 0)
            fail(ErrorKind::NotFound, "The log of session " + sessionText + " is gone", s.path);
        if (fileContentHash(s.path) != s.hash)
            fail(ErrorKind::Changed,
                 "The log of session " + sessionText +
                     " has changed since it was added (its content hash differs); add it to the library again",
                 s.path);
        // The load `ref` runs on a log with a circuit of the database.
        Session session;
        SessionObserver quiet;
        session.setGateRules(s.rules);
        session.setKeepTrack(true);
        session.loadLog(s.kind, s.path, quiet);
        session.setStartFinish(s.startFinish());
        session.setGateRules(s.rules);
        const LoadReport report = session.recutLoaded();
        if (!report.readerNote.empty()) std::cerr << "lorvane-cli: " << s.path << ": " << report.readerNote << "\n";
        if (!report.ok) return cli::reportError(report.error);
        if (lap == 0) {
            lap = session.bestLap();
            if (lap == 0) fail(ErrorKind::Invalid, "The log has no complete lap", s.path);
        }
        const ReferenceLap ref = session.pickLap(lap);
        session.saveLapRefFile(ref, out, fixed);
    } catch (const LoadError& e) {
        return cli::reportError(e.diagnostic());
    }
    std::cout << out << "\n";
    return 0;
}

} // namespace lorvane
