#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumaro::platform::ui {

using ControlId = int;

// Scroll-bar notification codes, numbered as the window system numbers them.
enum ScrollCode : int {
  kLineLeft = 0,
  kLineRight = 1,
  kPageLeft = 2,
  kPageRight = 3,
  kThumbPosition = 4,
  kThumbTrack = 5,
  kLeftmost = 6,
  kRightmost = 7,
  kEndScroll = 8,
};

// Combo-box notification codes carried by Command.
enum ComboNotification : int {
  kSelChange = 1,
  kDropDown = 7,
  kCloseUp = 8,
};

class DialogBehaviour;

// A dialog window and its controls, addressed by control id.
//
// Thread contract: every method may be called from any thread (the playback thread writes the
// status line while the user-interface thread reads it). A setter on a control the dialog does
// not have does nothing; a getter answers empty text, 0, -1 or false.
class Dialog {
 public:
  virtual ~Dialog() = default;

  virtual void SetCaption(std::u16string_view caption) = 0;
  virtual std::u16string Caption() const = 0;

  virtual void SetText(ControlId id, std::u16string_view text) = 0;
  // A path shown in a text control; a real window shortens it to fit, the text kept is whole.
  virtual void SetPathText(ControlId id, std::u16string_view path) = 0;
  virtual std::u16string Text(ControlId id) const = 0;

  virtual void Show(ControlId id, bool visible) = 0;
  virtual void Enable(ControlId id, bool enabled) = 0;
  virtual bool IsVisible(ControlId id) const = 0;
  virtual bool IsEnabled(ControlId id) const = 0;

  // Combo box: items in insertion order (the play-list box keeps drop order).
  virtual void ComboReset(ControlId id) = 0;
  // Answers the new item's index, or -1 when it could not be added.
  virtual int ComboAdd(ControlId id, std::u16string_view item) = 0;
  virtual int ComboCount(ControlId id) const = 0;
  virtual std::u16string ComboItem(ControlId id, int index) const = 0;
  // Selects an item (-1 clears the selection); false for an index out of range.
  virtual bool ComboSelect(ControlId id, int index) = 0;
  virtual int ComboSelection(ControlId id) const = 0;

  // Scroll bar: range, thumb position, and the position of a thumb being dragged.
  virtual void ScrollSetRange(ControlId id, int minimum, int maximum, bool redraw) = 0;
  virtual bool ScrollRange(ControlId id, int* minimum, int* maximum) const = 0;
  virtual void ScrollSetPosition(ControlId id, int position, bool redraw) = 0;
  virtual int ScrollPosition(ControlId id) const = 0;
  virtual bool ScrollTrackPosition(ControlId id, int* position) const = 0;

  virtual void SetCheck(ControlId id, bool checked) = 0;
  virtual bool IsChecked(ControlId id) const = 0;

  // Repaints the whole window.
  virtual void Repaint() = 0;

  // Whether files dropped on the window are delivered as DropFiles (off until a behaviour turns
  // it on, as a window that has not asked for drops gets none).
  virtual void AcceptDrops(bool accept) { (void)accept; }
  // Ends a modal dialog with `result`: the host delivers no further messages to its behaviour
  // and returns `result` to whoever ran the dialog.
  virtual void EndDialog(std::intptr_t result) { (void)result; }

  // Starts (or restarts) timer `id`, which then delivers Timer{id} every `milliseconds`.
  // User-interface thread. Failure answer: false.
  virtual bool SetTimer(int id, unsigned milliseconds) {
    (void)id;
    (void)milliseconds;
    return false;
  }
  virtual void KillTimer(int id) { (void)id; }

  // Whether a point given in client coordinates lies inside the client area.
  virtual bool ClientContains(int x, int y) const {
    (void)x;
    (void)y;
    return true;
  }

  // Shows the popup menu `menuName` (its first submenu) with its top left corner at the client
  // point, the items of `checked` marked, owned by this dialog. User-interface thread. Answers
  // the chosen item's id, or 0 when the user made no choice or the menu could not be shown.
  virtual int TrackPopupMenu(std::u16string_view menuName, std::span<const ControlId> checked,
                             int x, int y) {
    (void)menuName;
    (void)checked;
    (void)x;
    (void)y;
    return 0;
  }

  // Runs the dialog made from template `templateName` modally, owned by this one, with
  // `behaviour`; returns when it has ended. User-interface thread. Answers the child's EndDialog
  // result, or -1 when it could not be shown.
  virtual std::intptr_t RunModal(std::u16string_view templateName, DialogBehaviour& behaviour) {
    (void)templateName;
    (void)behaviour;
    return -1;
  }
};

// ---- Messages --------------------------------------------------------------------------------
// What a dialog's behaviour is told. Every dialog of the player receives the same set; a
// behaviour answers 0 for a message it does not handle.

// The dialog is being shown (also re-sent by a behaviour to restore its initial look).
struct InitDialog {};
// A timer the behaviour started has fired.
struct Timer {
  int id = 0;
};
// A control (or a menu item) was used; `code` is the control's notification (0 for a menu).
struct Command {
  ControlId id = 0;
  int code = 0;
};
// A horizontal scroll bar moved; `code` is a ScrollCode.
struct HScroll {
  ControlId id = 0;
  int code = 0;
};
// Files or directories were dropped on the window, in the order the user's shell gives them.
struct DropFiles {
  std::vector<std::u16string> paths;
};
// The right mouse button was released at a point of the client area.
struct RButtonUp {
  int x = 0;
  int y = 0;
};
// The user asked to close the window (close box, system menu, Alt+F4).
struct Close {};

using Message = std::variant<InitDialog, Timer, Command, HScroll, DropFiles, RButtonUp, Close>;

// The behaviour of one dialog: what it does with each message, through the controls of the
// `Dialog` it is given.
//
// Thread contract: the host calls OnMessage on the user-interface thread only, never after the
// dialog has ended, one message at a time except that a window system delivers the owner's
// messages (its timer, for one) while the behaviour runs a modal child or a popup menu. A behaviour
// may start threads that drive the controls (Dialog's methods are callable from any thread), and
// must have them finished before it is destroyed. The answer is the message's result (0 when
// unhandled).
class DialogBehaviour {
 public:
  virtual ~DialogBehaviour() = default;
  virtual std::intptr_t OnMessage(Dialog& dialog, const Message& message) = 0;
};

}  // namespace lumaro::platform::ui
