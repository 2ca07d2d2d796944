// TFMask: the privacy-mask editor window. Created hidden at start; the
// Setup1 page shows it for the mask chosen there.
#pragma once

#include <QWidget>

namespace tern::controls {

class TFMask : public QWidget {
    Q_OBJECT
public:
    explicit TFMask(QWidget* parent = nullptr);
};

}  // namespace tern::controls
