// What the link control needs from the program around it: the window in
// ternab, a small console host in ternctl and the tests.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

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

/// What the link reports and asks. The link speaks of the line, of its
/// exchanges and of the work waiting for it; the host decides how to show
/// that (the window's status bar, cursor and pages; ternctl's stderr).
class LinkHost {
public:
    virtual ~LinkHost() = default;

    // what the link reports ---------------------------------------------------
    /// An exchange of ours opened (true), or the link has been at rest for the
    /// Cursor timer's delay (false). Reported on changes only: a command that
    /// follows its predecessor's reply at once keeps the link busy.
    virtual void BusyChanged(bool busy) { (void)busy; }
    /// A command frame went out (not a re-send). Link::CommandText() gives
    /// its bytes as text, made only when asked for.
    virtual void FrameSent() {}
    /// The reply to the frame in flight has been taken and acknowledged.
    /// Link::ReplyText() gives its bytes as text.
    virtual void ExchangeDone() {}
    /// A block frame was refused because an exchange is still open.
    virtual void ExchangeRefused() {}
    /// The reply watch gave up on the exchange in flight (its message has
    /// been shown): work that waited for that answer ends here.
    virtual void ReplyGivenUp() {}
    /// The line's state changed (the window's title shows it with the device).
    virtual void LineStateChanged(LineState state) { (void)state; }
    /// A frame that did not end well came again before any good one:
    /// `repeats` since the first, which was shown as a message.
    virtual void NoiseRepeated(int repeats) { (void)repeats; }
    /// A copy of an earlier reply came while another frame was in flight; it
    /// was dropped (`count` since the start).
    virtual void StaleReplyDropped(int count) { (void)count; }
    /// The reset locks (true) or frees the Setup1 page's controls.
    virtual void ResetLockChanged(bool locked) { (void)locked; }
    /// The camera acknowledged a reset, which also ends a copy to the camera:
    /// the copy's settings file, if any, is closed.
    virtual void CloseCopyFile() {}
    /// After a reset the page shown is read again unless it says otherwise.
    virtual bool ReadAgainAfterReset() const { return true; }
    /// Advances the copy progress by `by` words or bytes.
    virtual void AdvanceCopyProgress(int by) { (void)by; }
    /// The device went away with changes of the user's still waiting for the
    /// link: they were not sent. Their names, in the user's order.
    virtual void ChangesDropped(const std::vector<std::string>& names) { (void)names; }

    // messages ----------------------------------------------------------------
    /// Modal message box with one OK button. Reply bytes that arrive while it
    /// is open are not dispatched inside it (the link holds them back).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    /// An exception left a handler (open errors, refused writes): show it and go on.
    virtual void ShowException(const std::exception& e) = 0;

    // the host's own parts ----------------------------------------------------
    virtual void EnableTimer(LinkTimer timer, bool on) = 0;
    virtual void EnablePageControl(bool on) = 0;
    virtual link::ToolMode ToolMode() const = 0;
    /// Ends the program (no camera answered at start).
    virtual void Terminate() = 0;

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
