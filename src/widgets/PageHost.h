// What a page of the main window may ask of the window around it: the link,
// the transfer engine, message boxes, the window's timers and running a
// handler so that an exception leaving it is shown. Pages never reach each
// other; rules that span pages live in the window.
#pragma once

#include <functional>
#include <string>

class QDialog;
class QFileDialog;
class QTimer;

namespace tern::link {
class Link;
enum class Page;
}
namespace tern::transfer {
class Engine;
}

namespace tern::widgets {

class PageHost {
public:
    virtual ~PageHost() = default;
    virtual link::Link& Link() = 0;
    virtual transfer::Engine& Engine() = 0;
    /// Modal box with one OK button, with exactly this text and caption.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    /// Modal box with the buttons Abort, Retry and Ignore, with exactly this
    /// text and caption; which button closed it is not used.
    virtual void ShowAbortRetryIgnore(const std::string& text, const std::string& caption) = 0;
    /// Runs a handler; an exception that leaves it is shown and the tool goes on.
    virtual void Guard(const std::function<void()>& fn) = 0;
    /// The window's timer of this name, its ticks running `handler` (never
    /// inside the reply dispatcher's reaction or under a box).
    virtual QTimer* ConnectTimer(const char* name, std::function<void()> handler) = 0;
    /// The page control, which a page may enable again after its own send.
    virtual void EnablePageControl(bool on) = 0;
    /// A confirmation box with Yes and No; true only for Yes.
    virtual bool Ask(const std::string& text, const std::string& caption) = 0;
    /// Runs a dialog modally, with the camera's answers held back meanwhile
    /// as under a message box; returns its result.
    virtual int RunModal(QDialog& dialog) = 0;
    /// The window's file dialogs: SaveDialog1 (save) and OpenDialog1.
    virtual QFileDialog* FileDialog(bool save) = 0;
    /// Makes `page` the page shown (its load chain starts as on a user's switch).
    virtual void ShowPage(link::Page page) = 0;
    /// "&Load": reads the page shown afresh.
    virtual void ReLoadClick() = 0;
    /// Enables or disables "&Load" (a copy running keeps it from being used).
    virtual void EnableReLoad(bool on) { (void)on; }
};

}  // namespace tern::widgets
