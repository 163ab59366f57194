#pragma once
// The file dialogs behind a small interface, so that tests answer them.
//
// Filters come in the programs' own form, pairs of a description and the
// patterns separated by "|": "Tous (*.bmp;*.jpg)|*.bmp;*.jpg|Bitmaps (*.bmp)|*.bmp".

#include <QString>
#include <QStringList>

#include <deque>
#include <string>
#include <vector>

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    // The open dialog for one existing file. Answers true and the chosen
    // file's path, or false when the user cancels.
    virtual bool OpenFileName(const std::string& filter, std::string& fileName) = 0;
};

// Turns a filter of the programs' form into Qt's name filters, one per pair:
// "Desc (*.a;*.b)|*.a;*.b" becomes "Desc (*.a *.b)". A description that does
// not end in its own pattern list gets the pair's patterns appended; a pair
// without patterns is left out.
QStringList QtNameFilters(const std::string& filter);

// The real dialogs, modal over the active window. The open dialog matches
// extensions in any case, as the registry does.
class TQtFileDialogs : public IFileDialogs {
public:
    bool OpenFileName(const std::string& filter, std::string& fileName) override;

private:
    // The folder of the last file chosen, where the next dialog starts.
    QString FLastDir;
};

// For tests: records the filters asked with and answers file names set in
// advance; an empty name, or none left, answers as a cancel.
// Takes the next answer of a scripted dialog: a list run dry or an empty
// answer stands for a cancelled dialog.
bool TakeScriptedAnswer(std::deque<std::string>& answers, std::string& answer);

class TScriptedFileDialogs : public IFileDialogs {
public:
    bool OpenFileName(const std::string& filter, std::string& fileName) override;

    std::deque<std::string> Answers;
    std::vector<std::string> Filters;
};
