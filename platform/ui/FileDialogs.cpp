#include "FileDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

namespace {

std::vector<std::string> Split(const std::string& s, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = s.find(separator, start);
        parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// The description without a trailing group of patterns such as "(*.a;*.b)";
// a trailing group of words stays part of the description.
std::string DescriptionWithoutPatterns(const std::string& description)
{
    std::string d = Trim(description);
    if (d.empty() || d.back() != ')')
        return d;
    const auto open = d.rfind('(');
    if (open == std::string::npos)
        return d;
    const std::string group = d.substr(open + 1, d.size() - open - 2);
    if (group.find_first_of("*?") == std::string::npos)
        return d;
    return Trim(d.substr(0, open));
}

} // namespace

QStringList QtNameFilters(const std::string& filter)
{
    QStringList result;
    if (filter.empty())
        return result;
    const std::vector<std::string> items = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
        std::string patterns;
        for (const std::string& p : Split(items[i + 1], ';')) {
            const std::string pattern = Trim(p);
            if (pattern.empty())
                continue;
            if (!patterns.empty())
                patterns += ' ';
            patterns += pattern;
        }
        if (patterns.empty())
            continue;
        std::string description = DescriptionWithoutPatterns(items[i]);
        if (!description.empty())
            description += ' ';
        result << QString::fromStdString(description + "(" + patterns + ")");
    }
    return result;
}

bool TQtFileDialogs::OpenFileName(const std::string& filter, std::string& fileName)
{
    QFileDialog dialog(QApplication::activeWindow(), QStringLiteral("Ouvrir"));
    // Qt's own dialog everywhere: its filters match in any case.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(filter));
    if (!FLastDir.isEmpty())
        dialog.setDirectory(FLastDir);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    FLastDir = dialog.directory().absolutePath();
    fileName = QFile::encodeName(files.front()).toStdString();
    return true;
}

bool TScriptedFileDialogs::OpenFileName(const std::string& filter, std::string& fileName)
{
    Filters.push_back(filter);
    return TakeScriptedAnswer(Answers, fileName);
}

bool TakeScriptedAnswer(std::deque<std::string>& answers, std::string& answer)
{
    if (answers.empty())
        return false;
    std::string next = answers.front();
    answers.pop_front();
    if (next.empty())
        return false;
    answer = next;
    return true;
}
