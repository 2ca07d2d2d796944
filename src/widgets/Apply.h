// Puts decoded values into controls found by their objectName, as the
// decoders name them. Setting a control raises its change event as a
// user's change does; the pages' guards keep such events from sending.
#pragma once

#include <QHash>
#include <QString>

#include <string_view>

#include "transfer/Decode.h"

class QWidget;

namespace tern::widgets {

/// The control named `name` under `root`, or null.
QWidget* FindControl(QWidget* root, std::string_view name);

/// Every control under a root by objectName, looked up once: the window's
/// controls live as long as the window, and a reply names dozens of them.
class ControlIndex {
public:
    ControlIndex() = default;
    explicit ControlIndex(QWidget* root);
    /// The control of that name (the first one found, as FindControl), or null.
    QWidget* Find(std::string_view name) const;

private:
    QHash<QString, QWidget*> map_;
};

void ApplyUpdate(const ControlIndex& controls, const transfer::ControlUpdate& update);
/// A selection's item index (transfer::kNoSelection for none), a check box's
/// 0/1 or a slider's position; kNoSelection for a control that is not there.
int ControlValue(const ControlIndex& controls, std::string_view name);

/// Applies one update to the control it names under `root`; an update for a
/// control the window does not have (a page still to come) changes nothing.
void ApplyUpdate(QWidget* root, const transfer::ControlUpdate& update);


}  // namespace tern::widgets
