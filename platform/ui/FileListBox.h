#pragma once
// TFileListBox: the files of one folder that match a mask, by name, in a
// list the user selects from. The mask matches without regard to case, so
// "*.jpg" lists a camera's "IMG_0001.JPG".

#include <QListWidget>

#include <functional>
#include <string>
#include <vector>

class TFileListBox : public QListWidget {
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // Patterns separated by ";" ("*.jpg;*.jpeg"), with "*" and "?". "*.*"
    // and "*" match every file.
    const std::string& Mask() const { return FMask; }
    void SetMask(const std::string& mask);
    // The folder listed; the current directory at first.
    const std::string& Directory() const { return FDirectory; }
    void SetDirectory(const std::string& directory);
    // A folder becomes the Directory; otherwise its folder part does, a
    // file part with wildcards becomes the Mask, and a file name that is
    // listed becomes the current item. An empty path changes nothing.
    void ApplyFilePath(const std::string& path);
    // Reads the folder again, keeping the selected names selected.
    void Update();

    bool MultiSelect() const;
    void SetMultiSelect(bool value);

    int Count() const { return count(); }
    // The file name of item i, without its folder.
    std::string Items(int i) const;
    // Directory + "/" + Items(i).
    std::string FilePath(int i) const;
    bool Selected(int i) const;
    void SetSelected(int i, bool value);
    int SelCount() const;
    // The current item, -1 for none.
    int ItemIndex() const { return currentRow(); }
    void SetItemIndex(int i) { setCurrentRow(i); }
    // The full path of the current item ("" for none).
    std::string FileName() const;

    // True when name matches one of the mask's patterns, without regard to case.
    static bool MatchesMask(const std::string& name, const std::string& mask);

    // Called after the list was read again (a new folder or mask).
    std::function<void(TFileListBox&)> OnChange;

private:
    void ReadFolder(const std::vector<std::string>& keepSelected);

    std::string FMask = "*.*";
    std::string FDirectory;
};
