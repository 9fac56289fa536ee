#pragma once
// The About panel aboutPanel: the program's picture, title, version, description and the
// support address. The window fills the texts each time the panel is shown.
//
// Threads: UI thread only.

#include <QGroupBox>
#include <QLabel>

namespace quaverly {

class AboutPanel final : public QGroupBox {
    Q_OBJECT
public:
    explicit AboutPanel(QWidget* parent = nullptr);

    QLabel* picIcon;
    QLabel* lblVersion;
    QLabel* lblTitle;
    QLabel* lblDescription;
    QLabel* Label7;
};

} // namespace quaverly
