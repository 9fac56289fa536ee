#include "app/SettingsPanel.h"

#include "ui/Widgets.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QStorageInfo>

namespace quaverly {

namespace {

bool canEnter(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

QString driveText(const QStorageInfo& volume) {
    const QString root = QDir::toNativeSeparators(volume.rootPath());
    const QString name = volume.displayName();
    return name.isEmpty() || name == volume.rootPath() ? root
                                                       : QStringLiteral("%1  [%2]").arg(root, name);
}

} // namespace

SettingsPanel::SettingsPanel(QWidget* parent) : QGroupBox(tr("Settings"), parent) {
    setObjectName(QStringLiteral("FrameSetting"));

    frameBaseFolder = named(new QGroupBox(tr("Program Base Folder"), this), "Frame1");
    frameBaseFolder->setGeometry(14, 28, 565, 244);

    Drive1 = named(new QComboBox(frameBaseFolder), "Drive1");
    Drive1->setGeometry(14, 28, 413, 26);
    Drive1->setAccessibleName(tr("Drive"));

    dirModel = new QFileSystemModel(this);
    dirModel->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    dirModel->setReadOnly(true);
    dirModel->setRootPath(QDir::rootPath());

    Dir1 = named(new QTreeView(frameBaseFolder), "Dir1");
    Dir1->setGeometry(14, 60, 413, 170);
    Dir1->setAccessibleName(tr("Output folder"));
    Dir1->setModel(dirModel);
    Dir1->setHeaderHidden(true);
    for (int column = 1; column < dirModel->columnCount(); ++column) {
        Dir1->hideColumn(column);
    }
    Dir1->setUniformRowHeights(true);
    Dir1->setSelectionMode(QAbstractItemView::SingleSelection);
    Dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &SettingsPanel::Dir1_Change);

    CmdFolder = named(new QPushButton(tr("New Folder"), frameBaseFolder), "CmdFolder");
    CmdFolder->setGeometry(437, 60, 114, 30);
    CmdFolder->setAccessibleName(tr("New Folder"));

    CmdSaveSetting = named(new QPushButton(tr("Save Setting"), this), "CmdSaveSetting");
    CmdSaveSetting->setGeometry(451, 280, 128, 30);
    CmdSaveSetting->setAccessibleName(tr("Save Settings"));
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, CmdFolder);
    setTabOrder(CmdFolder, CmdSaveSetting);

    refreshDrives();
    connect(Drive1, &QComboBox::activated, this, &SettingsPanel::Drive1_Change);
}

void SettingsPanel::refreshDrives() {
    const QSignalBlocker quiet(Drive1);
    Drive1->clear();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady()) {
            Drive1->addItem(driveText(volume), volume.rootPath());
        }
    }
    if (!path_.isEmpty()) {
        showDriveOf(path_);
    }
}

void SettingsPanel::showDriveOf(const QString& path) {
    const QStorageInfo volume(path);
    if (!volume.isValid()) {
        return;
    }
    const QSignalBlocker quiet(Drive1);
    int index = Drive1->findData(volume.rootPath());
    if (index < 0) {
        Drive1->addItem(driveText(volume), volume.rootPath());
        index = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(index);
}

bool SettingsPanel::setFolder(const QString& path) {
    if (!canEnter(path)) {
        return false;
    }
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QModelIndex index = dirModel->index(clean);
    if (!index.isValid()) {
        return false;
    }
    if (Dir1->currentIndex() == index) {
        Dir1_Change(index); // the view is there already; the path may still be behind
    } else {
        Dir1->setCurrentIndex(index);
    }
    Dir1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return path_ == clean;
}

void SettingsPanel::showEvent(QShowEvent* event) {
    QGroupBox::showEvent(event);
    // The folder view lays itself out only when shown: bring the current folder into sight.
    if (Dir1->currentIndex().isValid()) {
        Dir1->scrollTo(Dir1->currentIndex(), QAbstractItemView::PositionAtCenter);
    }
}

void SettingsPanel::Dir1_Change(const QModelIndex& current) {
    if (!current.isValid()) {
        return;
    }
    const QString path = dirModel->filePath(current);
    if (path.isEmpty() || path == path_) {
        return;
    }
    path_ = path;
    Dir1->expand(current);
    showDriveOf(path_);
    lastFolderOnDrive_.insert(QStorageInfo(path_).rootPath(), path_);
    emit folderChanged(path_);
}

void SettingsPanel::Drive1_Change(int index) {
    const QString root = Drive1->itemData(index).toString();
    const QStorageInfo volume(root);
    if (root.isEmpty() || !volume.isValid() || !volume.isReady() || !canEnter(root)) {
        return; // a drive without medium: the folder list stays where it was
    }
    const QString last = lastFolderOnDrive_.value(volume.rootPath());
    if (last.isEmpty() || !setFolder(last)) {
        setFolder(root);
    }
}

} // namespace quaverly
