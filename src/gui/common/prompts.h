// Every question the windows ask the user and every message they show goes
// through Prompts, so that the tests can script the answers. The program uses
// DialogPrompts, the real file dialogs and message boxes.
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace lorvane::app {

enum class SaveAnswer { Save, Discard, Cancel };

class Prompts {
public:
    virtual ~Prompts() = default;
    // A file open dialog with a title and an initial text in its file name
    // box; nothing when cancelled.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& title,
                                            const QString& initialName) = 0;
    // A file save dialog that asks before replacing an existing file and adds
    // no extension; nothing when cancelled.
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& title,
                                            const QString& initialName) = 0;
    // A warning box with Yes and No; true for Yes.
    virtual bool confirm(QWidget* parent, const QString& caption, const QString& text) = 0;
    // A plain message with OK.
    virtual void inform(QWidget* parent, const QString& caption, const QString& text) = 0;
    // The error box for an error that ends a handler.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // A choice of one of `items`; its index, nothing when cancelled.
    virtual std::optional<int> choose(QWidget* parent, const QString& caption, const QString& text,
                                      const QStringList& items) = 0;
    // Unsaved work: Save, Discard or Cancel.
    virtual SaveAnswer askToSave(QWidget* parent, const QString& caption, const QString& text) = 0;

    // The folder the next file dialog opens in, for that dialog only; without
    // one it opens in the folder of the file last chosen in this run.
    void startNextDialogIn(const QString& folder) { nextFolder_ = folder; }

protected:
    // The folder set for this dialog (empty: none), and it is used up.
    QString takeStartFolder() {
        QString f;
        f.swap(nextFolder_);
        return f;
    }

private:
    QString nextFolder_;
};

class DialogPrompts final : public Prompts {
public:
    std::optional<QString> openFile(QWidget* parent, const QString& title,
                                    const QString& initialName) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& title,
                                    const QString& initialName) override;
    bool confirm(QWidget* parent, const QString& caption, const QString& text) override;
    void inform(QWidget* parent, const QString& caption, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    std::optional<int> choose(QWidget* parent, const QString& caption, const QString& text,
                              const QStringList& items) override;
    SaveAnswer askToSave(QWidget* parent, const QString& caption, const QString& text) override;
};

// Sets up an open dialog for an initial name: a pattern ("*.zlg;") or a list
// of them ("*.zlg *.wmx *.csv") becomes the dialog's name filter, with "All
// files" as the alternative; any other name goes into the file name box.
void prepareOpenDialog(QFileDialog& dialog, const QString& initialName);

// The program's name, used as the caption of its messages.
QString programTitle();

} // namespace lorvane::app
