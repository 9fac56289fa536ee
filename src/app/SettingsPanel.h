#pragma once
// The settings panel settingsPanel: "Save Setting" and the frame "Program Base Folder" with the
// drive list Drive1 (mounted volumes), the folder list Dir1 (folders only) and "New Folder".
//
// The panel keeps the folder list's path. Every change of it, by the user or by the program,
// is announced with folderChanged (the window's BaseFolder follows it). Choosing another drive
// moves the folder list to the folder last shown on that drive, or to its root; a drive that
// cannot be read leaves the folder list where it was.
//
// Threads: UI thread only.

#include <QComboBox>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHash>
#include <QPushButton>
#include <QTreeView>

namespace quaverly {

class SettingsPanel final : public QGroupBox {
    Q_OBJECT
public:
    explicit SettingsPanel(QWidget* parent = nullptr);

    // The folder list's path, without a trailing separator except at a root.
    QString folder() const { return path_; }
    // Points the folder list at path; false (and nothing changes) when it is not a folder that
    // can be entered.
    bool setFolder(const QString& path);

    // Fills the drive list from the mounted volumes again.
    void refreshDrives();

    QPushButton* CmdSaveSetting;
    QGroupBox* frameBaseFolder;
    QComboBox* Drive1; // item data: the volume's root path
    QTreeView* Dir1;
    QPushButton* CmdFolder;
    QFileSystemModel* dirModel;

signals:
    void folderChanged(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Drive1_Change(int index);
    void Dir1_Change(const QModelIndex& current);
    void showDriveOf(const QString& path);

    QString path_;
    QHash<QString, QString> lastFolderOnDrive_; // volume root -> folder last shown there
};

} // namespace quaverly
