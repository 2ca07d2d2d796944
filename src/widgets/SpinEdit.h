// A spin edit holding an integer Value; its change event fires for every
// new value, typed, stepped or set from code.
#pragma once

#include <QSpinBox>

namespace tern::widgets {

class TCSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TCSpinEdit(const QString& name, QWidget* parent = nullptr) : QSpinBox(parent) {
        setObjectName(name);
        connect(this, &QSpinBox::valueChanged, this, [this](int) { emit Change(); });
    }

    int Value() const { return value(); }
    void SetValue(int v) { setValue(v); }
    void SetIncrement(int step) { setSingleStep(step); }

signals:
    void Change();
};

}  // namespace tern::widgets
