// What the window tells a person beyond the pages: the Help menu, the
// answer to Camera > Load without a camera, the tooltips that name each
// setting as ternctl does, the slider values, and the window's size on
// the screen it opens on.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/FirstConnection.h"
#include "app/MTern.h"
#include "link/version.h"
#include "widgets/Fit.h"

namespace tern::app {

std::string NoAnswerText(const std::string& device) {
    std::string text = std::string(link::kMsgNotConnected) + "\n\n";
    text += device.empty() ? std::string("No camera answered.") : "No camera answered on " + device + ".";
    text +=
        "\nCheck:\n"
        "- that the camera is powered,\n"
        "- that its cable is plugged in at both ends,\n"
        "- that this is the camera's port: \"ternctl ports --probe\" lists the ports\n"
        "  and says which one the camera answers on.";
    return text;
}

void TFTern::LoadMenuClick() {
    // Before any camera answered there is nothing to read, and DSR says
    // nothing of a camera: the way to one is a port.
    if (link_->Mode() == link::LinkMode::Connecting) {
        MessageBox(QString::fromLatin1(kMsgLoadNotConnected), QApplication::applicationName(), false);
        return;
    }
    ReLoadClick();
}

std::string TFTern::CameraVersionText() const {
    const std::string port = comm1_ ? DeviceInUse() : std::string("COM1");
    if (!link_->EverConnected()) return "No camera has answered yet (port " + port + ").";
    auto shown = [](const QLabel* l) { return l->text().isEmpty() ? std::string("not read yet") : l->text().toStdString(); };
    std::string text = "Resolution: " + shown(Resolution) + "\nVideo standard: " + shown(TV) + "\nPort: " + port;
    if (link_->Mode() == link::LinkMode::Lost) text += " (the device is gone)";
    return text;
}

void TFTern::ShowGettingStarted() {
    // One window, raised again when it is asked for again.
    if (auto* open = findChild<QDialog*>("GettingStarted")) {
        open->show();
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new QDialog(this);
    dialog->setObjectName("GettingStarted");
    dialog->setWindowTitle("Getting started");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* column = new QVBoxLayout(dialog);
    auto* text = new QTextBrowser(dialog);
    text->setObjectName("GettingStartedText");
    text->setMarkdown(QString::fromUtf8(kFirstConnection));
    text->setOpenExternalLinks(true);
    column->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    column->addWidget(buttons);
    const int line = dialog->fontMetrics().height();
    dialog->resize(line * 36, line * 24);
    dialog->show();
}

QString TFTern::SettingToolTip(const transfer::Setting& setting) const {
    const QString name = QString::fromUtf8(setting.name.data(), static_cast<int>(setting.name.size()));
    QString tip = QStringLiteral("ternctl name: %1\nValues: %2")
                      .arg(name, QString::fromStdString(transfer::AllowedValues(setting)));
    if (setting.service) tip += QStringLiteral("\nA service setting: ternctl set --service");
    return tip;
}

void TFTern::SetSettingToolTips() {
    const QList<QLabel*> labels = findChildren<QLabel*>();
    for (const transfer::Setting& s : transfer::Settings()) {
        const QString name = QString::fromUtf8(s.name.data(), static_cast<int>(s.name.size()));
        const QString tip = SettingToolTip(s);
        QList<QWidget*> controls;
        if (s.kind == transfer::SettingKind::Grid) {
            // The grid's cells: the name and two digits.
            for (QWidget* w : findChildren<QWidget*>()) {
                const QString n = w->objectName();
                if (n.size() == name.size() + 2 && n.startsWith(name) && n.at(name.size()).isDigit() &&
                    n.at(name.size() + 1).isDigit())
                    controls.push_back(w);
            }
        } else if (QWidget* w = findChild<QWidget*>(name)) {
            controls.push_back(w);
        }
        for (QWidget* w : controls) {
            w->setToolTip(tip);
            // Its caption says the same.
            for (QLabel* l : labels) {
                if (l->buddy() == w) l->setToolTip(tip);
            }
            if (auto* bar = qobject_cast<QSlider*>(w)) {
                if (QLabel* value = widgets::ShowValueBeside(bar)) value->setToolTip(tip);
            }
        }
    }
}

void TFTern::FitToScreen() {
    // As large as the pages need, no larger than the screen: what does not
    // fit scrolls within its page.
    QSize want = sizeHint();
    if (const QScreen* s = screen()) {
        // Room for the window's frame and title bar.
        const QSize room = s->availableGeometry().size() - QSize(8, 32);
        want = want.boundedTo(room);
    }
    resize(want);
}

}  // namespace tern::app
