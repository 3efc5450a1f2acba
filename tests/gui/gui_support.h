// Shared pieces of the window tests: prompts answered from a script, and
// synthetic sessions written to a temporary folder.
#pragma once

#include <optional>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"

namespace guitest {

// Every question is recorded; the answers come from the queues. A question
// without a scripted answer is recorded as unexpected and answered with a
// cancel (or No).
class ScriptedPrompts : public lorvane::app::Prompts {
public:
    struct Asked {
        QString kind; // "open", "save", "confirm", "inform", "error", "choose"
        QString title;
        QString text; // initial file name for dialogs, the message otherwise
    };

    QList<Asked> asked;
    QList<std::optional<QString>> files; // answers to open and save dialogs, in order
    QList<bool> answers;                 // answers to confirmations
    QList<std::optional<int>> choices;   // answers to choices (an index, or cancel)
    QStringList offered;                 // the items of the latest choice
    int unexpected = 0;

    std::optional<QString> openFile(QWidget*, const QString& title, const QString& initial) override {
        asked.append({QStringLiteral("open"), title, initial});
        return nextFile();
    }
    std::optional<QString> saveFile(QWidget*, const QString& title, const QString& initial) override {
        asked.append({QStringLiteral("save"), title, initial});
        return nextFile();
    }
    bool confirm(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("confirm"), caption, text});
        if (answers.isEmpty()) {
            ++unexpected;
            return false;
        }
        return answers.takeFirst();
    }
    void inform(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("inform"), caption, text});
    }
    void error(QWidget*, const QString& text) override { asked.append({QStringLiteral("error"), QString(), text}); }
    std::optional<int> choose(QWidget*, const QString& caption, const QString& text,
                              const QStringList& items) override {
        asked.append({QStringLiteral("choose"), caption, text});
        offered = items;
        if (choices.isEmpty()) {
            ++unexpected;
            return std::nullopt;
        }
        return choices.takeFirst();
    }

    QList<lorvane::app::SaveAnswer> saveAnswers; // answers to "save your work?"
    lorvane::app::SaveAnswer askToSave(QWidget*, const QString& caption, const QString& text) override {
        asked.append({QStringLiteral("askToSave"), caption, text});
        if (saveAnswers.isEmpty()) {
            ++unexpected;
            return lorvane::app::SaveAnswer::Discard;
        }
        return saveAnswers.takeFirst();
    }

    QStringList kinds() const {
        QStringList k;
        for (const Asked& a : asked) k << a.kind;
        return k;
    }
    void clear() {
        asked.clear();
        files.clear();
        answers.clear();
        choices.clear();
        saveAnswers.clear();
        offered.clear();
        unexpected = 0;
    }

private:
    std::optional<QString> nextFile() {
        if (files.isEmpty()) {
            ++unexpected;
            return std::nullopt;
        }
        return files.takeFirst();
    }
};

// The main window on a session of its own, shown, with the load's end
// signal watched.
struct MainWindow {
    lorvane::Session session;
    ScriptedPrompts prompts;
    TForm1 form{session, prompts};
    QSignalSpy ended{&form, &TForm1::loadEnded};

    MainWindow() {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    // LoadGXR, then the log's button, each file chosen in its dialog.
    bool load(const QString& gxr, const QString& log, bool binary = false) {
        prompts.files << gxr << log;
        form.LoadGXR->click();
        (binary ? form.loadwmx : form.LoadZLG)->click();
        return ended.wait(60000);
    }
    // The lap list's lines.
    QStringList lines() const {
        QStringList l;
        for (int i = 0; i < form.LapTimeBox->count(); ++i) l << form.LapTimeBox->item(i)->text();
        return l;
    }
};

// A generated session written as demo.gxr, demo.zlg and demo.wmx.
struct SessionFiles {
    QTemporaryDir dir;
    lorvane::gen::Session session;
    QString gxr, zlg, wmx;

    explicit SessionFiles(const lorvane::gen::Options& options) : session(lorvane::gen::generate(options)) {
        gxr = write(QStringLiteral("demo.gxr"), session.gxr);
        zlg = write(QStringLiteral("demo.zlg"), session.zlg);
        wmx = write(QStringLiteral("demo.wmx"), session.wmx);
    }

    QString write(const QString& name, const std::string& bytes) const {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};

inline lorvane::gen::Options sessionOptions(std::uint64_t seed, int laps, bool finishGate) {
    lorvane::gen::Options o;
    o.seed = seed;
    o.laps = laps;
    o.finishGate = finishGate;
    o.dropouts = false;
    return o;
}

// The next widget that Tab moves to from `w` (enabled or not).
inline QWidget* nextTabStop(QWidget* w) {
    for (QWidget* n = w->nextInFocusChain(); n && n != w; n = n->nextInFocusChain())
        if (n->focusPolicy() & Qt::TabFocus) return n;
    return nullptr;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline std::string toPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace guitest
