// What the link control needs from the program around it: the window in
// ternab, a small console host in ternctl and the tests.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace tern::link {

enum class LinkTimer { Send, Reload, Cursor };

/// What the window's title tells of the line.
enum class LineState { Connecting, Connected, Lost };

/// Tool modes of the window, by index of tool_type: DBG shows all six
/// pages, APL Setup1 and Setup2, KIZU the CCD Defect page.
enum class ToolMode { Dbg = 0, Apl = 1, Kizu = 2 };

/// Pages of PageControl1, by index; hidden pages keep theirs.
enum class Page { Adjust = 0, Debug = 1, Defect = 2, Copy = 3, Setup1 = 4, Setup2 = 5 };
inline constexpr int kPageCount = 6;

inline const char* PageName(Page page) {
    static const char* const kNames[kPageCount] = {"Adjust", "Debug", "CCD Defect", "Copy", "Setup1", "Setup2"};
    const int i = static_cast<int>(page);
    return i >= 0 && i < kPageCount ? kNames[i] : "?";
}
inline std::ostream& operator<<(std::ostream& os, Page page) { return os << PageName(page); }
inline std::ostream& operator<<(std::ostream& os, ToolMode mode) {
    static const char* const kNames[3] = {"DBG", "APL", "KIZU"};
    const int i = static_cast<int>(mode);
    return os << (i >= 0 && i < 3 ? kNames[i] : "?");
}

class LinkHost {
public:
    virtual ~LinkHost() = default;

    // status bar, cursor, messages ------------------------------------------
    /// Status panel 0..3 of StatusBar1.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;
    /// Sets the screen cursor at once: the hourglass when busy, else the default.
    virtual void SetScreenCursor(bool busy) = 0;
    /// Modal message box with one OK button. Reply bytes that arrive while it
    /// is open are not dispatched inside it (the link holds them back).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    /// An exception left a handler (open errors, refused writes): show it and go on.
    virtual void ShowException(const std::exception& e) = 0;

    // window state ------------------------------------------------------------
    virtual void EnableTimer(LinkTimer timer, bool on) = 0;
    virtual void EnablePageControl(bool on) = 0;
    /// Panel4 (the Setup1 page's controls), for Lock_on / Lock_off.
    virtual void EnablePanel4(bool on) { (void)on; }
    /// The page shown in PageControl1.
    virtual Page ActivePage() const = 0;
    virtual link::ToolMode ToolMode() const = 0;
    /// Closes the settings file of a running copy, if any.
    virtual void CloseCopyFile() {}
    /// Ends the program (no camera answered at start).
    virtual void Terminate() = 0;
    /// Advances the copy progress bar (ProgressBar3).
    virtual void AdvanceCopyProgress(int by) { (void)by; }
    /// The line's state changed (the window's title shows it with the device).
    virtual void LineStateChanged(LineState state) { (void)state; }
    /// The reply watch gave up on the exchange in flight (its message has
    /// been shown): work that waited for that answer ends here.
    virtual void ReplyGivenUp() {}

    // flags owned by the transfer engine, the defect page and the decoder ---
    virtual int LoadStep() const { return 0; }
    virtual bool DefectLock() const { return false; }
    virtual bool LoadGuard() const { return false; }

    // transfer engine ---------------------------------------------------------
    /// Requests step `step` of the active page's load chain.
    virtual void Trans_init(int step) = 0;
    /// A reply (or an ACK in its place) has been acknowledged.
    virtual void Trans_end() = 0;

    // threads -----------------------------------------------------------------
    /// Runs fn on the event thread, after what is already queued. Thread-safe.
    virtual void PostToEventThread(std::function<void()> fn) = 0;
};

}  // namespace tern::link
