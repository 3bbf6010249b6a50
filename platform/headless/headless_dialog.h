#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace lumaro::platform::ui {

// The state of one control as the headless host keeps it.
struct ControlState {
  std::u16string text;
  bool visible = true;
  bool enabled = true;
  bool checked = false;
  std::vector<std::u16string> items;
  int selection = -1;
  int rangeMin = 0;
  int rangeMax = 0;
  int position = 0;
  int trackPosition = 0;
  // Every text written to the control, in order (SetText and SetPathText alike).
  std::vector<std::u16string> textHistory;
};

// A dialog without a window: controls live in memory, created on first use. It records what
// was written so tests can assert what the user saw, and tells an observer about every change
// so a terminal can draw it. Thread contract: as Dialog; the observer runs on the thread that
// made the change, after the dialog's lock is released.
class HeadlessDialog final : public Dialog {
 public:
  using Observer = std::function<void(ControlId id)>;
  static constexpr ControlId kCaptionId = -1;  // observer id of caption changes and repaints

  HeadlessDialog() = default;

  void SetObserver(Observer observer);
  // A tap on every text any HeadlessDialog of the process is given, for an account of what the
  // program showed (the tests' census of status texts); nullptr removes it. Called on the thread
  // that sets the text.
  using TextTap = void (*)(ControlId id, std::u16string_view text);
  static void SetTextTap(TextTap tap) noexcept;
  // A copy of a control's state (a default state for a control never touched).
  ControlState Control(ControlId id) const;
  std::vector<std::u16string> TextHistory(ControlId id) const;
  // Number of repaints requested so far.
  int RepaintCount() const;
  // Simulates the user dragging the thumb of a scroll bar to `position`.
  void DragThumb(ControlId id, int position);

  void SetCaption(std::u16string_view caption) override;
  std::u16string Caption() const override;
  void SetText(ControlId id, std::u16string_view text) override;
  void SetPathText(ControlId id, std::u16string_view path) override;
  std::u16string Text(ControlId id) const override;
  void Show(ControlId id, bool visible) override;
  void Enable(ControlId id, bool enabled) override;
  bool IsVisible(ControlId id) const override;
  bool IsEnabled(ControlId id) const override;
  void ComboReset(ControlId id) override;
  int ComboAdd(ControlId id, std::u16string_view item) override;
  int ComboCount(ControlId id) const override;
  std::u16string ComboItem(ControlId id, int index) const override;
  bool ComboSelect(ControlId id, int index) override;
  int ComboSelection(ControlId id) const override;
  void ScrollSetRange(ControlId id, int minimum, int maximum, bool redraw) override;
  bool ScrollRange(ControlId id, int* minimum, int* maximum) const override;
  void ScrollSetPosition(ControlId id, int position, bool redraw) override;
  int ScrollPosition(ControlId id) const override;
  bool ScrollTrackPosition(ControlId id, int* position) const override;
  void SetCheck(ControlId id, bool checked) override;
  bool IsChecked(ControlId id) const override;
  void Repaint() override;
  void AcceptDrops(bool accept) override;
  void EndDialog(std::intptr_t result) override;
  bool SetTimer(int id, unsigned milliseconds) override;
  void KillTimer(int id) override;
  bool ClientContains(int x, int y) const override;
  int TrackPopupMenu(std::u16string_view menuName, std::span<const ControlId> checked, int x,
                     int y) override;
  std::intptr_t RunModal(std::u16string_view templateName, DialogBehaviour& behaviour) override;

  // Timers: the period of timer `id`, 0 when it is not running.
  unsigned TimerPeriod(int id) const;
  // Client size for ClientContains (negative: every point is inside).
  void SetClientSize(int width, int height);
  // Popup menus: what the next TrackPopupMenu answers (0: dismissed without a choice), and the
  // menus shown so far with the ids that were checked.
  void SetMenuChoice(int id);
  struct MenuShown {
    std::u16string name;
    std::vector<ControlId> checked;
  };
  std::vector<MenuShown> MenusShown() const;
  // Modal children: the driver plays the user for a child dialog after its InitDialog (sending
  // messages to it); a child still running afterwards receives Close. Without a driver a child
  // is initialised and closed at once. The driver runs on the user-interface thread.
  using ModalDriver = std::function<void(std::u16string_view templateName, HeadlessDialog& child)>;
  void SetModalDriver(ModalDriver driver);
  // Template names of the modal children run so far, in order.
  std::vector<std::u16string> ModalsRun() const;

  // Message delivery. The behaviour receives the messages Send hands it, on the sending thread
  // (the user-interface thread of this host), one at a time.
  void Attach(DialogBehaviour* behaviour);
  // Delivers `message` and answers the behaviour's result. Not delivered (answer 0): anything
  // after the dialog has ended, DropFiles while drops are not accepted, anything before Attach.
  // A behaviour must not call Send from inside OnMessage (it calls its own handler instead).
  std::intptr_t Send(const Message& message);
  bool AcceptsDrops() const;
  bool Ended() const;
  // The result EndDialog was given (0 while the dialog runs).
  std::intptr_t EndResult() const;

 private:
  // Applies `change` to the control under the lock, then notifies the observer.
  template <class Change>
  void Update(ControlId id, Change&& change);
  template <class Read>
  auto Query(ControlId id, Read&& read) const;

  mutable std::mutex mutex_;
  std::map<ControlId, ControlState> controls_;
  std::u16string caption_;
  int repaints_ = 0;
  Observer observer_;
  DialogBehaviour* behaviour_ = nullptr;
  bool acceptsDrops_ = false;
  std::map<int, unsigned> timers_;
  int clientWidth_ = -1;
  int clientHeight_ = -1;
  int menuChoice_ = 0;
  std::vector<MenuShown> menusShown_;
  ModalDriver modalDriver_;
  std::vector<std::u16string> modalsRun_;
  bool ended_ = false;
  std::intptr_t endResult_ = 0;
  std::mutex delivery_;  // one message at a time
};

}  // namespace lumaro::platform::ui
