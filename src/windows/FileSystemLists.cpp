#include "windows/FileSystemLists.h"

#include <utility>

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QPalette>
#include <QScopedValueRollback>

#include "base/Error.h"
#include "windowrules/ChooserRules.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Pictures.h"

namespace yubin::app {

namespace {

constexpr int kPathRole = Qt::UserRole;

QString CleanFolder(const QString& folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

mdGETUNC::DrivePlatform*& SubstitutePlatform() {
    static mdGETUNC::DrivePlatform* platform = nullptr;
    return platform;
}

}  // namespace

mdGETUNC::DrivePlatform& WindowDrivePlatform() {
    return SubstitutePlatform() != nullptr ? *SubstitutePlatform()
                                           : mdGETUNC::SystemDrivePlatform();
}

mdGETUNC::DrivePlatform* SetWindowDrivePlatform(mdGETUNC::DrivePlatform* platform) {
    return std::exchange(SubstitutePlatform(), platform);
}

void FitHeightToText(QWidget& control) {
    const int needed = control.sizeHint().height();
    if (control.height() < needed) control.resize(control.width(), needed);
}

void OnPlainGround(QWidget& caption) {
    QPalette palette = caption.palette();
    palette.setColor(QPalette::Window, Qt::white);
    caption.setPalette(palette);
    caption.setAutoFillBackground(true);
}

// ---- DriveList --------------------------------------------------------------------------------

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    // A text typed into an editable list never becomes an entry: entries are drives only.
    setInsertPolicy(QComboBox::NoInsert);
}

void DriveList::setEntries(const std::vector<mdGETUNC::DriveEntry>& entries) {
    const QSignalBlocker quiet(this);
    clear();
    entries_ = entries;
    for (const mdGETUNC::DriveEntry& entry : entries_) {
        addItem(QString::fromStdString(entry.name), QString::fromStdString(entry.folder));
    }
    setCurrentIndex(-1);
}

QString DriveList::folderAt(int index) const {
    if (index < 0 || index >= static_cast<int>(entries_.size())) return QString();
    return QString::fromStdString(entries_[static_cast<size_t>(index)].folder);
}

int DriveList::indexHolding(const QString& path) const {
    return rules::DriveEntryHolding(entries_, CleanFolder(path).toStdString());
}

// ---- DirList ----------------------------------------------------------------------------------

DirList::DirList(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(12);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A long folder name scrolls sideways instead of being cut.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        emit entryClicked(item->data(0, kPathRole).toString());
    });
    // Moving through the list with the keys selects as a click does.
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!populating_ && item != nullptr) emit entryClicked(item->data(0, kPathRole).toString());
    });
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        Guarded([this, item] { openOrTell(item->data(0, kPathRole).toString()); });
    });
}

bool DirList::openOrTell(const QString& folder) {
    try {
        setPath(folder);
        return true;
    } catch (const YubinError& error) {
        MsgBox(QString::fromStdString(error.description()), MsgStyle::Critical);
        return false;
    }
}

void DirList::setPath(const QString& folder) {
    const QString target = CleanFolder(folder);
    QDir dir(target);
    if (!QFileInfo(target).isDir() || !dir.isReadable()) {
        throw YubinError(ErrorCode::PathNotFound,
                         "フォルダ " + target.toStdString() + " を開けません。");
    }
    const QStringList children =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);

    const QScopedValueRollback quiet(populating_, true);
    clear();
    const QIcon openIcon = pictures::Folder(true);
    const QIcon closedIcon = pictures::Folder(false);
    // The ancestors from the root down, each the child of the one before.
    QStringList parts = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const auto entry = [](QTreeWidgetItem* item, const QString& path, const QIcon& icon) {
        item->setData(0, kPathRole, path);
        item->setIcon(0, icon);
    };
    auto* item = new QTreeWidgetItem(this, QStringList(QStringLiteral("/")));
    entry(item, QStringLiteral("/"), openIcon);
    QString walked;
    for (const QString& part : parts) {
        walked += QLatin1Char('/') + part;
        item = new QTreeWidgetItem(item, QStringList(part));
        entry(item, walked, openIcon);
    }
    QTreeWidgetItem* current = item;
    for (const QString& child : children) {
        entry(new QTreeWidgetItem(current, QStringList(child)),
              QString::fromStdString(
                  rules::JoinFolderAndName(target.toStdString(), child.toStdString())),
              closedIcon);
    }
    expandAll();
    setCurrentItem(current);
    scrollToItem(current);

    const bool changed = target != path_;
    path_ = target;
    if (changed) emit pathChanged(path_);
}

QString DirList::entryPath(int row) const {
    QTreeWidgetItem* item = topLevelItem(0);
    for (int i = 0; item != nullptr && i < row; ++i) item = itemBelow(item);
    return item != nullptr ? item->data(0, kPathRole).toString() : QString();
}

int DirList::entryCount() const {
    int count = 0;
    for (QTreeWidgetItem* item = topLevelItem(0); item != nullptr; item = itemBelow(item)) ++count;
    return count;
}

void DirList::drawBranches(QPainter* /*painter*/, const QRect& /*rect*/,
                           const QModelIndex& /*index*/) const {
    // Every entry is shown and none folds, so there are no branch marks to draw.
}

// ---- FileList ---------------------------------------------------------------------------------

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { emit fileActivated(item->text()); });
}

void FileList::setFolder(const QString& folder) {
    folder_ = folder;
    refresh();
}

void FileList::setPattern(const QString& pattern) {
    pattern_ = pattern;
    refresh();
}

QString FileList::selectedFileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

bool FileList::selectFile(const QString& name) {
    const QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    setCurrentItem(found.first());
    return true;
}

QStringList FileList::fileNames() const {
    QStringList names;
    for (int row = 0; row < count(); ++row) names << item(row)->text();
    return names;
}

void FileList::refresh() {
    const QString selected = selectedFileName();  // kept when the file is listed again
    clear();
    if (folder_.isEmpty()) return;
    const std::string pattern = pattern_.toStdString();
    const QStringList files = QDir(folder_).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : files) {
        if (rules::MatchesFilePattern(name.toStdString(), pattern)) addItem(name);
    }
    if (!selected.isEmpty()) selectFile(selected);
}

}  // namespace yubin::app
