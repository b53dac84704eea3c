// The drive list, the folder list and the file list of the file chooser and the creation
// window, over the machine's mounts and its folders.
//
// - DriveList: the drives (mount points and network shares) with the folder each opens here.
// - DirList: the classic folder list: the current folder's ancestors from the root down, the
//   current folder opened, and its subfolders below it. A single click selects an entry and
//   reports its full path; a double click (or Enter) opens it.
// - FileList: the files of one folder whose names match a pattern.
#pragma once

#include <vector>

#include <QComboBox>
#include <QListWidget>
#include <QString>
#include <QTreeWidget>

#include "settings/mdGETUNC.h"

class QFont;

namespace yubin::app {

// The platform the windows' drive lists ask (the machine's mount table unless replaced).
mdGETUNC::DrivePlatform& WindowDrivePlatform();
// Puts a substitute in place (tests); nullptr restores the machine's. Returns the substitute
// in place before, nullptr for the machine's.
mdGETUNC::DrivePlatform* SetWindowDrivePlatform(mdGETUNC::DrivePlatform* platform);

// Makes a control at least as high as its text needs (a height in twips may be too small
// for the font that stands in for the designed one).
void FitHeightToText(QWidget& control);
// Gives a caption a plain white ground, so that it reads clearly over the background picture.
void OnPlainGround(QWidget& caption);

class DriveList : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveList(QWidget* parent = nullptr);

    // Replaces the entries (the current one becomes none).
    void setEntries(const std::vector<mdGETUNC::DriveEntry>& entries);
    const std::vector<mdGETUNC::DriveEntry>& entries() const { return entries_; }
    // The folder the entry at the index opens on this machine ("" outside the list).
    QString folderAt(int index) const;
    // The index of the entry holding the path, or -1.
    int indexHolding(const QString& path) const;

  private:
    std::vector<mdGETUNC::DriveEntry> entries_;
};

class DirList : public QTreeWidget {
    Q_OBJECT
  public:
    explicit DirList(QWidget* parent = nullptr);
    // The items go without reports of a current entry.
    ~DirList() override { blockSignals(true); }

    // The folder shown opened ("" before the first setPath).
    const QString& path() const { return path_; }
    // Opens the folder: the list then shows its ancestors and subfolders. Raises YubinError
    // (PathNotFound) when the folder does not exist or cannot be listed; the list then stays.
    void setPath(const QString& folder);
    // Opens the folder as a person asks for it (an entry, a drive): a folder that cannot be
    // listed (another user's, a share gone away) is told in a message box and the list stays.
    // Returns whether the folder was opened.
    bool openOrTell(const QString& folder);
    // The full path of the entry in a row of the list (top to bottom), "" outside it.
    QString entryPath(int row) const;
    int entryCount() const;

  signals:
    // The folder shown opened has changed.
    void pathChanged(const QString& path);
    // A single click on an entry (or moving to it with the keys), with its full path.
    void entryClicked(const QString& path);

  protected:
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

  private:
    QString path_;
    bool populating_ = false;
};

class FileList : public QListWidget {
    Q_OBJECT
  public:
    explicit FileList(QWidget* parent = nullptr);

    const QString& folder() const { return folder_; }
    const QString& pattern() const { return pattern_; }
    // Shows the files of the folder that match the pattern, sorted by name without regard to
    // case; a folder that cannot be listed shows none.
    void setFolder(const QString& folder);
    void setPattern(const QString& pattern);
    // The name of the selected file, "" when none is selected.
    QString selectedFileName() const;
    // Selects the file of that name; false when it is not listed.
    bool selectFile(const QString& name);
    // The listed names, in their order.
    QStringList fileNames() const;

  signals:
    // A double click (or Enter) on a file.
    void fileActivated(const QString& name);

  private:
    void refresh();
    QString folder_;
    QString pattern_ = QStringLiteral("*");
};

}  // namespace yubin::app
